// One whole scan of many sites by the real vkt binary with [Scan] Parallel, beside fping on the same
// addresses: answering loopback addresses spread over 127.0.0.0/8 and silent ones routed into a
// namespace host that drops them. Prints the scan's wall time (first "Polling" line to the last site's
// line), the daemon's CPU seconds and peak resident memory, on the embedded database and on
// PostgreSQL; and with every site answering, the second scan on the embedded database alone and
// while 16 clients ask for /status.json without pause. On PostgreSQL also the statements the daemon
// sent from its start to the scan's last site, by kind, and the wall time beside the embedded
// database's. Needs root; prints figures, asserts nothing.
#include "db/data.h"
#include "pgserver.h"
#include "silenthost.h"
#include "testutil.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using Steady = std::chrono::steady_clock;

struct Figures {
    double Wall = 0, Cpu = 0, PeakMb = 0;
    int Awol = 0; ///< "Unable to contact" lines of the last scan
};

std::string Answering(int i) {
    return "127." + std::to_string(1 + i / 60000) + "." + std::to_string(i / 250 % 240) + "." +
           std::to_string(1 + i % 250);
}

std::string Silent(int i) {
    return "198.18." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250);
}

/// Every `step`-th site is silent.
std::vector<std::string> AddressList(int sites, int silent) {
    std::vector<std::string> list;
    const int step = silent > 0 ? sites / silent : sites + 1;
    for (int i = 0, s = 0; i < sites; ++i)
        list.push_back(i % step == step - 1 && s < silent ? Silent(s++) : Answering(i));
    return list;
}

std::string Code(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "S%05d", i);
    return buf;
}

void Seed(TVKTDataModule& dm, const std::vector<std::string>& addresses) {
    ExecStatement(dm.adoQ1, {"DELETE FROM VKT"});
    ExecStatement(dm.adoQ1, {"DELETE FROM site"});
    ExecStatement(dm.adoQ1, {"DELETE FROM alarms"});
    for (std::size_t from = 0; from < addresses.size(); from += 500) {
        std::string sites, vkt;
        for (std::size_t i = from; i < std::min(addresses.size(), from + 500); ++i) {
            const std::string code = SQLLiteral(Code(static_cast<int>(i)));
            sites += std::string(sites.empty() ? "" : ", ") + "(" + code + ", 'bench', " + SQLLiteral(addresses[i]) +
                     ", 1440, 0)";
            vkt += std::string(vkt.empty() ? "" : ", ") + "('B', " + code + ")";
        }
        ExecStatement(dm.adoQ1, {"INSERT INTO site (CODE, sitename, IPaddr, Downtime, contactflag) VALUES " + sites});
        ExecStatement(dm.adoQ1, {"INSERT INTO VKT (VKTID, sitecode) VALUES " + vkt});
    }
    // A server holds statistics of its tables (autovacuum gathers them soon after a load): without
    // them the planner takes a list of codes for most of the table and reads every row.
    if (dm.Dialect() == TDbDialect::PostgreSQL) ExecStatement(dm.adoQ1, {"ANALYZE"});
}

/// A port the daemon can be told to listen on: one the system hands out now (the daemon names no
/// port it got itself).
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &size) == 0)
        port = ntohs(at.sin_port);
    ::close(fd);
    return port;
}

/// `clients` threads asking for `target` one request after another, as fast as the daemon answers,
/// until destroyed; a refused connection (the port not open yet) is tried again.
class WebLoad {
public:
    WebLoad(int port, int clients, const std::string& target) {
        for (int i = 0; i < clients; ++i)
            m_threads.emplace_back([this, port, target] { Ask(port, "GET " + target + " HTTP/1.0\r\n\r\n"); });
    }
    ~WebLoad() {
        m_stop = true;
        for (std::thread& t : m_threads)
            t.join();
    }
    long Answers() const { return m_answers; }

private:
    void Ask(int port, const std::string& request) {
        std::vector<char> buffer(64 * 1024);
        while (!m_stop) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(static_cast<std::uint16_t>(port));
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
                ::send(fd, request.data(), request.size(), 0) <= 0) {
                ::close(fd);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            std::size_t got = 0;
            for (ssize_t n; (n = ::recv(fd, buffer.data(), buffer.size(), 0)) > 0;)
                got += static_cast<std::size_t>(n);
            ::close(fd);
            if (got > 0) ++m_answers;
        }
    }
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_answers{0};
    std::vector<std::thread> m_threads;
};

