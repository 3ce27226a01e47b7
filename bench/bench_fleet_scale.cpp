// A fleet of real vkt daemons on this machine sharing many sites ([Cluster] Copies) on one private
// PostgreSQL server: answering loopback addresses, and silent ones routed into a namespace host that
// drops them, each silent site with a mail contact. Prints the probes each site got in one round (every
// member's next whole scan), the sites per member, the round's wall time, each member's CPU seconds in
// that round and its peak resident memory, the rows the database wrote in the round by table; then, for
// each kill -9 of a member, the seconds until every site it probed was probed by the live member that
// took it over (so that `copies` live members probe it again), and the member restarted; at the end the problem mails
// per silent site (one each: none lost, none doubled). Needs root; prints figures, asserts nothing.
#include "cluster/rendezvous.h"
#include "db/data.h"
#include "peers.h"
#include "pgserver.h"
#include "silenthost.h"
#include "testutil.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Steady = std::chrono::steady_clock;
constexpr int SilentEvery = 500;

std::string Code(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "S%07d", i);
    return buf;
}

std::string Address(int i) {
    if (i % SilentEvery == SilentEvery - 1) {
        const int s = i / SilentEvery;
        return "198.19." + std::to_string(s / 250) + "." + std::to_string(1 + s % 250);
    }
    return "127." + std::to_string(1 + i / 60000) + "." + std::to_string(i / 250 % 240) + "." +
           std::to_string(1 + i % 250);
}

bool Silent(int i) {
    return i % SilentEvery == SilentEvery - 1;
}

void Seed(TVKTDataModule& dm, int sites) {
    for (int from = 0; from < sites; from += 1000) {
        std::string rows, vkt;
        for (int i = from; i < std::min(sites, from + 1000); ++i) {
            const std::string code = SQLLiteral(Code(i));
            rows += std::string(rows.empty() ? "" : ", ") + "(" + code + ", 'bench', " + SQLLiteral(Address(i)) +
                    ", 0, 'ops@example.org', " + (Silent(i) ? "2" : "0") + ")";
            vkt += std::string(vkt.empty() ? "" : ", ") + "('F', " + code + ")";
        }
        ExecStatement(dm.adoQ1,
                      {"INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag) VALUES " + rows});
        ExecStatement(dm.adoQ1, {"INSERT INTO VKT (VKTID, sitecode) VALUES " + vkt});
    }
    ExecStatement(dm.adoQ1, {"ANALYZE"});
}

/// One member: its process, and what its log says of each site, read as the log grows.
class Member {
public:
    Member(const std::string& name, const std::string& ini, int sites) : m_name(name), m_polledAt(sites) {
        WriteFileText(m_home.File("vkt.ini"), ini + "Node=" + name + "\n");
    }
    ~Member() { Kill(); }

