// The five tables, described once, and their scripts in each dialect.
//
// SQL Server gets the scripts exactly as the system has always run them. The embedded database and
// PostgreSQL get their own DDL for the same tables, written so that the daemon's statements mean
// there what they mean on SQL Server:
//  - text matches without regard to letter case and trailing blanks. SQLite: columns use the
//    built-in NOCASE collation, triggers strip trailing blanks from stored values, and vkt's own
//    connections refine NOCASE to also ignore trailing blanks in the values they compare with
//    (see sqlitecollation.cpp). PostgreSQL: blank-padded CHAR columns, which compare without
//    trailing blanks, with a case-insensitive ICU collation.
//  - DATETIME columns take 'm/d/yyyy hh:nn:ss' literals. SQLite: triggers store every date as
//    "yyyy-mm-dd hh:nn:ss", so text order is date order, and vkt's connections refine the column's
//    RTRIM collation to compare literals in either form as dates. PostgreSQL: TIMESTAMP columns
//    with the session's date style set to month/day/year.
#include "db/tablescripts.h"

#include "db/dbsession.h"
#include "db/sqlitecollation.h"
#include "platform/strutil.h"

#include <cctype>

const char* const kPostgresNoCase = "vkt_nocase";

namespace {

enum class ColKind { Varchar, Integer, DateTime };

struct ColumnDef {
    const char* Name;
    ColKind Kind;
    int Size;
    bool Nullable;
};

struct TableDef {
    const char* Key;        // lower-case name, as the data utilities list it
    const char* CreateName; // as the create statement spells it
    const char* IndexTable; // as the index statement spells it
    std::vector<ColumnDef> Columns;
    std::vector<const char*> IndexColumns;
};

const std::vector<TableDef>& Tables() {
    static const std::vector<TableDef> tables = {
        {"alarms",
         "alarms",
         "alarms",
         {{"Code", ColKind::Varchar, 22, false}, {"FailTime", ColKind::DateTime, 0, false}},
         {"Code", "FailTime"}},
        {"codes",
         "codes",
         "codes",
         {{"code", ColKind::Varchar, 20, false},
          {"codevalue", ColKind::Varchar, 30, false},
          {"param", ColKind::Varchar, 20, true}},
         {"code"}},
        {"vkt",
         "VKT",
         "VKT",
         {{"VKTID", ColKind::Varchar, 20, false}, {"sitecode", ColKind::Varchar, 30, false}},
         {"VKTID", "sitecode"}},
        {"operator",
         "operator",
         "operator",
         {{"SurName", ColKind::Varchar, 20, false},
          {"FirstName", ColKind::Varchar, 20, false},
          {"email", ColKind::Varchar, 40, true},
          {"ext", ColKind::Varchar, 40, true},
          {"contactflag", ColKind::Integer, 0, true}},
         {"SurName", "FirstName"}},
        {"site",
         "Site",
         "site",
         {{"CODE", ColKind::Varchar, 12, false},
          {"sitename", ColKind::Varchar, 20, true},
          {"IPaddr", ColKind::Varchar, AddressColumnWidth, false}, // an IPv6 literal or a long host name
          {"Contact", ColKind::Varchar, 30, true},
          {"Downtime", ColKind::Integer, 0, false},
          {"LastRTT", ColKind::Integer, 0, true},
          {"ext", ColKind::Varchar, 40, true},
          {"email", ColKind::Varchar, 50, true},
          {"owner", ColKind::Varchar, 60, true},
          {"contactflag", ColKind::Integer, 0, true}},
         {"Code", "IPaddr"}},
    };
    return tables;
}

const TableDef* FindTable(const std::string& key) {
    for (const TableDef& table : Tables())
        if (key == table.Key) return &table;
    return nullptr;
}

std::string Join(const std::vector<const char*>& names, const char* open, const char* close) {
    std::string out;
    for (const char* name : names)
        out += (out.empty() ? "" : ", ") + std::string(open) + name + close;
    return out;
}

std::string Nullity(const ColumnDef& c) {
    return c.Nullable ? "NULL" : "NOT NULL";
}

// --- SQL Server: the scripts as they have always been -------------------------------------------

std::string TsqlColumn(const ColumnDef& c) {
    switch (c.Kind) {
    case ColKind::Varchar:
        return "[" + std::string(c.Name) + "] [varchar] (" + std::to_string(c.Size) + ") " + Nullity(c);
    case ColKind::Integer:
        return "[" + std::string(c.Name) + "] [INTEGER] " + Nullity(c);
    case ColKind::DateTime:
        return "[" + std::string(c.Name) + "] [DATETIME] " + Nullity(c);
    }
    return {};
}

TTableScript TsqlScript(const TableDef& t) {
    const std::string key = t.Key;
    TTableScript s;
    s.Drop = {"if exists (select * from sysobjects where id = object_id('dbo." + key +
              "') and sysstat & 0xf = 3) drop table dbo." + key};
    s.Create = {"CREATE TABLE [dbo].[" + std::string(t.CreateName) + "] ( "};
    for (std::size_t i = 0; i < t.Columns.size(); ++i)
        s.Create.push_back("    " + TsqlColumn(t.Columns[i]) + (i + 1 < t.Columns.size() ? ", " : " "));
    s.Create.push_back(") ");
    s.Index = {"CREATE UNIQUE INDEX ixPrimary ON [dbo].[" + std::string(t.IndexTable) + "](" +
               Join(t.IndexColumns, "[", "]") + ") ON [PRIMARY] "};
    return s;
}

// --- SQLite ------------------------------------------------------------------------------------

// A GLOB pattern for a date or time form: its letters stand for digits.
std::string GlobOf(const std::string& form) {
    std::string glob;
    for (char c : form)
        glob += std::isalpha(static_cast<unsigned char>(c)) ? std::string("[0-9]") : std::string(1, c);
    return glob;
}

// substr() of a field of a date form (the letter's run of digits).
std::string FieldOf(const std::string& form, char letter) {
    const auto first = form.find(letter);
    const auto count = form.find_last_of(letter) - first + 1;
    return "substr(x, " + std::to_string(first + 1) + ", " + std::to_string(count) + ")";
}

// The canonical "yyyy-mm-dd hh:nn:ss" text of a date in one of the written forms of sqlitecollation.h, NULL for text
// that is not exactly such a date or names no real day or time; numbers are left as they are. The text must be covered
// by the date and the time exactly (their lengths add up to its length).
std::string SqliteCanonicalDate(const std::string& value) {
    std::string dateLength = "CASE", date = "CASE", timeLength = "CASE", time = "CASE";
    for (const std::string form : kSqlDateForms) {
        const std::string when = " WHEN x GLOB '" + GlobOf(form) + "*' THEN ";
        dateLength += when + std::to_string(form.size());
        date += when + "printf('%04d-%02d-%02d', " + FieldOf(form, 'y') + ", " + FieldOf(form, 'm') + ", " +
                FieldOf(form, 'd') + ")";
    }
    for (const std::string form : kSqlTimeForms) {
        const std::string when = " WHEN x GLOB '*[ T]" + GlobOf(form) + "' THEN ";
        timeLength += when + std::to_string(form.size() + 1);
        time += when + (form.rfind("hh", 0) == 0 ? "" : "'0' || ") + "substr(x, -" + std::to_string(form.size()) + ")" +
                (form.find('s') == std::string::npos ? " || ':00'" : "");
    }
    dateLength += " ELSE -1000 END";
    date += " END";
    timeLength += " ELSE 0 END";
    time += " ELSE '00:00:00' END";
    return "(SELECT CASE WHEN x IS NULL OR typeof(x) <> 'text' THEN x"
           " WHEN dl + tl = length(x) AND datetime(c, '+0 days') = c THEN c END FROM (SELECT x, " +
           dateLength + " AS dl, " + timeLength + " AS tl, " + date + " || ' ' || " + time + " AS c FROM (SELECT " +
           value + " AS x)))";
}

std::string SqliteColumn(const ColumnDef& c) {
    const std::string name = c.Name;
    switch (c.Kind) {
    case ColKind::Varchar:
        return name + " VARCHAR(" + std::to_string(c.Size) + ") COLLATE NOCASE " + Nullity(c) +
               " CHECK (length(rtrim(" + name + ", ' ')) <= " + std::to_string(c.Size) + ")";
    case ColKind::Integer:
        return name + " INTEGER " + Nullity(c) + " CHECK (typeof(" + name + ") IN ('integer', 'null'))";
    case ColKind::DateTime:
        return name + " DATETIME COLLATE RTRIM " + Nullity(c);
    }
    return {};
}

// A trigger that keeps stored values canonical after an insert or an update: text without trailing
// blanks, dates as "yyyy-mm-dd hh:nn:ss"; text that is no date is refused.
TScriptLines SqliteCanonicalTrigger(const TableDef& t, const char* event) {
    const std::string table = t.CreateName;
    TScriptLines lines = {"CREATE TRIGGER " + std::string(t.Key) + "_canonical_" + event + " AFTER " +
                          UpperCase(event) + " ON " + table + " BEGIN "};
    std::string sets, differs;
    for (const ColumnDef& c : t.Columns) {
        const std::string name = c.Name;
        std::string canonical;
        if (c.Kind == ColKind::Varchar) canonical = "rtrim(NEW." + name + ", ' ')";
        if (c.Kind == ColKind::DateTime) {
            canonical = SqliteCanonicalDate("NEW." + name);
            lines.push_back("  SELECT RAISE(ABORT, '" + table + "." + name +
                            ": not a valid date and time') WHERE NEW." + name + " IS NOT NULL AND " + canonical +
                            " IS NULL; ");
        }
        if (canonical.empty()) continue;
        sets += (sets.empty() ? "" : ", ") + name + " = " + canonical;
        differs += (differs.empty() ? "" : " OR ") + name + " COLLATE BINARY IS NOT " + canonical;
    }
    lines.push_back("  UPDATE " + table + " SET " + sets + " WHERE rowid = NEW.rowid AND (" + differs + "); ");
    lines.push_back("END");
    return lines;
}

TTableScript SqliteScript(const TableDef& t) {
    TTableScript s;
    s.Drop = {"DROP TABLE IF EXISTS " + std::string(t.CreateName)};
    s.Create = {"CREATE TABLE " + std::string(t.CreateName) + " ( "};
    for (std::size_t i = 0; i < t.Columns.size(); ++i)
        s.Create.push_back("    " + SqliteColumn(t.Columns[i]) + (i + 1 < t.Columns.size() ? ", " : " "));
    s.Create.push_back("); ");
    for (const char* event : {"insert", "update"}) {
        TScriptLines trigger = SqliteCanonicalTrigger(t, event);
        trigger.back() += "; ";
        s.Create.insert(s.Create.end(), trigger.begin(), trigger.end());
    }
    s.Index = {"CREATE UNIQUE INDEX ixPrimary_" + std::string(t.Key) + " ON " + t.CreateName + " (" +
               Join(t.IndexColumns, "", "") + ") "};
    return s;
}

// --- PostgreSQL --------------------------------------------------------------------------------

std::string PostgresColumn(const ColumnDef& c) {
    const std::string name = c.Name;
    switch (c.Kind) {
    case ColKind::Varchar:
        return name + " CHAR(" + std::to_string(c.Size) + ") COLLATE " + kPostgresNoCase + " " + Nullity(c);
    case ColKind::Integer:
        return name + " INTEGER " + Nullity(c);
    case ColKind::DateTime:
        return name + " TIMESTAMP(0) " + Nullity(c);
    }
    return {};
}

TTableScript PostgresScript(const TableDef& t) {
    TTableScript s;
    s.Drop = {"DROP TABLE IF EXISTS " + std::string(t.CreateName)};
    s.Create = {"CREATE TABLE " + std::string(t.CreateName) + " ( "};
    for (std::size_t i = 0; i < t.Columns.size(); ++i)
        s.Create.push_back("    " + PostgresColumn(t.Columns[i]) + (i + 1 < t.Columns.size() ? ", " : " "));
    // Every scan writes LastRTT of every site that answered. With half of each page left free, the new
    // version of a row goes beside the old one and the index, searched under the case-insensitive
    // collation at a cost, is left alone; the old version is pruned from the page by the next scan's.
    s.Create.push_back(std::string(t.Key) == "site" ? ") WITH (fillfactor = 50) " : ") ");
    s.Index = {"CREATE UNIQUE INDEX ixPrimary_" + std::string(t.Key) + " ON " + t.CreateName + " (" +
               Join(t.IndexColumns, "", "") + ") "};
    return s;
}

std::string JoinLines(const TScriptLines& lines) {
    std::string out;
    for (const std::string& line : lines)
        out += (out.empty() ? "" : "\n") + line;
    return out;
}

std::string Quoted(const std::string& name) {
    return "\"" + name + "\"";
}

// "table \"site\"" or "tables \"alarms\", \"site\"", named as the server stores them: PostgreSQL folds
// to lower case, SQL Server keeps the create statement's spelling in schema dbo.
std::string TablesText(const std::vector<const TableDef*>& tables, TDbDialect dialect) {
    std::string names;
    for (const TableDef* table : tables)
        names += (names.empty() ? "" : ", ") +
                 Quoted(dialect == TDbDialect::PostgreSQL ? table->Key : "dbo." + std::string(table->CreateName));
    return (tables.size() == 1 ? "table " : "tables ") + names;
}

[[noreturn]] void CannotCreate(const std::string& what, const std::string& lacking) {
    throw EDatabaseError("Missing " + what + " cannot be created: " + lacking + ".");
}

// The value of `column` in the first row of a one-row statement; null when there is none.
Variant FirstValue(TDbSession& session, const std::string& sql, const char* column) {
    TDbRows rows = session.Run(sql);
    for (std::size_t i = 0; i < rows.Columns.size() && !rows.Rows.empty(); ++i)
        if (LowerCase(rows.Columns[i].Name) == column) return rows.Rows.front()[i];
    return Variant();
}

// PostgreSQL makes new objects in the first schema of the search path, which needs the CREATE right there.
void RequirePostgresCreateRight(TDbSession& session, const std::string& what) {
    const std::string role = FirstValue(session, "SELECT current_user AS who", "who").AsString();
    const Variant schema = FirstValue(session, "SELECT current_schema() AS place", "place");
    if (schema.IsNull()) CannotCreate(what, "no schema of the search path of role " + Quoted(role) + " exists");
    const std::string may = FirstValue(session,
                                       "SELECT CASE WHEN has_schema_privilege(current_schema(), 'CREATE') THEN 1 "
                                       "ELSE 0 END AS may",
                                       "may")
                                .AsString();
    if (may != "1")
        CannotCreate(what, "role " + Quoted(role) + " lacks the CREATE right on schema " + Quoted(schema.AsString()));
}

// SQL Server needs the CREATE TABLE right in the database and the ALTER right on schema dbo.
void RequireSqlServerCreateRight(TDbSession& session, const std::string& what) {
    const std::string login = FirstValue(session, "SELECT SUSER_SNAME() AS who", "who").AsString();
    const std::string database = FirstValue(session, "SELECT DB_NAME() AS place", "place").AsString();
    if (FirstValue(session, "SELECT HAS_PERMS_BY_NAME(DB_NAME(), 'DATABASE', 'CREATE TABLE') AS may", "may")
            .AsString() != "1")
        CannotCreate(what, "login " + Quoted(login) + " lacks the CREATE TABLE right in database " + Quoted(database));
    if (FirstValue(session, "SELECT HAS_PERMS_BY_NAME('dbo', 'SCHEMA', 'ALTER') AS may", "may").AsString() != "1")
        CannotCreate(what, "login " + Quoted(login) + " lacks the ALTER right on schema \"dbo\"");
}

// The collation the text columns of new tables name: looked up first, made only when missing.
void EnsurePostgresCollation(TDbSession& session) {
    const std::string name = kPostgresNoCase;
    if (!session
             .Run("SELECT 1 AS found FROM pg_collation WHERE collname = " + SQLLiteral(name) +
                  " AND pg_collation_is_visible(oid)")
             .Rows.empty())
        return;
    RequirePostgresCreateRight(session, "collation " + Quoted(name));
    // Level 2: letters match without regard to case, accents still count.
    session.Run("CREATE COLLATION IF NOT EXISTS " + name +
                " (provider = icu, locale = 'und-u-ks-level2', deterministic = false)");
}

std::vector<const TableDef*> MissingTables(TDbSession& session) {
    std::vector<const TableDef*> missing;
    for (const TableDef& table : Tables())
        if (!session.TableExists(table.CreateName)) missing.push_back(&table);
    return missing;
}

void CreateTables(TDbSession& session, TDbDialect dialect, const std::vector<const TableDef*>& tables) {
    for (const TableDef* table : tables) {
        TTableScript script;
        TableScript(dialect, table->Key, script);
        try {
            session.Run(JoinLines(script.Create));
        } catch (const EDatabaseError&) {
            if (!session.TableExists(table->CreateName)) throw;
            continue; // another daemon made it (with its index) meanwhile
        }
        session.Run(JoinLines(script.Index));
    }
}

// A networked database a site provisioned opens with a login that may only read and write rows:
// only what is missing is made, and only after checking that the login may make it.
void CreateMissingServerTables(TDbSession& session, TDbDialect dialect) {
    const std::vector<const TableDef*> missing = MissingTables(session);
    if (missing.empty()) return;
    if (dialect == TDbDialect::PostgreSQL) {
        RequirePostgresCreateRight(session, TablesText(missing, dialect));
        EnsurePostgresCollation(session);
    } else {
        RequireSqlServerCreateRight(session, TablesText(missing, dialect));
    }
    CreateTables(session, dialect, missing);
}

} // namespace

