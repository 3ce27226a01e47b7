// vkt-datutil end to end: restore, inspect, back up, clear and restore again on a real program
// directory, with the exit status of every step.
#include "db/pgserver.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>

extern char** environ;

namespace {

struct ToolRun {
    int Status = -1;
    std::string Out, Err;
};

/// Runs vkt-datutil with VKT_HOME=`home`, stdin from `input`, and captures its output.
ToolRun RunTool(const std::string& home, const std::vector<std::string>& args, const std::string& input = "/dev/null") {
    const std::string out = home + "/tool.out", err = home + "/tool.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // Sanitizer builds would report their leak suppressions on stderr, which the tests read.
    const char* lsan = std::getenv("LSAN_OPTIONS");
    std::vector<std::string> env = {"VKT_HOME=" + home,
                                    std::string("LSAN_OPTIONS=") + (lsan ? lsan : "") + ":print_suppressions=0"};
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("VKT_HOME=", 0) != 0 && std::string(*e).rfind("LSAN_OPTIONS=", 0) != 0)
            env.push_back(*e);
    std::vector<char*> argv{const_cast<char*>(VKT_DATUTIL_BINARY)}, envp;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    ToolRun run;
    if (posix_spawn(&pid, VKT_DATUTIL_BINARY, &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    run.Out = ReadFileText(out);
    run.Err = ReadFileText(err);
    return run;
}

/// The "Table Records" column of the info table's row for `table`.
std::string InfoCount(const std::string& info, const std::string& table) {
    std::istringstream lines(info);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name, count;
        if (words >> name >> count && name == table) return count;
    }
    return "?";
}

enum class Backend { SQLite, PostgreSQL };

class DatUtilCli : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        std::filesystem::create_directory(backup);
        std::string ini = "[System]\r\nDBProvider=SQLite\r\nDataBase=vkt\r\n";
        if (GetParam() == Backend::PostgreSQL) {
            TestPgServer& server = TestPgServer::Shared();
            ini = "[System]\r\nDBProvider=PostgreSQL\r\nDataBase=" + server.CreateDatabase() +
                  "\r\nDBServer=127.0.0.1," + std::to_string(server.Port()) + "\r\nDBUser=vkt\r\nDBPass=\r\n";
        }
        WriteFileText(home.File("vkt.ini"), ini);
        WriteFileText(home.File("dwater.ini"), "[System]\r\nBackupDir=" + backup + "\r\n");
    }
    ToolRun Run(const std::vector<std::string>& args) { return RunTool(home.Path(), args); }

    TempDir home;
    std::string backup = home.File("backup");
};

const char* const kAlarms =
    "Table=alarms\tRecords=2\r\nCode\tFailTime\r\ns1\t2026-12-07 09:05:03\r\ns2\t2027-01-01\r\n";
const char* const kCodes = "Table=codes\tRecords=1\r\ncode\tcodevalue\tparam\r\nPURGE\t7\t\r\n";

} // namespace

