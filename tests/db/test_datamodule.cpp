// The data module's connection and the statement pattern, on an embedded database.
#include "db/data.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

class DataModuleConnection : public ::testing::Test {
protected:
    void SetUp() override {
        dm.DBProvider = "SQLite";
        dm.DataBase = dir.File("vkt.db");
    }
    TempDir dir;
    ScopedEnv home{"VKT_HOME", dir.Path()};
    TVKTDataModule dm;
};

} // namespace

TEST_F(DataModuleConnection, ActivatesAndReactivates) {
    EXPECT_FALSE(dm.conMain.Connected()) << "disconnected until activated";
    ASSERT_TRUE(dm.ActivateConnection()) << dm.LastConnectionError();
    EXPECT_TRUE(dm.conMain.Connected());
    ExecStatement(dm.adoQ2, {"INSERT INTO codes (code, codevalue) VALUES ('k', 'v')"});
    ASSERT_TRUE(dm.ActivateConnection()) << "a second activation closes and opens again";
    OpenStatement(dm.adoQ1, {"SELECT * FROM codes"});
    EXPECT_EQ(dm.adoQ1.RecordCount(), 1u);

    dm.DBProvider = "SQLOLEDBX";
    EXPECT_FALSE(dm.ActivateConnection());
    EXPECT_FALSE(dm.conMain.Connected());
    EXPECT_NE(dm.LastConnectionError().find("SQLOLEDBX"), std::string::npos);
    EXPECT_THROW(OpenStatement(dm.adoQ1, {"SELECT * FROM codes"}), EDatabaseError);
}

// A file deleted or replaced under the open connection is noticed at the next check, and activating
// again works on the file now at the path (recreated with its tables when it was deleted).
TEST_F(DataModuleConnection, NoticesTheFileGoneAndReopensWhatIsAtThePath) {
    const std::string path = dir.File("vkt.db");
    for (bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "replaced" : "deleted");
        ASSERT_TRUE(dm.ActivateConnection()) << dm.LastConnectionError();
        ExecStatement(dm.adoQ2, {"INSERT INTO codes (code, codevalue) VALUES ('k', 'v')"});
        EXPECT_TRUE(dm.conMain.Connected());
        if (replace) {
            TVKTDataModule other; // closed before the rename, so its rows are in the file itself
            other.DBProvider = "SQLite";
            other.DataBase = dir.File("other.db");
            ASSERT_TRUE(other.ActivateConnection()) << other.LastConnectionError();
            ExecStatement(other.adoQ2, {"INSERT INTO codes (code, codevalue) VALUES ('o1', 'v')"});
            ExecStatement(other.adoQ2, {"INSERT INTO codes (code, codevalue) VALUES ('o2', 'v')"});
            other.conMain.Close();
            std::filesystem::rename(dir.File("other.db"), path);
        } else {
            std::filesystem::remove(path);
        }
        EXPECT_FALSE(dm.conMain.Connected());
        ASSERT_TRUE(dm.ActivateConnection()) << dm.LastConnectionError();
        EXPECT_TRUE(dm.conMain.Connected());
        OpenStatement(dm.adoQ1, {"SELECT * FROM codes"});
        EXPECT_EQ(dm.adoQ1.RecordCount(), replace ? 2u : 0u);
        std::filesystem::remove(path);
        ASSERT_TRUE(dm.ActivateConnection());
    }
}

TEST_F(DataModuleConnection, StatementPatternShowsTheBusyCursorAroundEveryStatement) {
    ASSERT_TRUE(dm.ActivateConnection());
    std::string shown;
    SetBusyCursorHook([&shown](bool busy) { shown += busy ? "+" : "-"; });
    OpenStatement(dm.adoQ1, {"SELECT * FROM ", "  site "});
    EXPECT_EQ(dm.adoQ1.SQL.Text(), "SELECT * FROM \n  site ");
    EXPECT_THROW(ExecStatement(dm.adoQ2, {"INSERT INTO nosuchtable VALUES (1)"}), EDatabaseError);
    EXPECT_EQ(shown, "+-+-") << "the cursor comes back also when a statement fails";
    SetBusyCursorHook(nullptr);
}

TEST_F(DataModuleConnection, QueriesReadRowsByCaseInsensitiveNames) {
    ASSERT_TRUE(dm.ActivateConnection());
    ExecStatement(dm.adoQ2, {"INSERT INTO codes (code, codevalue, param) VALUES ('a', 'x: 1', NULL)"});
    ExecStatement(dm.adoQ2, {"INSERT INTO codes (code, codevalue, param) VALUES ('b', 'y', 'p')"});
    TDbQuery& q = dm.adoAlarms;
    EXPECT_TRUE(q.Eof()) << "a closed query has no row";
    EXPECT_THROW(q.FieldByName("code"), EDatabaseError);
    OpenStatement(q, {"SELECT * FROM codes ORDER BY code"});
    EXPECT_EQ(q.FieldByName("CODEVALUE").AsString(), "x: 1") << "a colon is plain text";
    EXPECT_TRUE(q.FieldByName("Param").IsNull());
    EXPECT_EQ(q.FindField("nosuch"), nullptr);
    q.Next();
    EXPECT_EQ(q.FieldByName("code").AsString(), "b");
    q.Next();
    EXPECT_TRUE(q.Eof());
    EXPECT_THROW(q.FieldByName("code"), EDatabaseError);
    q.Next();
    q.First();
    EXPECT_EQ(q.FieldByName("code").AsString(), "a");
    ExecStatement(q, {"DELETE FROM codes"});
    EXPECT_FALSE(q.Active()) << "execution leaves no row set";
}