/// CPU seconds and peak resident megabytes of a running process, from /proc.
void ReadUsage(pid_t pid, Figures& f) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    for (int i = 1; i <= 15 && stat >> field; ++i)
        if (i == 14 || i == 15) f.Cpu += std::stod(field) / static_cast<double>(sysconf(_SC_CLK_TCK));
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) f.PeakMb = std::stod(line.substr(6)) / 1024;
}

/// Runs the daemon in `home` until its `scans`-th scan has written the last site's line; the wall
/// time is that scan's. `ended` runs at the end of each scan with its number, the daemon running.
Figures RunDaemon(const TempDir& home, const std::string& lastCode, int scans = 1,
                  const std::function<void(int)>& ended = {}) {
    const std::string out = home.File("vkt.stdout");
    // Emptied before the daemon starts: the reader below must never see an earlier run's lines.
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fd, 1);
        dup2(fd, 2);
        if (chdir(home.Path().c_str()) != 0) _exit(126);
        setenv("VKT_HOME", home.Path().c_str(), 1);
        setenv("VKT_HEADLESS", "1", 1);
        execl(VKT_BINARY, "vkt", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fd);
    Figures f;
    std::ifstream in;
    std::string text;
    Steady::time_point first{}, last{};
    int done = 0;
    const auto limit = Steady::now() + std::chrono::seconds(120);
    while (last == Steady::time_point{} && Steady::now() < limit) {
        if (!in.is_open()) in.open(out);
        std::string chunk;
        std::string line;
        in.clear();
        while (std::getline(in, line)) {
            if (in.eof()) { // a line still being written: read it again next time
                in.clear();
                in.seekg(-static_cast<std::streamoff>(line.size()), std::ios::cur);
                break;
            }
            if (first == Steady::time_point{} && line.find("Polling ") != std::string::npos) {
                first = Steady::now();
                f.Awol = 0;
            }
            if (line.find("[AWOL]") != std::string::npos) ++f.Awol;
            if (line.find(lastCode + " Responding") != std::string::npos ||
                line.find("contact " + lastCode + " ") != std::string::npos) {
                ++done;
                if (ended) ended(done);
                if (done < scans) {
                    first = {};
                    continue;
                }
                last = Steady::now();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    f.Wall = std::chrono::duration<double>(last - first).count();
    ReadUsage(pid, f);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return f;
}

Figures RunFping(const TempDir& dir, const std::vector<std::string>& addresses) {
    std::ofstream list(dir.File("targets"));
    for (const std::string& a : addresses)
        list << a << '\n';
    list.close();
    const auto start = Steady::now();
    const pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execlp("fping", "fping", "-c1", "-t4000", "-r0", "-i0", "-q", "-f", dir.File("targets").c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Figures f;
    f.Wall = std::chrono::duration<double>(Steady::now() - start).count();
    f.Cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    f.PeakMb = usage.ru_maxrss / 1024.0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) f.Wall = -1; // not installed, or it failed
    return f;
}

/// The duration of the last completed scan as the daemon's board tells it (0 when it cannot).
double BoardScanSeconds(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string request = "GET /metrics HTTP/1.0\r\n\r\n";
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
        ::send(fd, request.data(), request.size(), 0) > 0) {
        char buffer[65536];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            reply.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    const std::size_t at = reply.find("\nvkt_scan_duration_seconds ");
    return at == std::string::npos ? 0 : std::atof(reply.c_str() + at + 28);
}

/// The daemon's second scan (its board full from the first, the scans one after the other) alone,
/// and again while 16 clients ask for /status.json from the first scan's end on; the durations as
/// the daemon measured them.
void UnderLoad(const TempDir& home, TVKTDataModule& dm, const std::string& scan, const std::string& lastCode) {
    const int port = FreePort();
    WriteFileText(home.File("vkt.ini"), "[System]\nVKTID=B\nDBProvider=" + dm.DBProvider + "\nDataBase=" + dm.DataBase +
                                            "\nDBServer=" + dm.DBServer +
                                            "\nDBUser=vkt\nDBPass=\nPollDelay=0\nNetPort=" + std::to_string(port) +
                                            "\n" + scan);
    double alone = 0, loaded = 0;
    std::unique_ptr<WebLoad> load;
    RunDaemon(home, lastCode, 2, [&](int done) {
        if (done == 2) alone = BoardScanSeconds(port);
    });
    RunDaemon(home, lastCode, 2, [&](int done) {
        if (done == 1) load = std::make_unique<WebLoad>(port, 16, "/status.json");
        if (done == 2) loaded = BoardScanSeconds(port);
    });
    const long answers = load ? load->Answers() : 0;
    load.reset();
    std::printf("  %-22s %7.2f s (the daemon's own measure)\n", "second scan alone", alone);
    std::printf("  %-22s %7.2f s, %.2fx the scan alone (%ld answers)\n", "16 on /status.json", loaded,
                alone > 0 ? loaded / alone : 0.0, answers);
}

/// The physical limit of one scan: the time-out after the last request, plus the time one datagram
/// ICMP socket takes to send one echo request to every address, as fast as the system takes them.
double PhysicalLimit(const std::vector<std::string>& addresses) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP);
    if (fd < 0) fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP); // root outside the ping group
    if (fd < 0) return 0;
    std::uint8_t request[64] = {8, 0};
    const auto start = Steady::now();
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        inet_pton(AF_INET, addresses[i].c_str(), &to.sin_addr);
        request[6] = static_cast<std::uint8_t>(i >> 8);
        request[7] = static_cast<std::uint8_t>(i);
        request[2] = request[3] = 0;
        std::uint32_t sum = 0;
        for (std::size_t b = 0; b < sizeof request; b += 2)
            sum += static_cast<std::uint32_t>(request[b] << 8 | request[b + 1]);
        while (sum >> 16)
            sum = (sum & 0xFFFF) + (sum >> 16);
        request[2] = static_cast<std::uint8_t>(~sum >> 8);
        request[3] = static_cast<std::uint8_t>(~sum);
        while (::sendto(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0 &&
               (errno == EAGAIN || errno == ENOBUFS))
            std::this_thread::yield();
    }
    const double send = std::chrono::duration<double>(Steady::now() - start).count();
    ::close(fd);
    return 4.0 + send;
}

