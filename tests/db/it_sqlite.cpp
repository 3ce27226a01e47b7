// The embedded database file: made on first connection, shared by threads and processes at once,
// and still an ordinary file for the stock sqlite3 shell.
#include "db/common.h"
#include "dbfixture.h"
#include "platform/datetime.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

namespace {

struct ShellResult {
    int Status = -1;
    std::string Output;
};

// Runs SQL text through the stock sqlite3 shell on the file.
ShellResult Shell(const std::string& file, const std::string& sql, const TempDir& dir) {
    const std::string script = dir.File("shell.sql");
    WriteFileText(script, ".timeout 5000\n" + sql + "\n");
    const std::string command = "sqlite3 -bail '" + file + "' < '" + script + "' 2>&1";
    ShellResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe))
        result.Output += buffer;
    result.Status = pclose(pipe);
    return result;
}

// Inserts `count` alarms of one code prefix on its own connection.
void InsertAlarms(const std::string& file, const std::string& prefix, int count) {
    TVKTDataModule dm;
    dm.DBProvider = "SQLite";
    dm.DataBase = file;
    if (!dm.ActivateConnection()) throw EDatabaseError(dm.LastConnectionError());
    const TDateTime t = EncodeDateTime(2026, 12, 7, 9, 5, 3);
    for (int i = 0; i < count; ++i)
        ExecStatement(dm.adoQ2, {"INSERT INTO alarms (Code, FailTime) VALUES (" +
                                 SQLLiteral(prefix + std::to_string(i)) + ", '" + FormatSQLDate(false, t) + "')"});
}

class EmbeddedFile : public DataModuleOn {};

} // namespace

TEST_P(EmbeddedFile, StaysUsableFromTheStockShell) {
    Exec({"INSERT INTO alarms (Code, FailTime) VALUES ('a1 ', '12/7/2026 09:05:03')"});
    Exec({"INSERT INTO site (CODE, IPaddr, Downtime) VALUES ('a1', '127.0.0.1', 5)"});

    const ShellResult read =
        Shell(dm.DataBase, "SELECT Code || '|' || FailTime FROM alarms; PRAGMA integrity_check;", dir);
    EXPECT_EQ(read.Status, 0) << read.Output;
    EXPECT_EQ(read.Output, "a1|2026-12-07 09:05:03\nok\n") << "stored canonical: no trailing blank, ISO date";

    const ShellResult insert = Shell(dm.DataBase,
                                     "INSERT INTO site (CODE, IPaddr, Downtime) VALUES ('b2  ', '127.0.0.2', 3);\n"
                                     "INSERT INTO VKT (VKTID, sitecode) VALUES ('D1', 'B2');\n"
                                     "INSERT INTO alarms (Code, FailTime) VALUES ('b2', '1/2/2027 10:00');\n"
                                     "PRAGMA integrity_check;",
                                     dir);
    EXPECT_EQ(insert.Status, 0) << insert.Output;
    EXPECT_EQ(insert.Output, "ok\n");
    EXPECT_EQ(Open({"SELECT VKT.sitecode FROM VKT WHERE VKTID = 'd1' "}).RecordCount(), 1u);
    EXPECT_EQ(VarToStrTrim(Open({"SELECT * FROM site WHERE code = 'B2' "}).FieldByName("IPaddr")), "127.0.0.2");
    EXPECT_EQ(Open({"SELECT * FROM alarms WHERE FailTime > '1/1/2027 00:00:00' "}).RecordCount(), 1u);

    // The shell's own collations refuse what vkt refuses.
    EXPECT_NE(
        Shell(dm.DataBase, "INSERT INTO site (CODE, IPaddr, Downtime) VALUES ('A1', '127.0.0.1', 1);", dir).Status, 0);
    EXPECT_NE(
        Shell(dm.DataBase, "INSERT INTO site (CODE, IPaddr, Downtime) VALUES ('a1 ', '127.0.0.1', 1);", dir).Status, 0);
    EXPECT_NE(Shell(dm.DataBase, "INSERT INTO alarms (Code, FailTime) VALUES ('x', 'yesterday');", dir).Status, 0);
    EXPECT_NE(
        Shell(dm.DataBase, "INSERT INTO site (CODE, IPaddr, Downtime) VALUES ('c3', '127.0.0.3', 'x');", dir).Status,
        0);
    EXPECT_EQ(Count("site"), 2);
}

TEST_P(EmbeddedFile, ThreadsAndProcessesWriteAtTheSameTime) {
    const std::string file = dm.DataBase;
    dm.conMain.Close();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int status = 0;
        try {
            InsertAlarms(file, "p", 150);
        } catch (...) {
            status = 1;
        }
        _exit(status);
    }
    std::string failure;
    auto writer = [&](const char* prefix) {
        try {
            InsertAlarms(file, prefix, 150);
        } catch (const std::exception& e) {
            failure = e.what();
        }
    };
    std::thread first(writer, "t"), second(writer, "u");
    first.join();
    second.join();
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(failure, "");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(dm.ActivateConnection());
    EXPECT_EQ(Count("alarms"), 450);
    EXPECT_EQ(VarToStrTrim(Open({"PRAGMA journal_mode"}).Value(0)), "wal");
}

TEST_P(EmbeddedFile, LivesInTheProgramDirectoryUnlessANamedPath) {
    ScopedEnv home("VKT_HOME", dir.Path());
    TVKTDataModule module;
    module.DBProvider = "sqlite";
    module.DataBase = "Duskwater";
    ASSERT_TRUE(module.ActivateConnection()) << module.LastConnectionError();
    EXPECT_TRUE(std::filesystem::exists(dir.File("Duskwater.db")));
    OpenStatement(module.adoQ1, {"SELECT COUNT(*) FROM sqlite_master WHERE type = 'index' AND name LIKE 'ixPrimary%'"});
    EXPECT_EQ(module.adoQ1.Value(0).AsInteger(), 5);

    module.DataBase = dir.File("missing/dir/vkt.db");
    EXPECT_FALSE(module.ActivateConnection());
    EXPECT_NE(module.LastConnectionError().find("missing/dir/vkt.db"), std::string::npos);
    EXPECT_FALSE(module.conMain.Connected());
}

INSTANTIATE_TEST_SUITE_P(Backends, EmbeddedFile, ::testing::Values(Backend::SQLite), BackendName);
