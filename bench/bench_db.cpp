// Statements per second of the scan's statement mix for 1,000 sites (site list and site rows, alarm
// insert, the three notification selects, alarm delete and round-trip-time update), through the data
// layer and through the bare client API with the same statement texts, on the embedded database and
// on a private PostgreSQL server. Prints figures; asserts nothing.
#include "db/connstring.h"
#include "db/data.h"
#include "db/dbsession.h"
#include "db/sqlitecollation.h"
#include "pgserver.h"
#include "testutil.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int Sites = 1000;
constexpr int Rounds = 3;

struct Statement {
    std::string Text;
    bool Rows;
};

std::string Code(int i) {
    return "s" + std::to_string(i);
}

// One scan: half the sites fail (alarm and notification decision), the other half answer.
std::vector<Statement> ScanMix(int round) {
    std::vector<Statement> mix = {{"SELECT VKT.sitecode FROM \n  VKT \nWHERE \n  VKTID = 'bench' ", true}};
    const std::string when = "'12/7/2026 09:05:" + std::to_string(10 + round) + "'";
    for (int i = 0; i < Sites; ++i) {
        const std::string code = "'" + Code(i) + "'";
        mix.push_back({"SELECT * FROM \n  site \nWHERE \n  code = " + code + " ", true});
        if ((i + round) % 2) {
            mix.push_back({"INSERT INTO alarms (Code, FailTime) VALUES (" + code + ", " + when + ")", false});
            mix.push_back({"SELECT * FROM alarms WHERE Code = '" + Code(i) + "MAILED' ", true});
            mix.push_back({"SELECT * FROM alarms WHERE Code = " + code + " ORDER BY FailTime", true});
            mix.push_back({"SELECT * FROM site WHERE code = " + code + " ", true});
        } else {
            mix.push_back({"DELETE FROM alarms WHERE code = " + code + " OR code = '" + Code(i) + "MAILED' ", false});
            mix.push_back({"UPDATE \n  site \nSET LastRTT = '12' \nWHERE code = " + code + " ", false});
        }
    }
    return mix;
}

void Seed(TVKTDataModule& dm) {
    TDbBatchSet sites(dm.conMain), vkt(dm.conMain);
    sites.Open("site");
    vkt.Open("VKT");
    for (int i = 0; i < Sites; ++i) {
        sites.Append();
        sites.SetValue("CODE", Variant(Code(i)));
        sites.SetValue("IPaddr", Variant("127.0.0.1"));
        sites.SetValue("Downtime", Variant(5));
        vkt.Append();
        vkt.SetValue("VKTID", Variant("bench"));
        vkt.SetValue("sitecode", Variant(Code(i)));
    }
    sites.UpdateBatch();
    vkt.UpdateBatch();
}

// Through the data layer, reading every value of every row as the daemon reads fields.
void RunLayer(TVKTDataModule& dm, const std::vector<Statement>& mix) {
    for (const Statement& s : mix) {
        if (!s.Rows) {
            ExecStatement(dm.adoQ2, {s.Text});
            continue;
        }
        OpenStatement(dm.adoQ1, {s.Text});
        for (; !dm.adoQ1.Eof(); dm.adoQ1.Next())
            for (std::size_t c = 0; c < dm.adoQ1.Columns().size(); ++c)
                (void)dm.adoQ1.Value(c);
    }
}

void RunRawSqlite(sqlite3* db, const std::vector<Statement>& mix) {
    for (const Statement& s : mix) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, s.Text.c_str(), static_cast<int>(s.Text.size()), &st, nullptr);
        while (sqlite3_step(st) == SQLITE_ROW)
            for (int c = 0; c < sqlite3_column_count(st); ++c)
                (void)sqlite3_column_text(st, c);
        sqlite3_finalize(st);
    }
}

void RunRawOdbc(SQLHDBC dbc, const std::vector<Statement>& mix) {
    char buffer[512];
    for (const Statement& s : mix) {
        SQLHSTMT st = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
        std::string text = s.Text;
        SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size()));
        SQLSMALLINT columns = 0;
        SQLNumResultCols(st, &columns);
        while (columns > 0 && SQL_SUCCEEDED(SQLFetch(st)))
            for (SQLUSMALLINT c = 1; c <= columns; ++c) {
                SQLLEN length = 0;
                SQLGetData(st, c, SQL_C_CHAR, buffer, sizeof buffer, &length);
            }
        SQLFreeHandle(SQL_HANDLE_STMT, st);
    }
}

using Runner = std::function<void(const std::vector<Statement>&)>;

struct Rates {
    double Layer = 0, Raw = 0;
};

// Scans alternate between the two ways so that the table's growth and the machine's load fall on both.
Rates Compare(const Runner& layer, const Runner& raw) {
    double seconds[2] = {0, 0};
    std::size_t count[2] = {0, 0};
    for (int round = 0; round < 2 * Rounds; ++round) {
        const std::vector<Statement> mix = ScanMix(round);
        const auto start = std::chrono::steady_clock::now();
        (round % 2 ? raw : layer)(mix);
        seconds[round % 2] += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        count[round % 2] += mix.size();
    }
    return {count[0] / seconds[0], count[1] / seconds[1]};
}

void Report(const char* backend, const Rates& r) {
    const double layer = r.Layer, raw = r.Raw;
    std::printf(
        "%-10s data layer %8.0f statements/s   bare API %8.0f statements/s   time added by the layer %+5.1f%%\n",
        backend, layer, raw, (raw / layer - 1) * 100);
}

void BenchSqlite() {
    TempDir dir;
    TVKTDataModule dm;
    dm.DBProvider = "SQLite";
    dm.DataBase = dir.File("bench.db");
    if (!dm.ActivateConnection()) return (void)std::printf("SQLite: %s\n", dm.LastConnectionError().c_str());
    Seed(dm);
    sqlite3* raw = nullptr;
    sqlite3_open_v2(dm.DataBase.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_busy_timeout(raw, 5000);
    sqlite3_exec(raw, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
    RegisterCollations(raw);
    const Rates rates =
        Compare([&](const auto& mix) { RunLayer(dm, mix); }, [&](const auto& mix) { RunRawSqlite(raw, mix); });
    sqlite3_close_v2(raw);
    Report("SQLite", rates);
}

void BenchPostgres() {
    TVKTDataModule dm;
    try {
        TestPgServer& server = TestPgServer::Shared();
        dm.DBProvider = "PostgreSQL";
        dm.DataBase = server.CreateDatabase();
        dm.DBServer = "127.0.0.1," + std::to_string(server.Port());
        dm.DBUser = "vkt";
    } catch (const std::exception& e) {
        return (void)std::printf("PostgreSQL: no server (%s)\n", e.what());
    }
    if (!dm.ActivateConnection()) return (void)std::printf("PostgreSQL: %s\n", dm.LastConnectionError().c_str());
    Seed(dm);
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    std::string connect = OdbcConnectString(TDbDialect::PostgreSQL, ParseConnectionString(dm.ConnectionString()),
                                            OdbcDriverFor(TDbDialect::PostgreSQL));
    SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(connect.data()), static_cast<SQLSMALLINT>(connect.size()),
                     nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    const Rates rates =
        Compare([&](const auto& mix) { RunLayer(dm, mix); }, [&](const auto& mix) { RunRawOdbc(dbc, mix); });
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    Report("PostgreSQL", rates);
}

} // namespace

int main() {
    std::printf("scan statement mix, %d sites, %d scans per figure\n", Sites, Rounds);
    BenchSqlite();
    BenchPostgres();
    return 0;
}
