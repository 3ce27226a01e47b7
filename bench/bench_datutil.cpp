// Seconds to back up and restore 100,000 rows of table alarms through the data utilities, and the
// same rows written and loaded by the stock tools in the same run: "sqlite3 .mode tabs" and
// ".import" for the embedded file, psql "\copy" for PostgreSQL. With "apply": seconds to read,
// check and plan a sites file of 10,000 and of 100,000 sites against as many in the database, and to
// apply the smaller plan. Prints figures; asserts nothing.
#include "datutil/sitesfile.h"
#include "daemon/tfrmdatutil.h"
#include "db/siteplan.h"
#include "pgserver.h"
#include "platform/datetime.h"
#include "platform/msgloop.h"
#include "testutil.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

namespace {

constexpr int Rows = 100000;

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Shell(const std::string& command) {
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
}

void Seed(TVKTDataModule& dm) {
    TDbBatchSet alarms(dm.conMain);
    alarms.Open("alarms");
    const TDateTime start = EncodeDateTime(2026, 12, 7, 0, 0, 0);
    for (int i = 0; i < Rows; ++i) {
        alarms.Append();
        alarms.SetValue(0, Variant("s" + std::to_string(i % 1000)));
        alarms.SetValue(1, Variant::FromDateTime(start + (i + 1) / 86400.0));
    }
    alarms.UpdateBatch();
}

/// The records of a backup file without its two heading lines, as the stock tools load them.
void WriteRecordsOnly(const std::string& backup, const std::string& target) {
    const std::string text = ReadFileText(backup);
    std::string body = text.substr(text.find('\n', text.find('\n') + 1) + 1), out;
    for (char c : body)
        if (c != '\r') out += c;
    WriteFileText(target, out);
}

struct Figures {
    double Backup = 0, NativeDump = 0, Restore = 0, NativeLoad = 0;
};

Figures Run(TVKTDataModule& dm, const TempDir& dir, const std::string& dumpCommand,
            const std::function<std::string(const std::string&)>& loadCommand) {
    Seed(dm);
    TfrmDatUtil form(dm);
    form.txtBackupDir = dir.Path();
    Figures f;
    f.Backup = Seconds([&] { form.BackupTable("alarms", dir.Path(), true); });
    f.NativeDump = Seconds([&] { Shell(dumpCommand + " > " + dir.File("native.tsv")); });
    WriteRecordsOnly(dir.File("alarms.svb"), dir.File("records.tsv"));
    form.RecreateTable("alarms");
    f.Restore = Seconds([&] { form.RestoreTable("alarms"); });
    form.RecreateTable("alarms");
    f.NativeLoad = Seconds([&] { Shell(loadCommand(dir.File("records.tsv"))); });
    return f;
}

void Print(const char* backend, const Figures& f) {
    std::printf("%-10s backup %7.3f s   sqlite3/psql dump %7.3f s   ratio %5.2f\n", backend, f.Backup, f.NativeDump,
                f.Backup / f.NativeDump);
    std::printf("%-10s restore %6.3f s   sqlite3/psql load %7.3f s   ratio %5.2f\n", backend, f.Restore, f.NativeLoad,
                f.Restore / f.NativeLoad);
}

/// The daemon d1 probes sites s0 .. s{count-1}, written straight into the two tables.
void SeedSites(TVKTDataModule& dm, int count) {
    TDbBatchSet site(dm.conMain), vkt(dm.conMain);
    site.Open("site");
    vkt.Open("vkt");
    for (int i = 0; i < count; ++i) {
        const std::string code = "s" + std::to_string(i);
        site.Append();
        site.SetValue("CODE", Variant(code));
        site.SetValue("IPaddr", Variant("10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
                                        std::to_string(i % 256)));
        site.SetValue("Downtime", Variant(5));
        site.Post();
        vkt.Append();
        vkt.SetValue("VKTID", Variant(std::string("d1")));
        vkt.SetValue("sitecode", Variant(code));
        vkt.Post();
    }
    site.UpdateBatch();
    vkt.UpdateBatch();
}

/// A file for d1 of `count` sites from s{count/2} on: half of them in the database (every tenth with
/// another downtime), half new; with pruning the other half of the database goes.
void ApplySites(TVKTDataModule& dm, const TempDir& dir, int count, bool timeApply) {
    SeedSites(dm, count);
    std::vector<SiteFields> listed;
    for (int i = count / 2; i < count / 2 + count; ++i) {
        SiteFields site;
        site.Code = "s" + std::to_string(i);
        site.Address =
            "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256);
        site.Downtime = i % 10 == 0 ? "7" : "5";
        listed.push_back(site);
    }
    const std::string path = dir.File("sites" + std::to_string(count) + ".yaml");
    WriteFileText(path, SitesFile::Write("d1", listed));
    SiteStore store(dm.adoQ2, dm.Dialect());
    SitesFile file;
    SitePlan plan;
    std::size_t refused = 0;
    const double read = Seconds([&] { file.Read(path); });
    const double check = Seconds([&] {
        for (const SitesFile::Entry& entry : file.Sites())
            refused += store.Validate(entry.Site).size();
    });
    const double planned = Seconds([&] {
        std::vector<SiteFields> wanted;
        for (const SitesFile::Entry& entry : file.Sites())
            wanted.push_back(entry.Site);
        plan = PlanSites(store, "d1", wanted, true);
    });
    std::printf("%-10s %6d sites: read %6.3f s  check %6.3f s  plan %6.3f s  = planned in %6.3f s%s\n",
                dm.Dialect() == TDbDialect::SQLite ? "SQLite" : "PostgreSQL", count, read, check, planned,
                read + check + planned, refused > 0 || !file.Refusal().empty() ? "  (file refused!)" : "");
    std::fflush(stdout);
    // Each delete asks whether another daemon still probes the code, a scan of VKT (its index leads
    // with the daemon): applying many deletes to a large table is timed on the small file only.
    if (!timeApply) return;
    const double applied = Seconds([&] { store.Apply(plan.Changes()); });
    std::printf("%-10s %6d sites: applied %zu changes in %.3f s\n",
                dm.Dialect() == TDbDialect::SQLite ? "SQLite" : "PostgreSQL", count, plan.Steps.size(), applied);
}

/// A fresh database of the backend in `dir`, or on the private PostgreSQL server.
bool Connect(TVKTDataModule& dm, bool postgres, const TempDir& dir) {
    if (postgres) {
        TestPgServer& server = TestPgServer::Shared();
        dm.DBProvider = "PostgreSQL";
        dm.DataBase = server.CreateDatabase();
        dm.DBServer = "127.0.0.1," + std::to_string(server.Port());
        dm.DBUser = "vkt";
    } else {
        dm.DBProvider = "SQLite";
        dm.DataBase = dir.File("bench.db");
    }
    if (dm.ActivateConnection()) return true;
    std::fprintf(stderr, "%s\n", dm.LastConnectionError().c_str());
    return false;
}

} // namespace

