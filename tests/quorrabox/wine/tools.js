// JScript client of quorrabox.tools: creates it by ProgID, reads a real INI file (the first
// argument) and checks the error numbers a script sees. Every error is caught here, because an
// unhandled one would end the script silently; the last line is the sentinel "done".
var passed = 0, failed = 0;

function check(name, actual, expected) {
    if (String(actual) === String(expected)) {
        passed++;
    } else {
        failed++;
        WScript.Echo("FAILED " + name + ": got [" + actual + "], expected [" + expected + "]");
    }
}

// The error number of a call in hexadecimal ("80020003"), or 0. Codes of the object's own
// interface come through as they are; an unknown name is the script engine's error 438.
function errorOf(call) {
    try {
        call();
        return 0;
    } catch (e) {
        return (e.number >>> 0).toString(16);
    }
}

function descriptionOf(call) {
    try {
        call();
        return "";
    } catch (e) {
        return e.description;
    }
}

try {
    var tool = new ActiveXObject("quorrabox.tools");
    check("read before IniFileName",
          descriptionOf(function () { return tool.ReadIniString("System", "DBServer", "none"); }),
          "No INI file name set");
    tool.IniFileName = WScript.Arguments(0);
    check("ReadIniString", tool.ReadIniString("SYSTEM", "DBSERVER", "none"), "dbhost");
    check("ReadIniString default", tool.ReadIniString("System", "Missing", "none"), "none");
    check("ReadIniInteger hex", tool.ReadIniInteger("System", "NetPort", 8000), 8001);
    check("ReadIniInteger not a number", tool.ReadIniInteger("System", "PollDelay", 5), 5);
    check("ReadIniBool yes", tool.ReadIniBool("Flags", "Yes", 7), 1);
    check("ReadIniBool 2", tool.ReadIniBool("Flags", "Two", 0), 1);
    check("ReadIniBool 0", tool.ReadIniBool("Flags", "Zero", 1), 0);
    check("unknown member", errorOf(function () { return tool.NoSuchMember("a", "b", "c"); }), "800a01b6");
    check("reading IniFileName", errorOf(function () { return tool.IniFileName; }), "80020003");
    check("wrong argument count", errorOf(function () { return tool.ReadIniInteger("System"); }), "8002000e");
    check("IniClose", errorOf(function () { tool.IniClose(); }), 0);
} catch (e) {
    failed++;
    WScript.Echo("FAILED unexpected error " + (e.number >>> 0).toString(16) + ": " + e.description);
}

WScript.Echo(passed + " passed, " + failed + " failed");
WScript.Echo("done");
