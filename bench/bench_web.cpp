// Web administration benchmarks: `serve PORT [SITES]` runs the pages from the current directory for a
// load generator (bench_web_nginx.sh), with a status board of SITES sites (a day of history each);
// `parse N` times request recognition and query parsing in-process; `status SITES` times building
// /status and /metrics in-process.
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/msgloop.h"
#include "web/httprequest.h"
#include "web/statuspages.h"
#include "web/webserver.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// A day of 5-minute scans of `sites` sites, a few silent and a few losing now and then. The clock
// it leaves installed keeps the board's day current.
ManualClock& FillBoard(TStatusBoard& board, int sites) {
    static ManualClock clock(Now() - 1);
    SetClock(&clock);
    for (int round = 0; round < TRttHistory::Buckets; ++round, clock.Advance(std::chrono::minutes(5)))
        for (int i = 0; i < sites; ++i) {
            const bool answered = i % 97 != 0 && (i + round) % 41 != 0;
            board.SiteProbed({"S" + std::to_string(i), "Site " + std::to_string(i),
                              "10." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) + ".1", answered,
                              1 + (i * 7 + round * 13) % 90, answered ? "" : "timed out"});
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
            bytes = std::string(path) == "/status" ? StatusPageHtml(view, "").size() : StatusMetrics(view).size();
        }
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::printf("%-8s %d sites: %zu bytes, built in %.1f ms per request\n", path, sites, bytes, ms / runs);
    }
    SetClock(nullptr);
    return 0;
}

int Serve(int port, int sites) {
    TStatusBoard board;
    if (sites > 0) FillBoard(board, sites);
    std::unique_ptr<MessageLoop> loop = CreatePollMessageLoop();
    ScopedMainLoop installed(loop.get());
    TWebServer web;
    web.ConfigFile = "vkt.ini";
    web.ReadSettings = [] { return TWebSettings{"bench", "(local)", "Duskwater", "sa", "", 5, 10}; };
    web.webSock.BindAddress = "127.0.0.1";
    web.Board = &board;
    web.Start(port);
    std::printf("serving on 127.0.0.1:%d\n", web.webSock.LocalPort());
    std::fflush(stdout);
    loop->Run();
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
    if (mode == "status") return Status(argc > 2 ? std::atoi(argv[2]) : 10000);
    std::fprintf(stderr, "usage: bench_web serve PORT [SITES] | parse [COUNT] | status [SITES]\n");
    return 2;
}