void Print(const char* what, const Figures& f, const Figures& fping, double limit) {
    std::printf("  %-22s %7.2f s wall %6.2f CPU-s %7.1f MB peak %6d AWOL   wall %.2fx limit", what, f.Wall, f.Cpu,
                f.PeakMb, f.Awol, f.Wall / limit);
    if (fping.Wall > 0) std::printf(", %.2fx fping", f.Wall / fping.Wall);
    std::printf("\n");
}

/// The statement counts start again from nothing (and the server keeps them from now on).
void ResetStatements(TVKTDataModule& dm) {
    ExecStatement(dm.adoQ1, {"CREATE EXTENSION IF NOT EXISTS pg_stat_statements"});
    OpenStatement(dm.adoQ1, {"SELECT pg_stat_statements_reset()"});
}

/// The statements the server ran since the reset, by kind: the text with its values and its lists of
/// values folded, the most frequent first, with the server's time on them; and the total.
void PrintStatements(TVKTDataModule& dm) {
    OpenStatement(dm.adoQ1, {"SELECT query, calls, total_exec_time FROM pg_stat_statements WHERE query NOT LIKE "
                             "'%pg_stat_statements%'"});
    const std::regex values(R"(\$\d+(, \$\d+)*)"), rows(R"(\(\.\.\.\)(, \(\.\.\.\))+)"), blanks(R"(\s+)");
    std::map<std::string, std::pair<long long, double>> kinds; // calls, milliseconds
    long long total = 0;
    for (; !dm.adoQ1.Eof(); dm.adoQ1.Next()) {
        std::string text = std::regex_replace(dm.adoQ1.FieldByName("query").AsString(), blanks, " ");
        text = std::regex_replace(std::regex_replace(text, values, "..."), rows, "(...)");
        const long long calls = std::atoll(dm.adoQ1.FieldByName("calls").AsString().c_str());
        auto& kind = kinds[text.substr(0, 100)];
        kind.first += calls;
        kind.second += std::atof(dm.adoQ1.FieldByName("total_exec_time").AsString().c_str());
        total += calls;
    }
    std::vector<std::tuple<long long, double, std::string>> sorted;
    for (const auto& [text, kind] : kinds)
        sorted.emplace_back(kind.first, kind.second, text);
    std::sort(sorted.rbegin(), sorted.rend());
    std::printf("  statements on PostgreSQL from the daemon's start to the scan's end: %lld\n", total);
    std::printf("    %7s %9s\n", "calls", "server ms");
    for (const auto& [calls, ms, text] : sorted)
        std::printf("    %7lld %9.1f  %s\n", calls, ms, text.c_str());
}

