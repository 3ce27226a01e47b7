// Reading the data module's connection string, choosing the backend, and what each provider is
// given: server and port, ODBC connection strings, the embedded file, literals in statements.
#include "db/connstring.h"
#include "db/tablescripts.h"
#include "platform/progdir.h"
#include "testutil.h"

#include <gtest/gtest.h>

struct ParseCase {
    std::string Text;
    TConnectionSettings Expected;
};

class ConnectionStringParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ConnectionStringParse, ReadsTheFiveValues) {
    const TConnectionSettings s = ParseConnectionString(GetParam().Text);
    const TConnectionSettings& e = GetParam().Expected;
    EXPECT_EQ(s.Provider, e.Provider);
    EXPECT_EQ(s.UserID, e.UserID);
    EXPECT_EQ(s.Password, e.Password);
    EXPECT_EQ(s.InitialCatalog, e.InitialCatalog);
    EXPECT_EQ(s.DataSource, e.DataSource);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ConnectionStringParse,
    ::testing::Values(
        ParseCase{"Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Password=;Initial Catalog=Duskwater;"
                  "Data Source=(local)",
                  {"SQLOLEDB.1", "sa", "", "Duskwater", "(local)"}},
        ParseCase{"Provider=PostgreSQL;Persist Security Info=True;User ID=vkt;Password=a;b=c;Initial Catalog=db;"
                  "Data Source=h,5432",
                  {"PostgreSQL", "vkt", "a;b=c", "db", "h,5432"}},
        ParseCase{"provider=SQLite;USER ID=x;password=p w;initial catalog=/var/lib/vkt/vkt.db;data source=",
                  {"SQLite", "x", "p w", "/var/lib/vkt/vkt.db", ""}},
        ParseCase{"Password=;;Provider=SQLite", {"SQLite", "", ";", "", ""}}));

struct ServerCase {
    std::string Text, Host, Port;
};

class ServerSplit : public ::testing::TestWithParam<ServerCase> {};

TEST_P(ServerSplit, TakesThePortAfterACommaOrAColon) {
    const TServerAddress a = SplitServer(GetParam().Text);
    EXPECT_EQ(a.Host, GetParam().Host);
    EXPECT_EQ(a.Port, GetParam().Port);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ServerSplit,
    ::testing::Values(ServerCase{"db1", "db1", ""}, ServerCase{"db1,1433", "db1", "1433"},
                      ServerCase{" db1 , 1444 ", "db1", "1444"}, ServerCase{"db1:5432", "db1", "5432"},
                      ServerCase{"(local)", "localhost", ""}, ServerCase{"(LOCAL),1500", "localhost", "1500"},
                      ServerCase{"", "localhost", ""}, ServerCase{"[::1]:5433", "::1", "5433"},
                      ServerCase{"fe80::1", "fe80::1", ""}, ServerCase{"db1\\SQLEXPRESS", "db1\\SQLEXPRESS", ""},
                      ServerCase{"db1:http", "db1:http", ""}));

TEST(Provider, ChoosesTheDialectWithoutRegardToCase) {
    EXPECT_EQ(DialectOfProvider("SQLite"), TDbDialect::SQLite);
    EXPECT_EQ(DialectOfProvider("sqlite"), TDbDialect::SQLite);
    for (const char* p : {"SQLOLEDB", "SQLOLEDB.1", "sqloledb.1", "SQLNCLI11", "SQLNCLI", "MSOLEDBSQL", "MSOLEDBSQL19"})
        EXPECT_EQ(DialectOfProvider(p), TDbDialect::SqlServer) << p;
    EXPECT_EQ(DialectOfProvider("PostgreSQL"), TDbDialect::PostgreSQL);
    EXPECT_EQ(DialectOfProvider("MSDASQL.1"), TDbDialect::OdbcDsn);
    EXPECT_THROW(DialectOfProvider("Microsoft.Jet.OLEDB.4.0"), EDatabaseError);
    EXPECT_THROW(DialectOfProvider("SQLOLEDBX"), EDatabaseError);
}

