// Seconds to back up and restore 100,000 rows of table alarms through the data utilities, and the
// same rows written and loaded by the stock tools in the same run: "sqlite3 .mode tabs" and
// ".import" for the embedded file, psql "\copy" for PostgreSQL. Prints figures; asserts nothing.
#include "daemon/tfrmdatutil.h"
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

} // namespace

int main(int argc, char** argv) {
    // An argument "sqlite" or "postgresql" runs that backend alone.
    const std::string only = argc > 1 ? argv[1] : "";
    std::unique_ptr<MessageLoop> loop = CreatePollMessageLoop();
    ScopedMainLoop loopGuard(loop.get());
    std::printf("%d rows of table alarms\n", Rows);
    if (only.empty() || only == "sqlite") {
        TempDir dir;
        TVKTDataModule dm;
        dm.DBProvider = "SQLite";
        dm.DataBase = dir.File("bench.db");
        if (!dm.ActivateConnection()) return std::fprintf(stderr, "%s\n", dm.LastConnectionError().c_str()), 1;
        const std::string db = dm.DataBase;
        Print("SQLite", Run(dm, dir, "sqlite3 " + db + " '.mode tabs' 'SELECT * FROM alarms'", [&](const auto& file) {
                  return "sqlite3 " + db + " '.mode tabs' '.import " + file + " alarms'";
              }));
    }
    if (only.empty() || only == "postgresql") {
        TempDir dir;
        TestPgServer& server = TestPgServer::Shared();
        TVKTDataModule dm;
        dm.DBProvider = "PostgreSQL";
        dm.DataBase = server.CreateDatabase();
        dm.DBServer = "127.0.0.1," + std::to_string(server.Port());
        dm.DBUser = "vkt";
        if (!dm.ActivateConnection()) return std::fprintf(stderr, "%s\n", dm.LastConnectionError().c_str()), 1;
        const std::string psql =
            "psql -q -h 127.0.0.1 -p " + std::to_string(server.Port()) + " -U vkt -d " + dm.DataBase + " -c ";
        Print("PostgreSQL", Run(dm, dir, psql + "'\\copy alarms TO STDOUT'",
                                [&](const auto& file) { return psql + "'\\copy alarms FROM " + file + "'"; }));
    }
    return 0;
}