    void Start() {
        const std::string out = m_home.File("vkt.stdout");
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        m_pid = fork();
        if (m_pid == 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            if (chdir(m_home.Path().c_str()) != 0) _exit(126);
            setenv("VKT_HOME", m_home.Path().c_str(), 1);
            setenv("VKT_HEADLESS", "1", 1);
            execl(VKT_BINARY, "vkt", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fd);
        m_in = std::ifstream(out);
        m_cpuBase = 0;
    }
    void Kill() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    bool Running() const { return m_pid > 0; }
    void Signal(int signal) const {
        if (m_pid > 0) kill(m_pid, signal);
    }
    const std::string& Home() const { return m_home.Path(); }
    const std::string& Name() const { return m_name; }

    /// Reads what the log gained: the moment each site was last polled, and while counting the next
    /// whole scan of `share` (as many "Polling" lines of it as it has sites).
    void Read(const std::vector<int>& share) {
        std::string line;
        m_in.clear();
        while (std::getline(m_in, line)) {
            if (m_in.eof()) { // a line still being written
                m_in.clear();
                m_in.seekg(-static_cast<std::streamoff>(line.size()), std::ios::cur);
                break;
            }
            const std::size_t at = line.find("Polling S");
            if (at != std::string::npos) {
                const int i = std::atoi(line.c_str() + at + 9);
                if (i >= 0 && i < static_cast<int>(m_polledAt.size())) Polled(i, share, Stamped(line));
            } else if (line.find("[WARNING]  Cluster:") != std::string::npos) {
                m_lines.push_back(line.substr(line.find("Cluster:")));
            }
        }
    }
    /// Counts the next whole scan, the first that begins at `from` or later (the members begin theirs at
    /// the clock's intervals): a count begun in the middle of a scan would run on into the next one.
    void CountNextScan(Steady::time_point from) {
        m_scan = Waiting;
        m_countFrom = from;
        m_count.assign(m_polledAt.size(), 0);
    }
    bool ScanCounted() const { return m_scan == Done; }
    const std::vector<std::uint8_t>& Counts() const { return m_count; }
    Steady::time_point ScanStart() const { return m_scanStart; }
    Steady::time_point ScanEnd() const { return m_scanEnd; }
    Steady::time_point LastPolled(int i) const { return m_polledAt[i]; }
    /// Notes the first poll of each site from `since` on (the last one may be a later scan's).
    void MarkSince(Steady::time_point since) {
        m_since = since;
        m_firstSince.assign(m_polledAt.size(), Steady::time_point::max());
    }
    Steady::time_point FirstPolledSince(int i) const { return m_firstSince[i]; }
    std::vector<std::string> TakeLines() { return std::exchange(m_lines, {}); }
    /// Whether a "Cluster:" line not taken yet holds `text`.
    bool Said(const std::string& text) const {
        return std::any_of(m_lines.begin(), m_lines.end(),
                           [&](const std::string& l) { return l.find(text) != std::string::npos; });
    }

    /// CPU seconds since the last call, and the peak resident megabytes.
    double CpuSinceLast() {
        const double now = Cpu();
        const double d = now - m_cpuBase;
        m_cpuBase = now;
        return d;
    }
    double PeakMb() const {
        std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024;
        return 0;
    }

private:
    enum Scan { Off, Waiting, Counting, Done };
    // A scan may begin anywhere in the share (the server hands the list out from where another reader
    // of the table is): a whole scan is as many probes of the share as it has sites, from the first.
    void Polled(int i, const std::vector<int>& share, Steady::time_point when) {
        m_polledAt[i] = when;
        if (when >= m_since && m_firstSince[i] == Steady::time_point::max()) m_firstSince[i] = when;
        if (m_scan == Waiting && when > m_countFrom && std::binary_search(share.begin(), share.end(), i)) {
            m_scan = Counting;
            m_scanStart = when;
            m_seen = 0;
        }
        if (m_scan != Counting) return;
        ++m_count[i];
        if (std::binary_search(share.begin(), share.end(), i) && ++m_seen == share.size()) {
            m_scan = Done;
            m_scanEnd = when;
        }
    }
    // When the member wrote the line, by its stamp ("2026-12-10 17:53:03"), as the end of that second:
    // at a million sites the bench reads ten logs of thousands of lines a second on the members' two
    // processors and may see a line many seconds after it was written. Unstamped lines count as now.
    Steady::time_point Stamped(const std::string& line) {
        if (line.size() < 19) return Steady::now();
        if (line.compare(0, 19, m_stamp) != 0) {
            std::tm tm{};
            if (std::sscanf(line.c_str(), "%d-%d-%d %d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                            &tm.tm_min, &tm.tm_sec) != 6)
                return Steady::now();
            tm.tm_year -= 1900;
            tm.tm_mon -= 1;
            tm.tm_isdst = -1;
            const auto wall = std::chrono::system_clock::from_time_t(std::mktime(&tm)) + std::chrono::seconds(1);
            m_stamp = line.substr(0, 19);
            m_stampAt = Steady::now() - (std::chrono::system_clock::now() - wall);
        }
        return m_stampAt;
    }
    double Cpu() const {
        std::ifstream stat("/proc/" + std::to_string(m_pid) + "/stat");
        std::string field;
        double cpu = 0;
        for (int i = 1; i <= 15 && stat >> field; ++i)
            if (i == 14 || i == 15) cpu += std::stod(field) / static_cast<double>(sysconf(_SC_CLK_TCK));
        return cpu;
    }

    std::string m_name;
    TempDir m_home;
    pid_t m_pid = -1;
    std::ifstream m_in;
    std::vector<Steady::time_point> m_polledAt;
    std::vector<std::uint8_t> m_count;
    Scan m_scan = Off;
    std::size_t m_seen = 0;
    Steady::time_point m_scanStart, m_scanEnd, m_countFrom;
    std::string m_stamp;
    Steady::time_point m_stampAt;
    Steady::time_point m_since = Steady::time_point::max();
    std::vector<Steady::time_point> m_firstSince;
    std::vector<std::string> m_lines;
    double m_cpuBase = 0;
};

/// Rows inserted, updated and deleted per table of the database so far.
std::map<std::string, long long> RowsWritten(TVKTDataModule& dm) {
    std::map<std::string, long long> rows;
    // The server publishes its counts about once a second: this read waits for them.
    ExecStatement(dm.adoQ1, {"SELECT pg_stat_force_next_flush()"});
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    OpenStatement(dm.adoQ1, {"SELECT relname, n_tup_ins + n_tup_upd + n_tup_del AS n FROM pg_stat_user_tables"});
    for (; !dm.adoQ1.Eof(); dm.adoQ1.Next())
        rows[dm.adoQ1.FieldByName("relname").AsString()] = dm.adoQ1.FieldByName("n").AsInteger();
    return rows;
}

class Fleet {
public:
    Fleet(int sites, int members, int copies, const std::string& ini) : m_sites(sites), m_copies(copies) {
        for (int m = 0; m < members; ++m)
            m_members.push_back(std::make_unique<Member>("node" + std::to_string(m + 1), ini, sites));
    }
    Member& operator[](int m) { return *m_members[m]; }
    int Size() const { return static_cast<int>(m_members.size()); }

    /// The sites of each member under the members now running, in site-list order.
    std::vector<std::vector<int>> Shares() const {
        std::vector<std::string> live;
        for (const auto& m : m_members)
            if (m->Running()) live.push_back(m->Name());
        const Rendezvous hrw(live);
        std::vector<std::vector<int>> shares(m_members.size());
        for (int i = 0; i < m_sites; ++i)
            for (std::size_t m = 0; m < m_members.size(); ++m)
                if (m_members[m]->Running() && hrw.Holds(m_members[m]->Name(), Code(i), m_copies))
                    shares[m].push_back(i);
        return shares;
    }
    void ReadAll(const std::vector<std::vector<int>>& shares) {
        for (std::size_t m = 0; m < m_members.size(); ++m)
            if (m_members[m]->Running()) m_members[m]->Read(shares[m]);
    }
    /// Waits until `done` holds, reading the logs; false after `limit`.
    template <class Done>
    bool Await(const std::vector<std::vector<int>>& shares, std::chrono::seconds limit, Done done) {
        for (const auto end = Steady::now() + limit; Steady::now() < end;
             std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
            ReadAll(shares);
            if (done()) return true;
        }
        return false;
    }

private:
    int m_sites, m_copies;
    std::vector<std::unique_ptr<Member>> m_members;
};

void PrintLines(Fleet& fleet) {
    for (int m = 0; m < fleet.Size(); ++m)
        for (const std::string& line : fleet[m].TakeLines())
            std::printf("    %s: %s\n", fleet[m].Name().c_str(), line.c_str());
}

/// One round: every member's next whole scan of its share; `print` the figures.
void Round(Fleet& fleet, TVKTDataModule& dm, int sites, int copies, std::chrono::seconds limit, bool print) {
    const auto shares = fleet.Shares();
    // The next minute of the clock (PollDelay=1), where every member begins its next scan.
    const auto wall = std::chrono::system_clock::now();
    const auto minute = std::chrono::ceil<std::chrono::minutes>(wall);
    const auto from = Steady::now() + (minute - wall);
    for (int m = 0; m < fleet.Size(); ++m)
        fleet[m].CountNextScan(from);
    const auto rowsBefore = RowsWritten(dm);
    for (int m = 0; m < fleet.Size(); ++m)
        fleet[m].CpuSinceLast();
    const bool whole = fleet.Await(shares, limit, [&] {
        for (int m = 0; m < fleet.Size(); ++m)
            if (!fleet[m].ScanCounted()) return false;
        return true;
    });
    const auto rowsAfter = RowsWritten(dm);
    if (!print) return;
    if (!whole) std::printf("  the round did not end within %lld s\n", static_cast<long long>(limit.count()));
    std::vector<int> probes(sites, 0);
    Steady::time_point first = fleet[0].ScanStart(), last = fleet[0].ScanEnd();
    for (int m = 0; m < fleet.Size(); ++m) {
        for (int i = 0; i < sites; ++i)
            probes[i] += fleet[m].Counts()[i];
        first = std::min(first, fleet[m].ScanStart());
        last = std::max(last, fleet[m].ScanEnd());
    }
    std::map<int, int> histogram;
    for (int p : probes)
        ++histogram[p];
    std::printf("  probes per site in the round:");
    for (const auto& [p, n] : histogram)
        std::printf(" %d probes: %d sites%s", p, n, p == copies ? "" : " (!)");
    std::printf("\n  round wall time (first member's first probe to last member's last result): %.1f s\n",
                std::chrono::duration<double>(last - first).count());
    std::size_t least = SIZE_MAX, most = 0;
    for (const auto& s : shares) {
        least = std::min(least, s.size());
        most = std::max(most, s.size());
    }
    std::printf("  sites per member: %zu to %zu (even: %.0f)\n", least, most, double(sites) * copies / fleet.Size());
    for (int m = 0; m < fleet.Size(); ++m)
        std::printf("    %-8s %7zu sites, its scan from %5.1f s for %6.1f s, %7.2f CPU-s in the round, %7.1f MB peak\n",
                    fleet[m].Name().c_str(), shares[m].size(),
                    std::chrono::duration<double>(fleet[m].ScanStart() - first).count(),
                    std::chrono::duration<double>(fleet[m].ScanEnd() - fleet[m].ScanStart()).count(),
                    fleet[m].CpuSinceLast(), fleet[m].PeakMb());
    // Table site gets each answering site's round-trip time, as a lone daemon stores it: counted apart.
    long long total = 0, rtts = 0;
    std::string byTable;
    for (const auto& [table, n] : rowsAfter) {
        const long long d = n - (rowsBefore.count(table) ? rowsBefore.at(table) : 0);
        if (d == 0) continue;
        (table == "site" ? rtts : total) += d;
        if (table != "site") byTable += " " + table + " " + std::to_string(d);
    }
    std::printf("  rows written in the round: %lld (%s ) for %d silent sites, and %lld LastRTT updates\n", total,
                byTable.c_str(), sites / SilentEvery, rtts);
}

/// Kills member `victim` and waits until each of its sites was probed since by each live member that
/// took it over; the site's other members go on probing it at their own poll.
double Takeover(Fleet& fleet, int victim, std::chrono::seconds limit) {
    const auto before = fleet.Shares();
    const auto killed = Steady::now();
    for (int m = 0; m < fleet.Size(); ++m)
        fleet[m].MarkSince(killed);
    fleet[victim].Kill();
    const std::time_t at = std::time(nullptr);
    char when[16];
    std::strftime(when, sizeof when, "%H:%M:%S", std::localtime(&at));
    std::printf("at %s ", when);
    const auto after = fleet.Shares();
    std::vector<std::pair<int, int>> inherited; // site, member
    for (int m = 0; m < fleet.Size(); ++m)
        for (int i : after[m])
            if (!std::binary_search(before[m].begin(), before[m].end(), i)) inherited.emplace_back(i, m);
    const bool done = fleet.Await(after, limit, [&] {
        for (const auto& [i, m] : inherited)
            if (fleet[m].FirstPolledSince(i) == Steady::time_point::max()) return false;
        return true;
    });
    if (!done) return -1;
    // Which heir was last, and how far behind the first: a slow heir is named in the report.
    std::map<int, double> heirs;
    for (const auto& [i, m] : inherited)
        heirs[m] = std::max(heirs[m], std::chrono::duration<double>(fleet[m].FirstPolledSince(i) - killed).count());
    auto last = heirs.begin(), first = heirs.begin();
    for (auto it = heirs.begin(); it != heirs.end(); ++it) {
        if (it->second > last->second) last = it;
        if (it->second < first->second) first = it;
    }
    if (!heirs.empty())
        std::printf("(heirs done after %.1f to %.1f s, the last %s) ", first->second, last->second,
                    fleet[last->first].Name().c_str());
    return heirs.empty() ? 0 : last->second;
}

} // namespace

/// fleet_scale [sites [members [copies [kills [pauses]]]]]: by default 20,000 sites, 4 members, 2 copies, 1
/// kill, no pause.
int main(int argc, char** argv) {
    const int sites = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int members = argc > 2 ? std::atoi(argv[2]) : 4;
    const int copies = argc > 3 ? std::atoi(argv[3]) : 2;
    const int kills = argc > 4 ? std::atoi(argv[4]) : 1;
    const int pauses = argc > 5 ? std::atoi(argv[5]) : 0;
    SilentHostNamespace host("fleetscale", "100.64.41");
    std::string why;
    if (!host.Create(why) || !host.Route("198.19.0.0/16")) {
        std::fprintf(stderr, "fleet_scale: %s\n", why.empty() ? "cannot route the silent addresses" : why.c_str());
        return 1;
    }
    TestMailServer mail;
    if (!mail.ready) {
        std::fprintf(stderr, "fleet_scale: aiosmtpd did not start (package python3-aiosmtpd)\n");
        return 1;
    }
    TVKTDataModule dm;
    dm.DBProvider = "PostgreSQL";
    dm.DataBase = TestPgServer::Shared().CreateDatabase();
    dm.DBServer = "127.0.0.1," + std::to_string(TestPgServer::Shared().Port());
    dm.DBUser = "vkt";
    if (!dm.ActivateConnection()) {
        std::fprintf(stderr, "fleet_scale: %s\n", dm.LastConnectionError().c_str());
        return 1;
    }
    Seed(dm, sites);
    const int parallel = std::min(sites, 100000);
    const std::string ini =
        "[System]\nVKTID=F\nDBProvider=PostgreSQL\nDataBase=" + dm.DataBase + "\nDBServer=" + dm.DBServer +
        "\nDBUser=vkt\nDBPass=\nPollDelay=1\nNetPort=0\n[Mail]\n" + "Server=127.0.0.1:" + std::to_string(mail.port) +
        "\nSender=vkt@example.org\n" + "[Scan]\nParallel=" + std::to_string(parallel) +
        "\nSendInterval=0\n[Cluster]\nCopies=" + std::to_string(copies) + "\nHeartbeat=5\nLease=30\n";
    std::printf("%d sites (%d silent), %d members, Copies=%d, PollDelay=1, Heartbeat=5\n", sites, sites / SilentEvery,
                members, copies);
    Fleet fleet(sites, members, copies, ini);
    const auto started = Steady::now();
    for (int m = 0; m < members; ++m)
        fleet[m].Start();
    const auto limit = std::chrono::seconds(600);
    // Settled once a whole round ran under all the members: the next one is measured.
    Round(fleet, dm, sites, copies, limit, false);
    std::printf("  (the first round, members joining, ended %.0f s after the start)\n",
                std::chrono::duration<double>(Steady::now() - started).count());
    PrintLines(fleet);
    // Two rounds: a member reads the group's rows for its board once after its first scan and then
    // seldom (every 2,000 s at a million sites), so that read may fall in the first of them.
    std::printf("a round of the whole fleet:\n");
    Round(fleet, dm, sites, copies, limit, true);
    std::printf("the next round:\n");
    Round(fleet, dm, sites, copies, limit, true);
    std::mt19937 random(std::random_device{}());
    for (int k = 0; k < kills; ++k) {
        const int victim = static_cast<int>(random() % members);
        const double seconds = Takeover(fleet, victim, limit);
        std::printf("kill -9 %s: each of its sites probed by the member that took it over after %.1f s\n",
                    fleet[victim].Name().c_str(), seconds);
        fleet[victim].Start();
        const auto back = std::chrono::steady_clock::now();
        fleet.Await(fleet.Shares(), limit, [&] { // the others hand its share back
            for (int m = 0; m < members; ++m)
                if (m != victim && !fleet[m].Said(fleet[victim].Name() + " joined")) return false;
            return true;
        });
        std::printf("  restarted: its share handed back after %.1f s\n",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - back).count());
        PrintLines(fleet);
    }
    // Pauses: a member stopped for 5 to 25 s, around the three missed heartbeats that count it out, then
    // let go on; the rest settle for half a minute.
    for (int p = 0; p < pauses; ++p) {
        const int victim = static_cast<int>(random() % members);
        const int seconds = 5 + static_cast<int>(random() % 21);
        const std::time_t at = std::time(nullptr);
        char when[16];
        std::strftime(when, sizeof when, "%H:%M:%S", std::localtime(&at));
        std::printf("at %s SIGSTOP %s for %d s\n", when, fleet[victim].Name().c_str(), seconds);
        fleet[victim].Signal(SIGSTOP);
        fleet.Await(fleet.Shares(), std::chrono::seconds(seconds), [] { return false; });
        fleet[victim].Signal(SIGCONT);
        fleet.Await(fleet.Shares(), std::chrono::seconds(30), [] { return false; });
        PrintLines(fleet);
    }
    // Notices: each silent site is told of once, through every kill; a site told of twice is named with
    // the Date lines of its mails, to be set beside the kills' times.
    std::map<std::string, int> told;
    std::map<std::string, std::string> dates;
    for (int n = 1;; ++n) {
        const std::string text = mail.Received(n);
        if (text.empty()) break;
        const std::size_t at = text.find("Code       : ");
        const std::string code = at == std::string::npos ? "?" : text.substr(at + 13, 8);
        ++told[code];
        const std::size_t date = text.find("\nDate: ");
        if (date != std::string::npos)
            dates[code] += " [" + text.substr(date + 7, text.find('\n', date + 1) - date - 8) + "]";
    }
    for (const auto& [code, n] : told)
        if (n > 1) std::printf("  %s told of %d times:%s\n", code.c_str(), n, dates[code].c_str());
    int lost = 0, doubled = 0;
    for (int i = SilentEvery - 1; i < sites; i += SilentEvery) {
        const int n = told.count(Code(i)) ? told[Code(i)] : 0;
        lost += n == 0;
        doubled += n > 1 ? n - 1 : 0;
    }
    std::printf("notices: %d silent sites, %zu told of, %d lost, %d doubled over %d kills and %d pauses\n",
                sites / SilentEvery, told.size(), lost, doubled, kills, pauses);
    // The members' logs, to be read beside a notice sent twice: FLEET_KEEP_LOGS names where they go.
    if (const char* keep = std::getenv("FLEET_KEEP_LOGS"))
        for (int m = 0; m < members; ++m)
            if (std::system(("mkdir -p " + std::string(keep) + "/" + fleet[m].Name() + " && cp " + fleet[m].Home() +
                             "/*.log " + keep + "/" + fleet[m].Name() + "/")
                                .c_str()) != 0)
                std::fprintf(stderr, "fleet_scale: the logs of %s were not kept\n", fleet[m].Name().c_str());
    return 0;
}
