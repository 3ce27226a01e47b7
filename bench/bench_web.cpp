// Web administration benchmarks: `serve PORT [SITES]` runs the pages from the current directory for a
// load generator (bench_web_nginx.sh), with a status board of SITES sites (a day of history each);
// `parse N` times request recognition and query parsing in-process; `status SITES` times building
// /status and /metrics in-process; `slow READERS [SITES]` prints what READERS clients that ask for
// /status.json?history=1 and then read nothing cost a server of SITES sites in resident memory;
// `api SITES` times GET /api/v1/sites (the first page of 100 and the whole list) and
// /status.json?limit=100 in-process over an embedded database of SITES sites, with the growth of the
// resident peak the whole list costs, beside the targets; `ui SITES API_PORT ADMIN_PORT` serves the
// management pages over such a database (user "bench", password "bench pass", admin) and /status on
// the admin port over the same board, for a browser to measure (bench_ui_first_page.js, Lighthouse).
#include "api/apidatabase.h"
#include "api/apiserver.h"
#include "api/apiusers.h"
#include "history/maintenancebook.h"
#include "api/sitesresource.h"
#include "db/data.h"
#include "db/sitetags.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/msgloop.h"
#include "web/httprequest.h"
#include "web/statusjson.h"
#include "web/statusmetrics.h"
#include "web/statuspage.h"
#include "web/webserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// A day of 5-minute scans of `sites` sites, a few silent and a few losing now and then. The clock
// it leaves installed keeps the board's day current.
ManualClock& FillBoard(TStatusBoard& board, int sites, int firstCode = 0) {
    static ManualClock clock(Now() - 1);
    SetClock(&clock);
    for (int round = 0; round < TRttHistory::Buckets; ++round, clock.Advance(std::chrono::minutes(5))) {
        board.ScanBegun();
        for (int i = 0; i < sites; ++i) {
            const bool answered = i % 97 != 0 && (i + round) % 41 != 0;
            SiteResult r;
            r.Code = "S" + std::to_string(firstCode + i);
            r.Name = "Site " + std::to_string(i);
            r.Address = "10." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) + ".1";
            r.Answered = answered;
            r.RttAvg = 1 + (i * 7 + round * 13) % 90;
            r.LastCause = answered ? ProbeCause::None : ProbeCause::TimedOut;
            board.SiteProbed(r, {});
        }
        board.ScanEnded();
    }
    return clock;
}

int Status(int sites) {
    TStatusBoard board;
    FillBoard(board, sites);
    for (const char* path : {"/status", "/metrics"}) {
        const int runs = 20;
        std::size_t bytes = 0;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < runs; ++i) {
            TStatusView view;
            view.Load(board);
            bytes = std::string(path) == "/status" ? TStatusPage(view, "").Whole().size()
                                                   : TStatusMetrics(view).Whole().size();
        }
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::printf("%-8s %d sites: %zu bytes, built in %.1f ms per request\n", path, sites, bytes, ms / runs);
    }
    SetClock(nullptr);
    return 0;
}

/// The process's resident and peak resident kilobytes; `reset` starts a new peak from now.
long ResidentKb(const char* field, bool reset = false) {
    if (reset) std::ofstream("/proc/self/clear_refs") << "5";
    std::ifstream status("/proc/self/status");
    long kb = 0;
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) kb = std::atol(line.c_str() + std::strlen(field));
    return kb;
}

/// `sites` sites of daemon B1 in one transaction, every tenth tagged "core".
void FillSites(TVKTDataModule& dm, int sites) {
    ExecStatement(dm.adoQ2, {"BEGIN"});
    for (int first = 0; first < sites; first += 500) {
        std::string rows, links, tags;
        for (int i = first; i < std::min(sites, first + 500); ++i) {
            const std::string code = "'S" + std::to_string(100000 + i) + "'";
            rows += std::string(rows.empty() ? "" : ", ") + "(" + code + ", 'Site " + std::to_string(i) + "', '10." +
                    std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) + ".1', 5)";
            links += std::string(links.empty() ? "" : ", ") + "('B1', " + code + ")";
            if (i % 10 == 0) tags += std::string(tags.empty() ? "" : ", ") + "(" + code + ", 'core')";
        }
        ExecStatement(dm.adoQ2, {"INSERT INTO site (CODE, sitename, IPaddr, Downtime) VALUES " + rows});
        ExecStatement(dm.adoQ2, {"INSERT INTO VKT (VKTID, sitecode) VALUES " + links});
        ExecStatement(dm.adoQ2, {"INSERT INTO sitetag (code, tag) VALUES " + tags});
    }
    ExecStatement(dm.adoQ2, {"COMMIT"});
}

