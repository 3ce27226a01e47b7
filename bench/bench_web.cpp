// Web administration benchmarks: `serve PORT` runs the pages from the current directory for a load
// generator (bench_web_nginx.sh), `parse N` times request recognition and query parsing in-process.
#include "platform/msgloop.h"
#include "web/httprequest.h"
#include "web/webserver.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int Serve(int port) {
    std::unique_ptr<MessageLoop> loop = CreatePollMessageLoop();
    ScopedMainLoop installed(loop.get());
    TWebServer web;
    web.ConfigFile = "vkt.ini";
    web.ReadSettings = [] { return TWebSettings{"bench", "(local)", "Duskwater", "sa", "", 5, 10}; };
    web.webSock.BindAddress = "127.0.0.1";
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
    if (mode == "serve" && argc > 2) return Serve(std::atoi(argv[2]));
    if (mode == "parse") return Parse(argc > 2 ? std::atol(argv[2]) : 200000);
    std::fprintf(stderr, "usage: bench_web serve PORT | parse [COUNT]\n");
    return 2;
}