int main(int argc, char** argv) {
    // "apply" times the sites file instead of the alarm rows; then "sqlite" or "postgresql" runs that
    // backend alone.
    const bool apply = argc > 1 && std::string(argv[1]) == "apply";
    const std::string only = argc > 1 + apply ? argv[1 + apply] : "";
    std::unique_ptr<MessageLoop> loop = CreatePollMessageLoop();
    ScopedMainLoop loopGuard(loop.get());
    if (!apply) std::printf("%d rows of table alarms\n", Rows);
    for (const bool postgres : {false, true}) {
        if (!only.empty() && only != (postgres ? "postgresql" : "sqlite")) continue;
        if (apply) {
            for (int count : {Rows / 10, Rows}) {
                TempDir dir;
                TVKTDataModule dm;
                if (!Connect(dm, postgres, dir)) return 1;
                ApplySites(dm, dir, count, count < Rows);
            }
            continue;
        }
        TempDir dir;
        TVKTDataModule dm;
        if (!Connect(dm, postgres, dir)) return 1;
        if (!postgres) {
            const std::string db = dm.DataBase;
            Print("SQLite",
                  Run(dm, dir, "sqlite3 " + db + " '.mode tabs' 'SELECT * FROM alarms'", [&](const auto& file) {
                      return "sqlite3 " + db + " '.mode tabs' '.import " + file + " alarms'";
                  }));
        } else {
            TestPgServer& server = TestPgServer::Shared();
            const std::string psql =
                "psql -q -h 127.0.0.1 -p " + std::to_string(server.Port()) + " -U vkt -d " + dm.DataBase + " -c ";
            Print("PostgreSQL", Run(dm, dir, psql + "'\\copy alarms TO STDOUT'",
                                    [&](const auto& file) { return psql + "'\\copy alarms FROM " + file + "'"; }));
        }
    }
    return 0;
}