/// One scan of every site; every 97th silent.
void ScanOnce(TStatusBoard& board, int sites) {
    board.ScanBegun();
    for (int i = 0; i < sites; ++i) {
        SiteResult r;
        r.Code = "S" + std::to_string(100000 + i);
        r.Name = "Site " + std::to_string(i);
        r.Address = "10." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) + ".1";
        r.Answered = i % 97 != 0;
        r.RttAvg = 1 + i % 90;
        r.LastCause = r.Answered ? ProbeCause::None : ProbeCause::TimedOut;
        board.SiteProbed(r, {});
    }
    board.ScanEnded();
}

/// Milliseconds of the process's processor time (all threads).
double CpuMilliseconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

/// Wall-clock milliseconds of `work`; its processor milliseconds in `cpu`. On a loaded machine the
/// processor time is the steadier figure: the wall time is what a client waits.
double MillisecondsOf(const std::function<void()>& work, double* cpu = nullptr) {
    const double cpuStart = CpuMilliseconds();
    const auto start = std::chrono::steady_clock::now();
    work();
    if (cpu != nullptr) *cpu = CpuMilliseconds() - cpuStart;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

/// A fresh SQLite file of `sites` sites (FillSites) in `dir`; false with the reason printed.
bool MakeSiteDatabase(const std::string& dir, int sites, TVKTDataModule& dm) {
    dm.DBProvider = "SQLite";
    dm.DataBase = dir + "/vkt.db";
    if (!dm.ActivateConnection()) {
        std::fprintf(stderr, "%s\n", dm.LastConnectionError().c_str());
        return false;
    }
    SiteTags::EnsureTable(dm.adoQ2);
    std::printf("filling %d sites...\n", sites);
    std::fflush(stdout);
    FillSites(dm, sites);
    return true;
}

int ApiList(int sites) {
    char dir[] = "/tmp/bench_api.XXXXXX";
    if (::mkdtemp(dir) == nullptr) return 1;
    TVKTDataModule dm;
    if (!MakeSiteDatabase(dir, sites, dm)) return 1;
    TStatusBoard board;
    ScanOnce(board, sites);
    board.SiteTagsRead(std::make_shared<const SiteTagMap>(SiteTags(dm.adoQ2).All()));
    TApiDatabase database(dm.ConnectionString(), TDbDialect::SQLite);
    TSitesResource resource(database);
    resource.LoadView = [&board](TStatusView& view) {
        view.Load(board);
        return true;
    };
    TApiRequest page;
    page.Query = {{"limit", "100"}};
    std::size_t bytes = 0;
    double coldCpu = 0, warmCpu = 0, wholeCpu = 0, statusCpu = 0;
    const double cold = MillisecondsOf([&] { bytes = WholeBody(resource.List(page)).size(); }, &coldCpu);
    const int runs = 20;
    const double warm = MillisecondsOf(
                            [&] {
                                for (int i = 0; i < runs; ++i)
                                    WholeBody(resource.List(page));
                            },
                            &warmCpu) /
                        runs;
    warmCpu /= runs;
    std::printf("first page of 100: %zu bytes, %.1f ms wall (%.1f ms processor) the first request, %.1f ms wall "
                "(%.1f ms processor) the next ones; target 50 ms: %.2f of it (processor %.2f)\n",
                bytes, cold, coldCpu, warm, warmCpu, std::max(cold, warm) / 50.0, std::max(coldCpu, warmCpu) / 50.0);

    // The whole list as the listener sends it: piece by piece, none of them kept.
    const long before = ResidentKb("VmRSS:", true);
    std::size_t total = 0;
    const double whole = MillisecondsOf(
        [&] {
            const TApiResponse response = resource.List(TApiRequest{});
            for (std::string piece; response.Stream(piece); piece.clear())
                total += piece.size();
        },
        &wholeCpu);
    const double grownMb = double(ResidentKb("VmHWM:") - before) / 1024.0;
    std::printf("whole list of %d: %zu bytes, %.0f ms wall (%.0f ms processor); target 2000 ms: %.2f of it "
                "(processor %.2f)\n",
                sites, total, whole, wholeCpu, whole / 2000.0, wholeCpu / 2000.0);
    std::printf("resident peak growth for the whole list: %.1f MB; target 100 MB: %.2f of it\n", grownMb,
                grownMb / 100.0);

    SiteFilter limited;
    limited.Limit = 100;
    const double status = MillisecondsOf(
                              [&] {
                                  for (int i = 0; i < runs; ++i) {
                                      TStatusView view;
                                      view.Load(board);
                                      bytes = TStatusJson(view, limited, false).Whole().size();
                                  }
                              },
                              &statusCpu) /
                          runs;
    std::printf("/status.json?limit=100: %zu bytes, %.1f ms wall (%.1f ms processor) per request\n", bytes, status,
                statusCpu / runs);
    std::filesystem::remove_all(dir);
    return 0;
}

// The API listener (plain HTTP on loopback) and the admin port over one board of the database's
// sites: a day of history each up to 1,000 sites, one scan beyond (a day of 100,000 takes long to make).
int ServeUi(int sites, int apiPort, int adminPort) {
    char dir[] = "/tmp/bench_ui.XXXXXX";
    if (::mkdtemp(dir) == nullptr) return 1;
    TVKTDataModule dm;
    if (!MakeSiteDatabase(dir, sites, dm)) return 1;
    TApiUsers(dm.adoQ2).Add("bench", "bench pass", TApiRole::Admin);
    TStatusBoard board;
    if (sites <= 1000)
        FillBoard(board, sites, 100000);
    else
        ScanOnce(board, sites);
    board.SiteTagsRead(std::make_shared<const SiteTagMap>(SiteTags(dm.adoQ2).All()));
    std::unique_ptr<MessageLoop> loop = CreatePollMessageLoop();
    ScopedMainLoop installed(loop.get());
    const std::string ini = std::string(dir) + "/vkt.ini";
    std::ofstream(ini) << "[System]\r\nVKTID=B1\r\n[Api]\r\nListen=127.0.0.1:" << apiPort << "\r\n";
    MaintenanceBook book;
    TApiServer api;
    api.ConfigFile = ini;
    api.Board = &board;
    api.Maintenance = &book;
    api.Start(dm.ConnectionString(), TDbDialect::SQLite, 5);
    TWebServer web;
    web.ConfigFile = ini;
    web.ReadSettings = [] { return TWebSettings{"B1", "(local)", "Duskwater", "sa", "", 5, 10, ""}; };
    web.webSock.BindAddress = "127.0.0.1";
    web.Board = &board;
    web.Start(adminPort);
    std::printf("pages on http://127.0.0.1:%d/ui/ (user bench, password \"bench pass\"), board on "
                "http://127.0.0.1:%d/status\n",
                api.Port(), web.webSock.LocalPort());
    std::fflush(stdout);
    loop->Run();
    return 0;
}

int Serve(int port, int sites) {
    TStatusBoard board;
    if (sites > 0) FillBoard(board, sites);
    std::unique_ptr<MessageLoop> loop = CreatePollMessageLoop();
    ScopedMainLoop installed(loop.get());
    TWebServer web;
    web.ConfigFile = "vkt.ini";
    web.ReadSettings = [] { return TWebSettings{"bench", "(local)", "Duskwater", "sa", "", 5, 10, ""}; };
    web.webSock.BindAddress = "127.0.0.1";
    web.Board = &board;
    web.Start(port);
    std::printf("serving on 127.0.0.1:%d\n", web.webSock.LocalPort());
    std::fflush(stdout);
    loop->Run();
    return 0;
}

/// Resident kilobytes and CPU ticks of a process, from /proc.
void Usage(pid_t pid, long& residentKb, long& ticks) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) residentKb = std::atol(line.c_str() + 6);
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    ticks = 0;
    for (int i = 1; i <= 15 && stat >> field; ++i)
        if (i == 14 || i == 15) ticks += std::atol(field.c_str());
}

