// A networked database as sites provision it: the tables made by an administrator, the daemon's
// login allowed only to read and write rows.
#include "dbfixture.h"

namespace {

// A fresh database with its tables, and a login role of its own that may only read and write rows.
class ProvisionedDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        Configure(admin, Backend::PostgreSQL, dir);
        ASSERT_TRUE(admin.ActivateConnection()) << admin.LastConnectionError();
        role = admin.DataBase + "_app";
        Admin("CREATE ROLE " + role + " LOGIN");
        Admin("REVOKE CREATE ON SCHEMA public FROM PUBLIC");
        Admin("GRANT SELECT, INSERT, UPDATE, DELETE ON alarms, codes, vkt, operator, site TO " + role);
        app.DBProvider = admin.DBProvider;
        app.DBServer = admin.DBServer;
        app.DataBase = admin.DataBase;
        app.DBUser = role;
    }
    void Admin(const std::string& sql) { ExecStatement(admin.adoQ2, {sql}); }

    TempDir dir;
    TVKTDataModule admin, app;
    std::string role;
};

} // namespace

TEST_F(ProvisionedDatabase, OpensWithRowRightsOnly) {
    // The site's own schema: tables present, their collation under a name of the site's choosing.
    Admin(std::string("ALTER COLLATION ") + kPostgresNoCase + " RENAME TO site_nocase");
    ASSERT_TRUE(app.ActivateConnection()) << app.LastConnectionError();
    ExecStatement(app.adoQ2, {"INSERT INTO codes (code, codevalue) VALUES ('Key', 'v')"});
    OpenStatement(app.adoQ1, {"SELECT codevalue FROM codes WHERE code = 'KEY '"});
    EXPECT_EQ(app.adoQ1.FieldByName("codevalue").AsString(), "v") << "the provisioned collation still applies";
}

TEST_F(ProvisionedDatabase, MissingTableThatCannotBeMadeIsNamedWithTheLackingRight) {
    Admin("DROP TABLE site");
    EXPECT_FALSE(app.ActivateConnection());
    const std::string error = app.LastConnectionError();
    for (const std::string& part : std::vector<std::string>{"\"site\"", "CREATE", "\"public\"", "\"" + role + "\""})
        EXPECT_NE(error.find(part), std::string::npos) << part << " not in: " << error;

    Admin("GRANT CREATE ON SCHEMA public TO " + role);
    ASSERT_TRUE(app.ActivateConnection()) << "with the right, the missing table is made: " << app.LastConnectionError();
    ExecStatement(app.adoQ2, {"INSERT INTO site (CODE, IPaddr, Downtime) VALUES ('s1', '127.0.0.1', 5)"});
}
