// One scan of 1,000 answering loopback sites on an embedded database, per site: the whole scan, and its
// parts measured in the same run through the daemon's own code (probe, statements, log lines), beside
// the same statements through the bare SQLite API and the bare echo on one reused socket. Then the wall
// time of one scan of 100 sites of which 10 never answer (a namespace host that drops echo requests;
// root only). Prints figures; asserts nothing.
#include "platform/activitylog.h"
#include "daemon/tfrmmain.h"
#include "db/data.h"
#include "db/sqlitecollation.h"
#include "platform/icmpecho.h"
#include "platform/msgloop.h"
#include "silenthost.h"
#include "testutil.h"

#include <arpa/inet.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using Steady = std::chrono::steady_clock;
constexpr int Sites = 1000;
const char* const SilentHost = SilentHostNamespace::Address;

std::string Code(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "S%04d", i);
    return buf;
}

std::string Address(int i) {
    return "127.0." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250);
}

double MicrosPerSite(const std::function<void()>& run, int sites = Sites) {
    const auto start = Steady::now();
    run();
    return std::chrono::duration<double, std::micro>(Steady::now() - start).count() / sites;
}

void AddSite(TVKTDataModule& dm, const std::string& daemon, const std::string& code, const std::string& address) {
    ExecStatement(dm.adoQ2, {"INSERT INTO site (CODE, sitename, IPaddr, Downtime, contactflag) VALUES (" +
                             SQLLiteral(code) + ", 'bench', " + SQLLiteral(address) + ", 0, 0)"});
    ExecStatement(dm.adoQ2,
                  {"INSERT INTO VKT (VKTID, sitecode) VALUES (" + SQLLiteral(daemon) + ", " + SQLLiteral(code) + ")"});
}

/// The statements one answering site costs a scan: its row, the alarm delete, the round-trip time and
/// the two selects of the notification decision.
std::vector<std::string> SiteStatements(const std::string& code) {
    const std::string c = SQLLiteral(code);
    return {"SELECT * FROM \n  site \nWHERE \n  code = " + c + " ",
            "DELETE FROM alarms WHERE code = " + c + " OR code = " + SQLLiteral(code + "MAILED") + " ",
            "UPDATE \n  site \nSET LastRTT = '0' \nWHERE code = " + c + " ",
            "SELECT * FROM alarms WHERE Code = " + SQLLiteral(code + "MAILED") + " ",
            "SELECT * FROM alarms WHERE Code = " + c + " ORDER BY FailTime"};
}

double BareStatements(const std::string& file) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_busy_timeout(db, 5000);
    RegisterCollations(db);
    double us = MicrosPerSite([&] {
        for (int i = 0; i < Sites; ++i)
            for (const std::string& text : SiteStatements(Code(i))) {
                sqlite3_stmt* st = nullptr;
                sqlite3_prepare_v2(db, text.c_str(), static_cast<int>(text.size()), &st, nullptr);
                while (sqlite3_step(st) == SQLITE_ROW)
                    for (int c = 0; c < sqlite3_column_count(st); ++c)
                        (void)sqlite3_column_text(st, c);
                sqlite3_finalize(st);
            }
    });
    sqlite3_close_v2(db);
    return us;
}

double BareProbe() {
    auto handle = IcmpCreateFile();
    const std::vector<std::uint8_t> data(56, ' ');
    return MicrosPerSite([&] {
        for (int i = 0; i < Sites; ++i) {
            IcmpEchoReply reply;
            std::uint32_t error = 0;
            handle->SendEcho(inet_addr(Address(i).c_str()), data, IpOptionInformation{64, 0, 0},
                             std::chrono::milliseconds(4000), reply, error);
        }
    });
}

void ScanWithSilentSites(TVKTDataModule& dm, TfrmMain& form, const TempDir& dir) {
    SilentHostNamespace host("bench");
    std::string why;
    if (!host.Create(why)) {
        std::printf("%-44s skipped (%s)\n", "scan of 100 sites, 10 silent", why.c_str());
    } else {
        for (int i = 0; i < 100; ++i)
            AddSite(dm, "silent", "T" + std::to_string(i), i % 10 == 9 ? SilentHost : Address(i));
        WriteFileText(dir.File("vkt.ini"), "[System]\nVKTID=silent\n");
        form.mnuForceClick();
        const double us = MicrosPerSite([&] { form.timMainTimer(); }, 1);
        std::printf("%-44s %8.2f s wall\n", "scan of 100 sites, 10 silent", us / 1e6);
    }
}

} // namespace