int ConnectTo(int port, int receiveBuffer) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(std::uint16_t(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The server runs as a child process of its own (`serve 0 SITES`), so its memory is measured alone;
// it says the port it got on its first line. Its peak is taken once every response has stopped
// working (its CPU time stands still): then each slow reader holds all it will hold.
int Slow(const char* self, int readers, int sites) {
    int out[2];
    if (::pipe(out) != 0) return 1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        const std::string count = std::to_string(sites);
        ::execl(self, self, "serve", "0", count.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    FILE* said = ::fdopen(out[0], "r");
    int port = 0;
    if (said == nullptr || std::fscanf(said, "serving on 127.0.0.1:%d", &port) != 1) return 1;
    long before = 0, peak = 0, ticks = 0, last = -1;
    Usage(pid, before, ticks);
    std::vector<int> clients;
    const std::string request = "GET /status.json?history=1 HTTP/1.0\r\n\r\n";
    for (int i = 0; i < readers; ++i) {
        const int fd = ConnectTo(port, 4096);
        if (fd >= 0 && ::send(fd, request.data(), request.size(), 0) > 0) clients.push_back(fd);
    }
    const auto start = std::chrono::steady_clock::now();
    for (int still = 0; still < 10 && std::chrono::steady_clock::now() - start < std::chrono::minutes(5);) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        long now = 0;
        Usage(pid, now, ticks);
        peak = std::max(peak, now);
        still = ticks == last ? still + 1 : 0;
        last = ticks;
    }
    std::printf("%zu slow readers of /status.json?history=1, %d sites: %.1f MB resident before, %.1f MB at the peak "
                "(+%.1f MB)\n",
                clients.size(), sites, double(before) / 1024, double(peak) / 1024, double(peak - before) / 1024);
    for (int fd : clients)
        ::close(fd);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    return 0;
}

int Parse(long count) {
    const std::string lines[] = {"GET /RESULT?VKTID=a&DBServer=%28local%29&DataBase=Duskwater&DBUser=sa&DBPass=x&"
                                 "PollDelay=5&MaxLogFileAgeDays=10&mode=Save+Changes HTTP/1.1",
                                 "Host: 127.0.0.1:8000", "Referer: http://127.0.0.1:8000/RESULT?mode=+Settings+",
                                 "User-Agent: Mozilla/5.0 (X11; Linux x86_64)", "Accept: text/html"};
    const auto start = std::chrono::steady_clock::now();
    long kept = 0;
    for (long i = 0; i < count; ++i) {
        THTTPRequest request;
        for (const std::string& line : lines)
            request.Classify(line);
        kept += request.SameSite() ? 1 : 0;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("parse: %ld requests of 5 lines in %.3f s: %.0f requests/s (%ld same-site)\n", count, seconds,
                double(count) / seconds, kept);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "serve" && argc > 2) return Serve(std::atoi(argv[2]), argc > 3 ? std::atoi(argv[3]) : 0);
    if (mode == "parse") return Parse(argc > 2 ? std::atol(argv[2]) : 200000);
    if (mode == "api") return ApiList(argc > 2 ? std::atoi(argv[2]) : 100000);
    if (mode == "ui")
        return ServeUi(argc > 2 ? std::atoi(argv[2]) : 100000, argc > 3 ? std::atoi(argv[3]) : 0,
                       argc > 4 ? std::atoi(argv[4]) : 0);
    if (mode == "status") return Status(argc > 2 ? std::atoi(argv[2]) : 10000);
    if (mode == "slow") return Slow(argv[0], argc > 2 ? std::atoi(argv[2]) : 64, argc > 3 ? std::atoi(argv[3]) : 10000);
    std::fprintf(stderr,
                 "usage: bench_web serve PORT [SITES] | parse [COUNT] | status [SITES] | slow [READERS] [SITES] | "
                 "api [SITES] | ui [SITES] [API_PORT] [ADMIN_PORT]\n");
    return 2;
}
