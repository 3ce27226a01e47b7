// The data module's connection and the statement pattern, on an embedded database.
#include "db/data.h"
#include "testutil.h"

#include <gtest/gtest.h>

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
