// Reading and widening site.IPaddr in each kind of database.
#include "db/addresscolumn.h"

#include "db/dbsession.h"
#include "db/tablescripts.h"
#include "platform/strutil.h"

#include <cstdlib>
#include <regex>

namespace {

const char* const SiteColumns = "CODE, sitename, IPaddr, Contact, Downtime, LastRTT, ext, email, owner, contactflag";

std::string Joined(const TScriptLines& lines) {
    std::string out;
    for (const std::string& line : lines)
        out += (out.empty() ? "" : "\n") + line;
    return out;
}

/// The first value of a one-row statement as text; empty when there is none.
std::string FirstText(TDbSession& session, const std::string& sql) {
    const TDbRows rows = session.Run(sql);
    if (rows.Rows.empty() || rows.Rows.front().empty() || rows.Rows.front().front().IsNull()) return {};
    return rows.Rows.front().front().AsString();
}

int SqliteSize(TDbSession& session) {
    const std::string sql = FirstText(session, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = 'Site' "
                                               "COLLATE NOCASE");
    std::smatch m;
    static const std::regex column(R"(IPaddr\s+VARCHAR\s*\(\s*(\d+)\s*\))", std::regex::icase);
    return std::regex_search(sql, m, column) ? std::atoi(m[1].str().c_str()) : 0;
}

/// The rebuild: the table's triggers go, the table is renamed, made anew with the wide column, filled
/// from the old one, and the old one (with its index) dropped before the index is made again.
std::vector<std::string> WidenSqlite(TDbSession& session) {
    TTableScript script;
    TableScript(TDbDialect::SQLite, "site", script);
    session.Run("DROP TRIGGER IF EXISTS site_canonical_insert");
    session.Run("DROP TRIGGER IF EXISTS site_canonical_update");
    session.Run("ALTER TABLE Site RENAME TO Site_narrow");
    session.Run(Joined(script.Create));
    session.Run(std::string("INSERT INTO Site (") + SiteColumns + ") SELECT " + SiteColumns + " FROM Site_narrow");
    session.Run("DROP TABLE Site_narrow");
    session.Run(Joined(script.Index));
    return {"rebuilt table Site with IPaddr VARCHAR(" + std::to_string(AddressColumnWidth) + ") and copied its rows"};
}

std::vector<std::string> WidenServer(TDbSession& session, TDbDialect dialect) {
    const std::string width = std::to_string(AddressColumnWidth);
    const std::string alter =
        dialect == TDbDialect::PostgreSQL
            ? "ALTER TABLE site ALTER COLUMN IPaddr TYPE CHAR(" + width + ") COLLATE " + kPostgresNoCase
            : "ALTER TABLE dbo.Site ALTER COLUMN IPaddr varchar(" + width + ") NOT NULL";
    session.Run(alter);
    return {alter};
}

} // namespace

int AddressColumnSize(TDbSession& session, TDbDialect dialect) {
    if (!session.TableExists("Site")) return 0;
    switch (dialect) {
    case TDbDialect::SQLite:
        return SqliteSize(session);
    case TDbDialect::PostgreSQL:
        return std::atoi(FirstText(session, "SELECT character_maximum_length FROM information_schema.columns WHERE "
                                            "table_name = 'site' AND column_name = 'ipaddr' AND table_schema = "
                                            "current_schema()")
                             .c_str());
    default:
        return std::atoi(FirstText(session, "SELECT COL_LENGTH('dbo.Site', 'IPaddr')").c_str());
    }
}

std::vector<std::string> WidenAddressColumn(TDbSession& session, TDbDialect dialect) {
    if (!session.TableExists("Site")) throw EDatabaseError("table site is missing: nothing to widen");
    const int size = AddressColumnSize(session, dialect);
    if (size >= AddressColumnWidth)
        return {"site.IPaddr holds " + std::to_string(size) + " characters already: nothing to do"};
    const bool sqlite = dialect == TDbDialect::SQLite;
    session.Run(sqlite ? "BEGIN IMMEDIATE" : dialect == TDbDialect::PostgreSQL ? "BEGIN" : "BEGIN TRANSACTION");
    std::vector<std::string> done;
    try {
        done = sqlite ? WidenSqlite(session) : WidenServer(session, dialect);
    } catch (...) {
        session.Run(sqlite || dialect == TDbDialect::PostgreSQL ? "ROLLBACK" : "ROLLBACK TRANSACTION");
        throw;
    }
    session.Run(sqlite || dialect == TDbDialect::PostgreSQL ? "COMMIT" : "COMMIT TRANSACTION");
    done.insert(done.begin(),
                "site.IPaddr: " + std::to_string(size) + " -> " + std::to_string(AddressColumnWidth) + " characters");
    return done;
}

std::string AddressTooLongText(const std::string& address, int size) {
    return "address \"" + address + "\" is longer than the " + std::to_string(size) +
           " characters column site.IPaddr holds; widen it with \"vkt-datutil widen-address\"";
}