void Scenario(int sites, int silent, bool withFping, const std::string& pgDatabase, int pgPort) {
    const std::vector<std::string> addresses = AddressList(sites, silent);
    TempDir home;
    const double limit = PhysicalLimit(addresses);
    std::printf("%d sites, %d silent (Parallel=%d, SendInterval=0)\n", sites, silent, sites);
    std::printf("  %-22s %7.2f s wall (4-s time-out + sending every request)\n", "physical limit", limit);
    Figures fping;
    if (withFping) {
        fping = RunFping(home, addresses);
        std::printf("  %-22s %7.2f s wall %6.2f CPU-s %7.1f MB peak   wall %.2fx limit\n", "fping -c1 -t4000 -i0",
                    fping.Wall, fping.Cpu, fping.PeakMb, fping.Wall / limit);
    }
    const std::string scan = "[Scan]\nParallel=" + std::to_string(sites) + "\nSendInterval=0\n";
    Figures embedded;
    for (const bool pg : {false, true}) {
        if (pg && pgDatabase.empty()) continue;
        TVKTDataModule dm;
        dm.DBProvider = pg ? "PostgreSQL" : "SQLite";
        dm.DataBase = pg ? pgDatabase : home.File("vkt");
        dm.DBServer = pg ? "127.0.0.1," + std::to_string(pgPort) : "";
        dm.DBUser = "vkt";
        if (!dm.ActivateConnection()) {
            std::printf("  %s: %s\n", dm.DBProvider.c_str(), dm.LastConnectionError().c_str());
            continue;
        }
        Seed(dm, addresses);
        WriteFileText(home.File("vkt.ini"), "[System]\nVKTID=B\nDBProvider=" + dm.DBProvider +
                                                "\nDataBase=" + dm.DataBase + "\nDBServer=" + dm.DBServer +
                                                "\nDBUser=vkt\nDBPass=\nPollDelay=60\nNetPort=0\n" + scan);
        if (pg) ResetStatements(dm);
        dm.conMain.Close();
        const Figures alone = RunDaemon(home, Code(sites - 1));
        Print(pg ? "vkt on PostgreSQL" : "vkt on SQLite", alone, fping, limit);
        if (pg) {
            if (embedded.Wall > 0)
                std::printf("  %-22s %7.2fx wall, %.2fx CPU-s\n", "PostgreSQL / SQLite", alone.Wall / embedded.Wall,
                            embedded.Cpu > 0 ? alone.Cpu / embedded.Cpu : 0.0);
            if (dm.ActivateConnection()) PrintStatements(dm);
            continue;
        }
        embedded = alone;
        if (silent == 0) UnderLoad(home, dm, scan, Code(sites - 1)); // one line per scan names the last site
    }
}

} // namespace

/// scan_scale [sites [silent]] [--no-fping] [--no-pg]: without sites, 10,000 (none and 500 silent) and
/// 1,000 (100 silent). fping takes minutes for 100,000 sites; --no-fping leaves it out.
int main(int argc, char** argv) {
    int sites = 0, silent = -1;
    bool withFping = true, withPg = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--no-fping")
            withFping = false;
        else if (a == "--no-pg")
            withPg = false;
        else if (sites == 0)
            sites = std::atoi(argv[i]);
        else
            silent = std::atoi(argv[i]);
    }
    SilentHostNamespace host("scale");
    std::string why;
    if (!host.Create(why) || !host.Route("198.18.0.0/16")) {
        std::fprintf(stderr, "scan_scale: %s\n", why.empty() ? "cannot route the silent addresses" : why.c_str());
        return 1;
    }
    std::string pgDatabase;
    int pgPort = 0;
    try {
        if (!withPg) throw std::runtime_error("--no-pg");
        TestPgServer::AlsoSet("shared_preload_libraries", "pg_stat_statements");
        pgDatabase = TestPgServer::Shared().CreateDatabase();
        pgPort = TestPgServer::Shared().Port();
    } catch (const std::exception& e) {
        std::printf("PostgreSQL skipped: %s\n", e.what());
    }
    if (sites > 0) {
        Scenario(sites, silent >= 0 ? silent : sites / 20, withFping, pgDatabase, pgPort);
        return 0;
    }
    Scenario(10000, 0, withFping, pgDatabase, pgPort); // no time-out to wait for: the scan's own work alone
    Scenario(10000, 500, withFping, pgDatabase, pgPort);
    Scenario(1000, 100, withFping, pgDatabase, pgPort);
    return 0;
}