TEST(OdbcString, NamesServerPortDatabaseAndLogin) {
    TConnectionSettings s{"SQLOLEDB.1", "sa", "p;w}d", "Duskwater", "(local)"};
    EXPECT_EQ(OdbcConnectString(TDbDialect::SqlServer, s, "/lib/libtdsodbc.so"),
              "Driver=/lib/libtdsodbc.so;Server=localhost;Port=1433;Database=Duskwater;UID=sa;PWD={p;w}}d};"
              "TDS_Version=7.4;ClientCharset=UTF-8;");
    s.DataSource = "db1\\SQLEXPRESS";
    EXPECT_EQ(OdbcConnectString(TDbDialect::SqlServer, s, "FreeTDS").find("Port="), std::string::npos)
        << "a named instance is found by name";
    s.DataSource = "db1:1500";
    EXPECT_NE(OdbcConnectString(TDbDialect::SqlServer, s, "FreeTDS").find("Server=db1;Port=1500;"), std::string::npos);

    const std::string pg = OdbcConnectString(TDbDialect::PostgreSQL, {"PostgreSQL", "u", "", "db", "pg1"}, "d");
    EXPECT_NE(pg.find("Server=pg1;Port=5432;Database=db;UID=u;PWD=;"), std::string::npos);
    EXPECT_NE(pg.find("DateStyle TO 'ISO, MDY'"), std::string::npos) << "literals are month/day/year";
    EXPECT_EQ(OdbcConnectString(TDbDialect::OdbcDsn, {"MSDASQL", "u", "p", "", " MyDsn "}, ""),
              "DSN=MyDsn;UID=u;PWD=p;");
}

TEST(SqliteFile, LivesInTheProgramDirectoryUnlessAPath) {
    TempDir dir;
    ScopedEnv home("VKT_HOME", dir.Path());
    EXPECT_EQ(SqliteFilePath("Duskwater"), ProgramDir() + "Duskwater.db");
    EXPECT_EQ(SqliteFilePath(""), ProgramDir() + "vkt.db");
    EXPECT_EQ(SqliteFilePath(" /var/lib/vkt/sites.db "), "/var/lib/vkt/sites.db");
}

TEST(Literal, DoublesApostrophesAndRefusesNul) {
    EXPECT_EQ(SQLLiteral(""), "''");
    EXPECT_EQ(SQLLiteral("O'Brien"), "'O''Brien'");
    EXPECT_EQ(SQLLiteral("''"), "''''''");
    EXPECT_EQ(SQLLiteral("a\\'b"), "'a\\''b'");
    EXPECT_THROW(SQLLiteral(std::string("x\0y", 3)), EArgumentError);
}

TEST(TableScripts, SqlServerGetsTheClassicTexts) {
    TTableScript s;
    ASSERT_TRUE(TableScript(TDbDialect::SqlServer, "alarms", s));
    EXPECT_EQ(s.Drop, (TScriptLines{"if exists (select * from sysobjects where id = object_id('dbo.alarms') and "
                                    "sysstat & 0xf = 3) drop table dbo.alarms"}));
    EXPECT_EQ(s.Create, (TScriptLines{"CREATE TABLE [dbo].[alarms] ( ", "    [Code] [varchar] (22) NOT NULL, ",
                                      "    [FailTime] [DATETIME] NOT NULL ", ") "}));
    EXPECT_EQ(s.Index,
              (TScriptLines{"CREATE UNIQUE INDEX ixPrimary ON [dbo].[alarms]([Code], [FailTime]) ON [PRIMARY] "}));
    ASSERT_TRUE(TableScript(TDbDialect::SqlServer, "site", s));
    EXPECT_EQ(s.Create.front(), "CREATE TABLE [dbo].[Site] ( ");
    EXPECT_EQ(s.Create[1], "    [CODE] [varchar] (12) NOT NULL, ");
    EXPECT_EQ(s.Create[5], "    [Downtime] [INTEGER] NOT NULL, ");
    EXPECT_EQ(s.Create[10], "    [contactflag] [INTEGER] NULL ");
    EXPECT_EQ(s.Index.front(), "CREATE UNIQUE INDEX ixPrimary ON [dbo].[site]([Code], [IPaddr]) ON [PRIMARY] ");
    ASSERT_TRUE(TableScript(TDbDialect::SqlServer, "vkt", s));
    EXPECT_EQ(s.Drop.front().substr(s.Drop.front().size() - 18), "drop table dbo.vkt");
    EXPECT_EQ(s.Index.front(), "CREATE UNIQUE INDEX ixPrimary ON [dbo].[VKT]([VKTID], [sitecode]) ON [PRIMARY] ");
    EXPECT_FALSE(TableScript(TDbDialect::SqlServer, "VKT", s));
}
