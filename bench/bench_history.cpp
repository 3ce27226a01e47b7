// What [History] costs a daemon of 10,000 sites, in CPU time of this thread (SQLite runs in it too):
// the per-scan part (each site's result rolled up, every site's uptime reckoned for the board) and the
// write at each scan end of the running hourly and daily rows and the outages, beside the CPU time of a
// whole scan of 10,000 sites. Prints figures; asserts nothing.
#include "db/data.h"
#include "history/historystore.h"
#include "testutil.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr int Sites = 10000;
/// Scans an hour at the default PollDelay of 5 minutes.
constexpr int ScansPerHour = 12;
/// CPU seconds of a whole scan of 10,000 sites (scan_scale, SQLite, Release): the README's figure;
/// pass another as the first argument.
constexpr double ScanCpuSeconds = 2.4;

double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

std::string Code(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "S%05d", i);
    return buf;
}

} // namespace

int main(int argc, char** argv) {
    const double scanCpuMs = (argc > 1 ? std::atof(argv[1]) : ScanCpuSeconds) * 1000.0;
    TempDir dir;
    TVKTDataModule dm;
    dm.DBProvider = "SQLite";
    dm.DataBase = dir.File("history");
    if (!dm.ActivateConnection()) return std::printf("SQLite: %s\n", dm.LastConnectionError().c_str()), 1;
    HistoryStore store(dm.adoQ2, "D1");
    store.EnsureTables();
    std::vector<std::string> codes;
    for (int i = 0; i < Sites; ++i)
        codes.push_back(Code(i));

    const NoMaintenance none;
    Rollup rollup(none, 25 * 60);
    OutageBook outages;
    std::unordered_map<std::string, UptimeBase> bases;
    const long long start = HourStart(std::time(nullptr)) - 2 * 3600;
    double scanMs = 0, writeMs = 0;
    for (int scan = 0; scan < 2 * ScansPerHour; ++scan) {
        const long long now = start + scan * 300;
        const double t0 = CpuMs();
        for (int i = 0; i < Sites; ++i) {
            const bool up = (i + scan) % 50 != 0; // 2 % silent, a different 2 % each scan
            rollup.Probed(codes[i], now + i / 1000, ProbeCounts{up, 1, up ? 1 : 0, 800, 850, 900},
                          up ? SiteState::Up : SiteState::Down);
            if (up)
                outages.Up(codes[i], now);
            else
                outages.Down(codes[i], now, "10.0.0.1", "timed out");
        }
        const UptimeMoment moment = UptimeMoment::At(now);
        // The board's copy of what is unwritten, as the daemon publishes it after each scan.
        const std::unordered_map<std::string, Rollup::Pending> unwritten = rollup.Unwritten();
        std::unordered_map<std::string, SiteUptime> board;
        for (const std::string& code : codes) {
            const auto pending = unwritten.find(code);
            board.emplace(code,
                          ReckonUptime(bases[code], pending == unwritten.end() ? nullptr : &pending->second, moment));
        }
        scanMs += CpuMs() - t0;
        const double t1 = CpuMs();
        rollup.Advance(now + Sites / 1000);
        store.Write(TDbDialect::SQLite, rollup.Take(), outages.Changes());
        outages.MarkWritten();
        writeMs += CpuMs() - t1;
    }
    const double perScan = scanMs / (2 * ScansPerHour), perWrite = writeMs / (2 * ScansPerHour);
    const double share = perScan + perWrite;
    std::printf("history at %d sites, CPU time of this thread\n", Sites);
    std::printf("  per scan (roll up, publish every uptime):%8.1f ms\n", perScan);
    std::printf("  write at the scan end (hours, days, outages):%8.1f ms\n", perWrite);
    std::printf("  share of a scan's %.1f CPU-s:            %8.2f %%\n", scanCpuMs / 1000, 100.0 * share / scanCpuMs);
    return 0;
}
