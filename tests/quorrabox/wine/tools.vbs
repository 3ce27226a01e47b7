' VBScript client of quorrabox.tools: creates it by ProgID, reads a real INI file (the first
' argument) and checks the error numbers a script sees. Every error is handled here, because an
' unhandled one would end the script silently; the last line is the sentinel "done".
Option Explicit
On Error Resume Next

Dim passed, failed, tool, value
passed = 0
failed = 0

Sub Check(name, actual, expected)
    If CStr(actual) = CStr(expected) Then
        passed = passed + 1
    Else
        failed = failed + 1
        WScript.Echo "FAILED " & name & ": got [" & actual & "], expected [" & expected & "]"
    End If
End Sub

Set tool = CreateObject("quorrabox.tools")
Check "CreateObject", Err.Number, 0
Err.Clear

value = tool.ReadIniString("System", "DBServer", "none")
Check "read before IniFileName: number", Hex(Err.Number), "80004005"
Check "read before IniFileName: description", Err.Description, "No INI file name set"
Err.Clear

tool.IniFileName = WScript.Arguments(0)
Check "IniFileName put", Err.Number, 0
Check "ReadIniString", tool.ReadIniString("system", "dbserver", "none"), "dbhost"
Check "ReadIniString default", tool.ReadIniString("System", "Missing", "none"), "none"
Check "ReadIniString empty", tool.ReadIniString("System", "Empty", "none"), ""
Check "ReadIniInteger hex", tool.ReadIniInteger("System", "NetPort", 8000), 8001
Check "ReadIniInteger not a number", tool.ReadIniInteger("System", "PollDelay", 5), 5
Check "ReadIniBool yes", tool.ReadIniBool("Flags", "Yes", 0), 0
Check "ReadIniBool 2", tool.ReadIniBool("Flags", "Two", 0), 1
Check "ReadIniBool 0", tool.ReadIniBool("Flags", "Zero", 1), 0
Check "ReadIniBool hex", tool.ReadIniBool("Flags", "Hex", 0), 1
Check "no error so far", Err.Number, 0
Err.Clear

value = tool.NoSuchMember("System", "DBServer", "none")
Check "unknown member", Err.Number, 438
Err.Clear
value = tool.IniFileName
Check "reading IniFileName", Err.Number, 438
Err.Clear
value = tool.ReadIniString("System", "DBServer")
Check "wrong argument count", Err.Number, 450
Err.Clear

tool.IniClose
Check "IniClose", Err.Number, 0
value = tool.ReadIniInteger("System", "NetPort", 1)
Check "read after IniClose", Err.Description, "No INI file name set"
Err.Clear

Set tool = Nothing
WScript.Echo passed & " passed, " & failed & " failed"
WScript.Echo "done"