TEST_P(DatUtilCli, BackupClearRestoreCycleWithExitStatus) {
    WriteFileText(backup + "/alarms.svb", kAlarms);
    WriteFileText(backup + "/codes.svb", kCodes);
    ToolRun r = Run({"restore", "alarms", "codes"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "");

    r = Run({"info", "alarms", "codes", "site"});
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out.substr(0, r.Out.find('\n')), "Table Name  Table Records  Last Backup  Records");
    EXPECT_EQ(InfoCount(r.Out, "alarms") + InfoCount(r.Out, "codes") + InfoCount(r.Out, "site"), "210");
    EXPECT_NE(r.Out.find("None"), std::string::npos) << "site has no backup file";

    r = Run({"backup", "--all"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    for (const char* table : {"alarms", "codes", "vkt", "operator", "site"})
        EXPECT_TRUE(std::filesystem::exists(backup + "/" + table + ".svb")) << table;
    const std::string alarms = ReadFileText(backup + "/alarms.svb");
    EXPECT_EQ(alarms.substr(alarms.find("s1")), std::string(kAlarms).substr(std::string(kAlarms).find("s1")));

    r = Run({"clear", "--all"});
    EXPECT_EQ(r.Status, 2) << "no terminal to ask: --yes needed";
    EXPECT_EQ(InfoCount(Run({"info", "alarms"}).Out, "alarms"), "2");

    r = Run({"clear", "--yes", "--all"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(InfoCount(Run({"info", "alarms"}).Out, "alarms"), "0");

    r = Run({"restore", "--all"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(InfoCount(Run({"info", "--all"}).Out, "alarms"), "2");

    r = Run({"restore", "alarms"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("alarms: Duplicate records not restored: 2\n"), std::string::npos) << r.Err;
}

TEST_P(DatUtilCli, ApplyPlansAndChangesSitesAsTheFileSays) {
    const std::string v1 = "daemon: d1\nsites:\n  - code: a1\n    name: \"O'Hara: main\"\n    address: 10.0.0.1\n"
                           "    downtime: 5\n    email: ops@example.org\n    contactflag: 2\n"
                           "  - code: b2\n    address: probe-b.example\n    downtime: 0\n";
    const std::string v2 = "daemon: d1\nsites:\n  - code: A1\n    name: \"O'Hara: main\"\n    address: 10.0.0.9\n"
                           "    downtime: 05\n    email: ops@example.org\n    contactflag: 2\n"
                           "  - code: c3\n    address: 10.0.0.3\n    downtime: 1\n";
    struct Case {
        const char* File; // written to the file the arguments name, unless null
        std::string Text;
        std::vector<std::string> Args;
        int Status;
        const char* Out;
        const char* Err;
    };
    const std::vector<Case> cases = {
        {"v1.yaml", v1, {"apply", "v1.yaml", "--dry-run"}, 2, "create a1\ncreate b2\n", ""},
        {nullptr, "", {"export", "--daemon", "d1"}, 0, "daemon: d1\nsites: []\n", ""},
        {nullptr, "", {"apply", "v1.yaml"}, 0, "d1: 2 to create, 0 to update, 0 to delete, 0 unchanged\nApplied.", ""},
        {"v2.yaml", v2, {"apply", "v2.yaml"}, 0, "update A1: address\ncreate c3\n", ""},
        {nullptr, "", {"apply", "v2.yaml"}, 0, "not in the file, kept (--prune deletes them): b2\nNothing to do.", ""},
        {nullptr, "", {"apply", "v2.yaml", "--prune"}, 0, "delete b2\n", ""},
        {nullptr, "", {"apply", "v2.yaml", "--dry-run"}, 0, "Nothing to do.", ""},
        // Emptying the daemon by --prune wants --yes; a dry run says so too.
        {"empty.yaml",
         "daemon: d1\nsites: []\n",
         {"apply", "empty.yaml", "--prune"},
         1,
         "",
         "empty.yaml:2: sites: --prune would delete every site of daemon d1 (2), none of which the file lists"},
        {"other.yaml",
         "daemon: d1\nsites:\n  - code: z9\n    address: 10.0.0.9\n    downtime: 1\n",
         {"apply", "other.yaml", "--prune", "--dry-run"},
         1,
         "",
         "other.yaml:2: sites: --prune would delete every site"},
        {nullptr, "", {"apply", "empty.yaml", "--prune", "--yes", "--dry-run"}, 2, "delete a1\ndelete c3\n", ""},
        {"bad.yaml",
         "daemon: d1\ndaemon: d2\nsites: []\n",
         {"apply", "bad.yaml"},
         1,
         "",
         "bad.yaml:2: daemon: is given twice (first on line 1)\n"},
        {"bad.yaml",
         "sites:\n  - code: b2\n    address: 10.0.0.2\n    address: 10.0.0.3\n",
         {"apply", "bad.yaml"},
         1,
         "",
         "bad.yaml:4: address: is given twice (first on line 3)\n"},
        {"bad.yaml",
         "daemon: d1\nsites:\n  - code: b2\n    address: 10.0.0.2\n    downtime: 1\n  - code: \"B2 \"\n",
         {"apply", "bad.yaml"},
         1,
         "",
         "bad.yaml:6: code: is listed twice (first on line 3)\n"},
        {"bad.yaml",
         "daemon: d1\nsites: []\n---\ndaemon: d2\nsites: []\n",
         {"apply", "bad.yaml"},
         1,
         "",
         "bad.yaml:3: a second document"},
        {"bad.yaml",
         "daemon: d1\nsites: []\n...\n---\n",
         {"apply", "bad.yaml"},
         1,
         "",
         "bad.yaml:4: a second document"},
        {"bad.yaml",
         "daemon: d1\nsites:\n  - code: b2\n    name: Caf\xe9\n",
         {"apply", "bad.yaml"},
         1,
         "",
         "bad.yaml:4: not UTF-8 text"},
        {"bad.yaml",
         "daemon: d1\nsites:\n  - code: b2\n    address: 10.0.0.2\n    downtime: x\n",
         {"apply", "bad.yaml"},
         1,
         "",
         "bad.yaml:5: downtime: is not a whole number of minutes\n"},
        {"bad.yaml",
         "daemon: d1\nsites:\n  - code: b2\n    adress: 10.0.0.2\n",
         {"apply", "bad.yaml"},
         1,
         "",
         "bad.yaml:4: adress: is not a site field"},
        {"bad.yaml",
         "daemon: d1\nsites:\n  - code: b2\n    downtime: 1\n",
         {"apply", "bad.yaml"},
         1,
         "",
         "bad.yaml:3: address: is required\n"},
        {"bad.yaml", "daemon: d1\nsites:\n  - code: [b2\n", {"apply", "bad.yaml"}, 1, "", "bad.yaml:4: not YAML"},
        {nullptr, "", {"apply", "missing.yaml"}, 1, "", "missing.yaml: cannot be read"},
        {nullptr, "", {"apply"}, 2, "", "apply needs the file"},
        {nullptr, "", {"apply", "v2.yaml", "--force"}, 2, "", "not \"--force\""},
        {nullptr, "", {"export", "d1"}, 2, "", "export needs --daemon ID"},
    };
    for (const Case& c : cases) {
        if (c.File) WriteFileText(home.File(c.File), c.Text);
        std::vector<std::string> args = c.Args;
        if (args.size() > 1 && args[1].ends_with(".yaml")) args[1] = home.File(args[1]);
        const ToolRun r = Run(args);
        EXPECT_EQ(r.Status, c.Status) << c.Args[0] << " " << c.Args.back() << "\n" << r.Err;
        EXPECT_NE(r.Out.find(c.Out), std::string::npos) << r.Out;
        EXPECT_NE(r.Err.find(c.Err), std::string::npos) << r.Err;
    }

    // What export writes, apply takes back without a change.
    ToolRun r = Run({"export", "--daemon", "d1"});
    EXPECT_EQ(r.Out,
              "daemon: d1\nsites:\n  - code: a1\n    name: \"O'Hara: main\"\n    address: 10.0.0.9\n    downtime: 5\n"
              "    email: ops@example.org\n    contactflag: 2\n  - code: c3\n    address: 10.0.0.3\n    downtime: 1\n");
    WriteFileText(home.File("round.yaml"), r.Out);
    r = Run({"apply", home.File("round.yaml"), "--prune"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "daemon d1: 0 to create, 0 to update, 0 to delete, 2 unchanged\nNothing to do.\n");
}

// A site's tags are the file's list when it gives one, kept when it gives none, and go with the site.
TEST_P(DatUtilCli, TagsAreAppliedExportedAndGoWithTheirSite) {
    const std::string head = "daemon: d1\nsites:\n  - code: a1\n    address: 10.0.0.1\n    downtime: 5\n";
    struct Case {
        std::string File;
        std::vector<std::string> Extra; // arguments after the file
        int Status;
        const char* Out;
        const char* Err;
    };
    const std::vector<Case> cases = {
        {head + "    tags: [Wan, core]\n  - code: b2\n    address: 10.0.0.2\n    downtime: 5\n",
         {},
         0,
         "tags a1: core, wan\n1 sites' tags to set\nApplied.",
         ""},
        {head + "  - code: b2\n    address: 10.0.0.2\n    downtime: 5\n    tags:\n      - edge\n",
         {},
         0,
         "daemon d1: 0 to create, 0 to update, 0 to delete, 2 unchanged\ntags b2: edge\n",
         ""},
        {head + "    tags: [core, \"two words\"]\n",
         {},
         1,
         "",
         ":6: tags: the tag \"two words\" takes only letters, digits"},
        {head + "    tags: core\n", {}, 1, "", ":6: tags: is not a list"},
        {head + "    tags: []\n", {"--prune"}, 0, "tags a1: (none)\n", ""},
    };
    for (const Case& c : cases) {
        WriteFileText(home.File("tags.yaml"), c.File);
        std::vector<std::string> args = {"apply", home.File("tags.yaml")};
        args.insert(args.end(), c.Extra.begin(), c.Extra.end());
        const ToolRun r = Run(args);
        EXPECT_EQ(r.Status, c.Status) << c.File << r.Err;
        EXPECT_NE(r.Out.find(c.Out), std::string::npos) << r.Out;
        EXPECT_NE(r.Err.find(c.Err), std::string::npos) << r.Err;
    }
    // b2 was pruned with its tags: made again, it has none. The export applies back without a change.
    WriteFileText(home.File("tags.yaml"), head + "    tags: [core]\n  - code: b2\n    address: 10.0.0.2\n"
                                                 "    downtime: 5\n");
    ASSERT_EQ(Run({"apply", home.File("tags.yaml")}).Status, 0);
    ToolRun r = Run({"export", "--daemon", "d1"});
    EXPECT_EQ(r.Out, "daemon: d1\nsites:\n  - code: a1\n    address: 10.0.0.1\n    downtime: 5\n    tags: [core]\n"
                     "  - code: b2\n    address: 10.0.0.2\n    downtime: 5\n");
    WriteFileText(home.File("round.yaml"), r.Out);
    r = Run({"apply", home.File("round.yaml")});
    EXPECT_EQ(r.Out, "daemon d1: 0 to create, 0 to update, 0 to delete, 2 unchanged\nNothing to do.\n");
}

TEST_P(DatUtilCli, ExportReadsBackAsTheSameStringsInPythonAndPlansNothing) {
    // Values a YAML 1.1 or 1.2 reader would take, written plain, for a number, a boolean, a date or null.
    const std::vector<std::string> codes = {"0012", "on",    "1e3",  "0x1F", "NULL",  "~",   "Yes",   "n",
                                            ".inf", "-.Inf", ".NaN", "0o17", "1:20",  "+12", "1_000", "0b101",
                                            "3.",   "=",     "<<",   "-1",   "FALSE", "y",   "off",   "2001-12-14"};
    const std::vector<std::string> names = {"on",         "2001-12-14 21:59:43",
                                            "1:20:30.5",  "NO",
                                            "0012",       "@home",
                                            "%x",         "!tag",
                                            "&a",         "*b",
                                            "`tick",      "|",
                                            ">",          "{a}",
                                            "[b]",        "#c",
                                            "- d",        "? e",
                                            "a: b",       "a #b",
                                            "\u00e9 on",  "line\u2028sep",
                                            "nel\u0085x", "no\u00a0break"};
    const std::vector<std::string> addresses = {"1e3", "0x1F", "2001-12-14", "10.0.0.1"};
    std::string file = "daemon: \"0012\"\nsites:\n";
    std::string expected = "str:0012\n";
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const std::string& address = addresses[i % addresses.size()];
        file += "  - code: \"" + codes[i] + "\"\n    name: \"" + names[i] + "\"\n    address: \"" + address +
                "\"\n    downtime: 1\n";
        expected += "str:" + codes[i] + " str:" + names[i] + " str:" + address + "\n";
    }
    WriteFileText(home.File("odd.yaml"), file);
    ToolRun r = Run({"apply", home.File("odd.yaml")});
    ASSERT_EQ(r.Status, 0) << r.Err;

    r = Run({"export", "--daemon", "0012"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    WriteFileText(home.File("export.yaml"), r.Out);
    // Python's reader gives back every value as the string it was, and its writer's form of the same
    // data applies without a change.
    WriteFileText(home.File("read.py"), "import sys, yaml\n"
                                        "data = yaml.safe_load(open(sys.argv[1], encoding='utf-8'))\n"
                                        "out = open(sys.argv[2], 'w', encoding='utf-8')\n"
                                        "out.write('%s:%s\\n' % (type(data['daemon']).__name__, data['daemon']))\n"
                                        "for site in data['sites']:\n"
                                        "    out.write(' '.join('%s:%s' % (type(site[k]).__name__, site[k])\n"
                                        "                       for k in ('code', 'name', 'address')) + '\\n')\n"
                                        "yaml.safe_dump(data, open(sys.argv[3], 'w', encoding='utf-8'))\n");
    ASSERT_EQ(std::system(("python3 " + home.File("read.py") + " " + home.File("export.yaml") + " " +
                           home.File("read.txt") + " " + home.File("python.yaml"))
                              .c_str()),
              0)
        << r.Out;
    // Export lists by code as the database orders them: compare as sets of lines.
    const auto lines = [](const std::string& text) {
        std::vector<std::string> all;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            all.push_back(line);
        std::sort(all.begin(), all.end());
        return all;
    };
    EXPECT_EQ(lines(ReadFileText(home.File("read.txt"))), lines(expected)) << r.Out;
    const std::string unchanged = "daemon 0012: 0 to create, 0 to update, 0 to delete, " +
                                  std::to_string(codes.size()) + " unchanged\nNothing to do.\n";
    for (const char* again : {"export.yaml", "python.yaml"}) {
        r = Run({"apply", home.File(again), "--prune", "--dry-run"});
        EXPECT_EQ(r.Status, 0) << again << "\n" << r.Err;
        EXPECT_EQ(r.Out, unchanged) << again;
    }

    // Another daemon takes the sites up, by a short list (each code looked up) and by a long one
    // (every site read at once); codes match whatever their letter case.
    WriteFileText(home.File("short.yaml"),
                  "daemon: d3\nsites:\n  - code: \"ON\"\n    name: \"2001-12-14 21:59:43\"\n    address: \"0x1F\"\n"
                  "    downtime: 1\n");
    r = Run({"apply", home.File("short.yaml")});
    EXPECT_EQ(r.Out, "update ON: daemon\ndaemon d3: 0 to create, 1 to update, 0 to delete, 0 unchanged\nApplied.\n")
        << r.Err;
    std::string longList = "daemon: d2\nsites:\n";
    for (int i = 0; i < 80; ++i)
        longList +=
            "  - code: n" + std::to_string(i) + "\n    address: 10.0.1." + std::to_string(i) + "\n    downtime: 1\n";
    longList += "  - code: \"0012\"\n    name: \"on\"\n    address: \"1e3\"\n    downtime: 2\n";
    WriteFileText(home.File("long.yaml"), longList);
    r = Run({"apply", home.File("long.yaml")});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("\nupdate 0012: downtime, daemon\ndaemon d2: 80 to create, 1 to update, 0 to delete, 0 "
                         "unchanged\nApplied.\n"),
              std::string::npos)
        << r.Out;
}

// Tokens and users from a shell on both backends: roles by name, --write as before (admin), a user's
// password from stdin, and the refusals with their exit status.
TEST_P(DatUtilCli, TokensAndUsersCarryTheirRoles) {
    WriteFileText(home.File("password"), "pass word\n");
    struct Case {
        std::vector<std::string> Args;
        bool Password; // stdin holds one; else it is empty
        int Status;
        std::string Out, Err; // found in stdout and stderr
    };
    const std::vector<Case> cases = {
        {{"token", "add", "ops", "--role", "operator"}, false, 0, "vkt_", "Token ops added (operator)."},
        {{"token", "add", "ci", "--write"}, false, 0, "vkt_", "Token ci added (admin)."},
        {{"token", "add", "view"}, false, 0, "vkt_", "Token view added (viewer)."},
        {{"token", "add", "x", "--role", "root"}, false, 2, "", "token add needs one NAME"},
        {{"token", "list"},
         false,
         0,
         "ops                             operator\nview                            viewer\n",
         ""},
        {{"user", "add", "ana"}, true, 2, "", "user add needs one NAME and --role"},
        {{"user", "add", "ana", "--write"}, true, 2, "", "user add needs one NAME and --role"},
        {{"user", "add", "ana", "--role", "admin"}, false, 1, "", "A password is 1 to 256 bytes."},
        {{"user", "add", "ana", "--role", "admin"}, true, 0, "", "User ana added (admin)."},
        {{"user", "add", "ana", "--role", "viewer"}, true, 1, "", "A user named ana exists already."},
        {{"user", "list"}, false, 0, "ana                             admin\n", ""},
        {{"user", "remove", "ana"}, false, 0, "", "User ana removed."},
        {{"user", "remove", "ana"}, false, 1, "", "No user is named ana."},
    };
    for (const Case& c : cases) {
        const ToolRun r = RunTool(home.Path(), c.Args, c.Password ? home.File("password") : "/dev/null");
        std::string label;
        for (const std::string& a : c.Args)
            label += a + " ";
        EXPECT_EQ(r.Status, c.Status) << label << r.Err;
        EXPECT_NE(r.Out.find(c.Out), std::string::npos) << label << r.Out;
        EXPECT_NE(r.Err.find(c.Err), std::string::npos) << label << r.Err;
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, DatUtilCli, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return info.param == Backend::SQLite ? "SQLite" : "PostgreSQL"; });

TEST(DatUtilCliUsage, RefusalsAndTheirExitStatus) {
    TempDir home;
    WriteFileText(home.File("vkt.ini"), "[System]\r\nDBProvider=SQLite\r\nDataBase=vkt\r\n");
    WriteFileText(home.File("dwater.ini"), "[System]\r\nBackupDir=" + home.File("missing") + "\r\n");
    struct Case {
        std::vector<std::string> Args;
        int Status;
        const char* Err;
    };
    const std::vector<Case> cases = {
        {{}, 2, "no command given"},
        {{"import", "--all"}, 2, "unknown command \"import\""},
        {{"backup"}, 2, "name the tables or give --all"},
        {{"backup", "--all", "site"}, 2, "name the tables or give --all"},
        {{"backup", "sites"}, 2, "unknown table \"sites\""},
        {{"backup", "site"}, 1, "the backup directory"},
        {{"restore", "site"}, 1, "site: The file \""},
        {{"--help"}, 0, ""},
    };
    for (const Case& c : cases) {
        const ToolRun r = RunTool(home.Path(), c.Args);
        EXPECT_EQ(r.Status, c.Status) << c.Err;
        EXPECT_NE(r.Err.find(c.Err), std::string::npos) << r.Err;
    }
}