int main() {
    TempDir dir;
    ScopedCwd cwd(dir.Path());
    setenv("VKT_HOME", dir.Path().c_str(), 1);
    std::unique_ptr<MessageLoop> loop = CreatePollMessageLoop();
    ScopedMainLoop installLoop(loop.get());
    WriteFileText(dir.File("vkt.ini"),
                  "[System]\nVKTID=bench\nDBProvider=SQLite\nDataBase=" + dir.File("bench") + "\nPollDelay=0\n");
    TVKTDataModule dm;
    ScopedDataModule installDm(&dm);
    dm.DataModuleCreate();
    TfrmMain form;
    ScopedFrmMain installForm(&form);
    ScopedLogPane installPane(&form.memLog);
    form.FormShow();
    if (!form.Running()) {
        std::fprintf(stderr, "bench_scan: %s\n", dm.LastConnectionError().c_str());
        return 1;
    }
    for (int i = 0; i < Sites; ++i)
        AddSite(dm, "bench", Code(i), Address(i));
    form.timMainTimer(); // the first tick also runs the daily purge

    form.mnuForceClick();
    const double firstScan = MicrosPerSite([&] { form.timMainTimer(); }); // every LastRTT written anew
    form.mnuForceClick();
    const double scan = MicrosPerSite([&] { form.timMainTimer(); });
    int rtt = 0;
    const double probe = MicrosPerSite([&] {
        for (int i = 0; i < Sites; ++i)
            form.PingSite(Address(i), rtt);
    });
    const double statements = MicrosPerSite([&] {
        for (int i = 0; i < Sites; ++i) {
            OpenStatement(dm.adoQ1, {SiteStatements(Code(i))[0]});
            form.ClearAlarms(Code(i), 0);
            form.Notify(Code(i));
        }
    });
    const double log = MicrosPerSite([&] {
        for (int i = 0; i < Sites; ++i) {
            WriteLog("POLL", "Polling " + Code(i) + " [" + Address(i) + "]");
            WriteLog("POLL", Code(i) + " Responding (0 ms)");
        }
    });
    // The same parts one site after the other, as the scan runs them.
    const double interleaved = MicrosPerSite([&] {
        for (int i = 0; i < Sites; ++i) {
            WriteLog("POLL", "Polling " + Code(i) + " [" + Address(i) + "]");
            form.PingSite(Address(i), rtt);
            OpenStatement(dm.adoQ1, {SiteStatements(Code(i))[0]});
            form.ClearAlarms(Code(i), 0);
            WriteLog("POLL", Code(i) + " Responding (0 ms)");
            form.Notify(Code(i));
        }
    });
    const double bareStatements = BareStatements(dm.DataBase);
    const double bareProbe = BareProbe();

    std::printf("Scan of %d answering loopback sites on SQLite, microseconds per site\n", Sites);
    std::printf("%-44s %8.1f\n", "first scan after seeding", firstScan);
    std::printf("%-44s %8.1f\n", "whole scan", scan);
    std::printf("%-44s %8.1f\n", "  probe (PingSite: worker thread per probe)", probe);
    std::printf("%-44s %8.1f\n", "  statements through the data layer (5)", statements);
    std::printf("%-44s %8.1f\n", "  log writing (2 lines)", log);
    std::printf("%-44s %8.1f\n", "  the three parts site by site", interleaved);
    std::printf("%-44s %8.1f\n", "same statements, bare SQLite API", bareStatements);
    std::printf("%-44s %8.1f\n", "bare echo, one reused socket", bareProbe);
    std::printf("%-44s %+7.1f %%  (target: at most +20 %%)\n", "scan over PingSite + bare statements",
                100.0 * (scan / (probe + bareStatements) - 1));
    std::printf("%-44s %+7.1f %%\n", "scan over bare echo + bare statements",
                100.0 * (scan / (bareProbe + bareStatements) - 1));
    ScanWithSilentSites(dm, form, dir);
    return 0;
}
