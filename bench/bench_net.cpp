// Figures for the socket layer:
//   bench_net idle [seconds]          CPU used while one client stays connected and silent
//   bench_net load [seconds] [clients] connections per second through the listener, in-process clients
//   bench_net serve [port]            serves the trivial answer until killed (for an outside load tool)
// The server thread reads the request lines up to the empty one, answers a small HTTP/1.0 response
// and closes, one thread per connection.
#include "net/mssocket-listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

class AnswerThread : public TmsServerThread {
public:
    void Execute() override {
        try {
            while (!Socket->ReadLine().empty() && !Socket->Disconnected()) {
            }
            Socket->WriteLine("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 3\r\n\r\nok");
            Socket->Close();
        } catch (const std::exception&) {
        }
    }
};

double CpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval& t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

int Connect(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool OneRequest(int port) {
    int fd = Connect(port);
    if (fd == -1) return false;
    const char request[] = "GET / HTTP/1.0\r\n\r\n";
    ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL);
    char buffer[512];
    long total = 0, n = 0;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        total += n;
    ::close(fd);
    return total > 0;
}

void StartListener(TmsListenerSocket& listener, int port) {
    listener.BindAddress = "127.0.0.1";
    listener.Port = port;
    listener.ServerThreadClass = ServerThreadClassOf<AnswerThread>();
    listener.Listen();
}

int Idle(int seconds) {
    TmsListenerSocket listener;
    StartListener(listener, 0);
    int fd = Connect(listener.LocalPort());
    double cpu = CpuMs();
    auto end = SteadyClock::now() + std::chrono::seconds(seconds);
    MainLoop().WaitUntil([&] { return SteadyClock::now() >= end; }, std::chrono::seconds(seconds));
    double used = CpuMs() - cpu;
    std::printf("idle: one silent connection for %d s used %.1f ms CPU = %.3f %% of one core\n", seconds, used,
                used / (seconds * 10.0));
    ::close(fd);
    return 0;
}

int Load(int seconds, int clients) {
    TmsListenerSocket listener;
    StartListener(listener, 0);
    int port = listener.LocalPort();
    std::atomic<bool> stop{false};
    std::atomic<long> done{0}, failed{0};
    std::atomic<int> running{clients};
    std::vector<std::thread> workers;
    for (int i = 0; i < clients; ++i)
        workers.emplace_back([&] {
            while (!stop)
                (OneRequest(port) ? done : failed)++;
            --running;
            MainLoop().Wake();
        });
    auto start = SteadyClock::now();
    MainLoop().WaitUntil([&] { return false; }, std::chrono::seconds(seconds));
    stop = true;
    double elapsed = std::chrono::duration<double>(SteadyClock::now() - start).count();
    MainLoop().WaitUntil([&] { return running == 0; }, std::chrono::seconds(10)); // the last requests finish
    for (auto& w : workers)
        w.join();
    std::printf("load: %d clients, %ld connections in %.1f s = %.0f connections/s (%ld failed)\n", clients, done.load(),
                elapsed, double(done) / elapsed, failed.load());
    return 0;
}

int Serve(int port) {
    TmsListenerSocket listener;
    StartListener(listener, port);
    std::printf("serving on 127.0.0.1:%d\n", listener.LocalPort());
    std::fflush(stdout);
    MainLoop().Run();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    auto arg = [&](int i, int def) { return argc > i ? std::atoi(argv[i]) : def; };
    if (mode == "idle") return Idle(arg(2, 30));
    if (mode == "load") return Load(arg(2, 5), arg(3, 16));
    if (mode == "serve") return Serve(arg(2, 8080));
    std::fprintf(stderr, "usage: bench_net idle [seconds] | load [seconds] [clients] | serve [port]\n");
    return 2;
}
