// Widening the address column of a database made before it held 255 characters: the SQLite rebuild keeps
// rows, index and triggers, and an address too long for the old column is refused naming it.
#include "db/addresscolumn.h"
#include "db/dbsession.h"
#include "db/tablescripts.h"

#include <gtest/gtest.h>

namespace {

std::string Joined(const TScriptLines& lines) {
    std::string out;
    for (const std::string& line : lines)
        out += line + "\n";
    return out;
}

/// A database whose site table was made with the 16-character address column.
std::unique_ptr<TDbSession> NarrowDatabase() {
    auto s = OpenSqliteSession(":memory:");
    TTableScript site;
    TableScript(TDbDialect::SQLite, "site", site);
    std::string create = Joined(site.Create);
    for (const std::string wide : {"VARCHAR(255)", "<= 255"})
        create.replace(create.find(wide) + wide.find("255"), 3, "16");
    s->Run(create);
    s->Run(Joined(site.Index));
    s->Run("INSERT INTO Site (CODE, IPaddr, Downtime) VALUES ('A1', '10.0.0.1', 5)");
    return s;
}

TEST(AddressColumn, SqliteRebuildWidensKeepsRowsIndexAndTriggersOnce) {
    auto s = NarrowDatabase();
    const std::string v6 = "INSERT INTO Site (CODE, IPaddr, Downtime) VALUES ('B2', "
                           "'2001:db8:ffff:ffff:ffff:ffff:ffff:ffff  ', 5)";
    ASSERT_EQ(AddressColumnSize(*s, TDbDialect::SQLite), 16);
    EXPECT_THROW(s->Run(v6), EDatabaseError) << "the old column refuses an IPv6 literal";

    const std::vector<std::string> done = WidenAddressColumn(*s, TDbDialect::SQLite);
    ASSERT_FALSE(done.empty());
    EXPECT_EQ(done.front(), "site.IPaddr: 16 -> 255 characters");
    EXPECT_EQ(AddressColumnSize(*s, TDbDialect::SQLite), 255);
    s->Run(v6);
    const TDbRows rows = s->Run("SELECT CODE, IPaddr FROM Site ORDER BY CODE");
    ASSERT_EQ(rows.Rows.size(), 2u) << "the old row was copied";
    EXPECT_EQ(rows.Rows[0][1].AsString(), "10.0.0.1");
    EXPECT_EQ(rows.Rows[1][1].AsString(), "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff") << "the trimming trigger runs";
    EXPECT_THROW(s->Run("INSERT INTO Site (CODE, IPaddr, Downtime) VALUES ('a1', '10.0.0.1', 1)"), EDatabaseError)
        << "the unique index is back";
    EXPECT_FALSE(s->TableExists("Site_narrow"));

    EXPECT_EQ(WidenAddressColumn(*s, TDbDialect::SQLite),
              std::vector<std::string>{"site.IPaddr holds 255 characters already: nothing to do"});
    EXPECT_NE(AddressTooLongText("x", 16).find("site.IPaddr"), std::string::npos);
}

} // namespace