const std::vector<std::string>& TableNames() {
    static const std::vector<std::string> names = {"alarms", "codes", "vkt", "operator", "site"};
    return names;
}

bool TableScript(TDbDialect dialect, const std::string& table, TTableScript& script) {
    const TableDef* def = FindTable(table);
    if (def == nullptr) return false;
    switch (dialect) {
    case TDbDialect::SQLite:
        script = SqliteScript(*def);
        break;
    case TDbDialect::PostgreSQL:
        script = PostgresScript(*def);
        break;
    case TDbDialect::SqlServer:
    case TDbDialect::OdbcDsn:
        script = TsqlScript(*def);
        break;
    }
    return true;
}

int ColumnWidth(const std::string& table, const std::string& column) {
    const TableDef* def = FindTable(table);
    if (def == nullptr) return 0;
    for (const ColumnDef& c : def->Columns)
        if (c.Kind == ColKind::Varchar && SameText(c.Name, column)) return c.Size;
    return 0;
}

void CreateMissingTables(TDbSession& session, TDbDialect dialect) {
    if (dialect == TDbDialect::PostgreSQL || dialect == TDbDialect::SqlServer) {
        CreateMissingServerTables(session, dialect);
        return;
    }
    if (dialect != TDbDialect::SQLite) return; // a data source of unknown kind is used as it is
    // The write lock makes a second process wait here and then find the tables made.
    session.Run("BEGIN IMMEDIATE");
    try {
        CreateTables(session, dialect, MissingTables(session));
    } catch (...) {
        session.Run("ROLLBACK");
        throw;
    }
    session.Run("COMMIT");
}
