// The sites' history of the real daemon: a site cut off by an nft rule in its namespace for a few
// scans, the daemon stopped or killed and started again, and the outage and the uptime it left read
// back through the CSVs (Python's csv module) and /status.json. Needs root.
#include "../integration/scan_daemon.h"
#include "../web/shellcommand.h"
#include "net/loopback.h"
#include "netlab.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>

using namespace std::chrono_literals;

namespace {

/// Seconds of the day of the first log line holding `text` after `from` ("YYYY-MM-DD HH:MM:SS ...").
int LoggedAt(const std::string& output, const std::string& text, std::size_t from = 0) {
    const std::size_t at = output.find(text, from);
    if (at == std::string::npos) return -1;
    const std::size_t line = output.rfind('\n', at) == std::string::npos ? 0 : output.rfind('\n', at) + 1;
    int h = 0, m = 0, s = 0;
    if (std::sscanf(output.c_str() + line + 11, "%d:%d:%d", &h, &m, &s) != 3) return -1;
    return h * 3600 + m * 60 + s;
}

/// The rows of a CSV report as Python's csv module read them: column -> value, one map per row.
std::vector<std::map<std::string, std::string>> CsvRows(const std::string& url, std::string& contentType) {
    const std::string out = RunCommand("python3 " VKT_SOURCE_DIR "/tests/history/read_csv.py '" + url + "'");
    std::vector<std::string> lines = SplitString(out, '\n');
    std::vector<std::map<std::string, std::string>> rows;
    if (lines.empty()) return rows;
    contentType = lines.front();
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty()) continue;
        std::map<std::string, std::string>& row = rows.emplace_back();
        for (const std::string& field : SplitString(lines[i], '|')) {
            const std::size_t eq = field.find('=');
            row[field.substr(0, eq)] = field.substr(eq + 1);
        }
    }
    return rows;
}

/// A host in a namespace of the test's own, answering until Cut() drops its echo requests.
class CutHost {
public:
    CutHost() : m_net("198.19." + std::to_string(getpid() % 250)), m_lab("hist", m_net) {}
    bool Create(std::string& why) {
        if (!m_lab.Open(why)) return false;
        m_ns = m_lab.AddNamespace("");
        m_lab.Join(m_ns, m_net + ".1", Address(), 30);
        return m_lab.Ready(why);
    }
    std::string Address() const { return m_net + ".2"; }
    bool Cut() {
        return NetLab::In(m_ns, "nft add table ip " + Table() + " && nft \"add chain ip " + Table() +
                                    " in { type filter hook input priority 0; }\" && nft add rule ip " + Table() +
                                    " in icmp type echo-request drop") == 0;
    }
    bool Mend() { return NetLab::In(m_ns, "nft delete table ip " + Table()) == 0; }

private:
    std::string Table() const { return m_lab.Table("cut"); }
    std::string m_net;
    NetLab m_lab;
    std::string m_ns;
};

/// A daemon of Daemon ID D1 with [History] on an SQLite file, probing CUT, a host of the test's own.
class HistoryNetwork : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!host.Create(why)) GTEST_SKIP() << why;
        if (!Have("curl")) GTEST_SKIP() << "curl is not installed";
        ASSERT_TRUE(db.Connect()) << db.dm.LastConnectionError();
        db.AddSite("D1", "CUT", host.Address());
        WriteFileText(home.File("vkt.ini"), "[System]\r\nVKTID=D1\r\n" + db.IniLines() +
                                                "PollDelay=0\r\nNetPort=" + std::to_string(port) + "\r\n[History]\r\n");
    }

    CutHost host;
    TempDir dbDir;
    SharedDb db{"SQLite", dbDir.File("vkt"), ""};
    TempDir home, work;
    const int port = UnusedPort();
    const std::string base = "http://127.0.0.1:" + std::to_string(port);

    /// The status JSON once a scan has published the site's history (the daemon has no other way to
    /// tell a client than its answers), for up to 30 s.
    std::string StatusOnceItHasUptime() const {
        std::string json;
        for (int i = 0; i < 300; ++i, std::this_thread::sleep_for(100ms))
            if ((json = RunCommand("curl -s " + base + "/status.json")).find("\"uptime\"") != std::string::npos) break;
        return json;
    }
};

} // namespace

TEST_F(HistoryNetwork, CutOfKnownLengthSurvivesARestartInUptimeAndOutageReports) {
    int cutAt = -1, mendedAt = -1, silent = 0;
    {
        VktProcess vkt(home.Path(), work.Path());
        ASSERT_TRUE(WaitForCount(vkt, "CUT Responding", 3, 60s)) << vkt.Output();
        ASSERT_TRUE(host.Cut());
        ASSERT_TRUE(WaitForCount(vkt, "Unable to contact CUT", 3, 60s)) << vkt.Output();
        ASSERT_TRUE(host.Mend());
        const int before = Occurrences(vkt.Output(), "CUT Responding");
        ASSERT_TRUE(WaitForCount(vkt, "CUT Responding", before + 3, 60s)) << vkt.Output();
        const std::string out = vkt.Output();
        const std::size_t cut = out.find("Unable to contact CUT");
        cutAt = LoggedAt(out, "Unable to contact CUT");
        mendedAt = LoggedAt(out, "CUT Responding", cut);
        silent = Occurrences(out, "Unable to contact CUT"); // a probe sent just before the mend may time out too
        vkt.Signal(SIGTERM);
        ASSERT_EQ(vkt.WaitExit(60s), 0);
    }
    const int cutSeconds = (mendedAt - cutAt + 86400) % 86400;
    ASSERT_GE(cutSeconds, 8); // three probes of 4 s each, the first at its own second mark

    VktProcess vkt(home.Path(), work.Path());
    ASSERT_TRUE(WaitForCount(vkt, "CUT Responding", 2, 60s)) << vkt.Output();
    std::string json = StatusOnceItHasUptime();

    std::string type;
    const auto outages = CsvRows(base + "/status/outages.csv", type);
    EXPECT_EQ(type, "text/csv; charset=utf-8");
    ASSERT_EQ(outages.size(), 1u);
    const auto& outage = outages.front();
    EXPECT_EQ(outage.at("code"), "CUT");
    EXPECT_EQ(outage.at("name"), "Depot");
    EXPECT_EQ(outage.at("address"), host.Address());
    EXPECT_EQ(outage.at("cause"), "timed out");
    EXPECT_EQ(outage.at("notified"), "no");
    EXPECT_FALSE(outage.at("end").empty());
    EXPECT_NEAR(std::stoi(outage.at("duration_seconds")), cutSeconds, 1) << vkt.Output();

    // The daemon scans on while the reports are read: the status JSON is read right after the hourly
    // report, and the day's probes lie between the hourly totals read before and after it.
    const auto probesOf = [](const std::vector<std::map<std::string, std::string>>& rows) {
        long long n = 0;
        for (const auto& row : rows)
            n += std::stoll(row.at("probes"));
        return n;
    };
    const auto hours = CsvRows(base + "/status/history.csv?code=CUT&step=hour", type);
    json = RunCommand("curl -s " + base + "/status.json");
    const auto days = CsvRows(base + "/status/history.csv?code=CUT&step=day", type);
    const long long probesAfter = probesOf(CsvRows(base + "/status/history.csv?code=CUT&step=hour", type));
    ASSERT_FALSE(hours.empty());
    double up = 0, down = 0;
    long long probes = 0, answered = 0;
    for (const auto& row : hours) {
        up += std::stod(row.at("up_seconds"));
        down += std::stod(row.at("down_seconds"));
        probes += std::stoll(row.at("probes"));
        answered += std::stoll(row.at("answered"));
    }
    EXPECT_NEAR(down, cutSeconds, 2);
    EXPECT_EQ(probes - answered, silent);
    ASSERT_FALSE(days.empty());
    EXPECT_GE(probesOf(days), probes);
    EXPECT_LE(probesOf(days), probesAfter);

    // The uptime of 24 hours as /status.json gives it, cut to two decimals, from the same seconds.
    const std::size_t at = json.find("\"uptime\":{\"24h\":");
    ASSERT_NE(at, std::string::npos) << json;
    const double uptime = std::stod(json.substr(at + 16));
    EXPECT_GT(uptime, 0);
    EXPECT_LT(uptime, 100);
    EXPECT_NEAR(uptime, 100.0 * up / (up + down), 3.0) << json;
    vkt.Signal(SIGTERM);
    EXPECT_EQ(vkt.WaitExit(60s), 0);
}

// A kill in the middle of an outage: after the restart the outage goes on from its first failed probe,
// and the probes of every scan but the one the kill cut short are still counted.
TEST_F(HistoryNetwork, AKillLosesNeitherTheOpenOutagesStartNorTheScansBeforeIt) {
    const auto results = [](const VktProcess& vkt) {
        const std::string out = vkt.Output();
        return Occurrences(out, "CUT Responding") + Occurrences(out, "Unable to contact CUT");
    };
    int cutAt = -1;
    long long killed = 0;
    {
        VktProcess vkt(home.Path(), work.Path());
        ASSERT_TRUE(WaitForCount(vkt, "CUT Responding", 2, 60s)) << vkt.Output();
        ASSERT_TRUE(host.Cut());
        ASSERT_TRUE(WaitForCount(vkt, "Unable to contact CUT", 2, 60s)) << vkt.Output();
        vkt.Signal(SIGKILL);
        vkt.WaitExit(10s);
        cutAt = LoggedAt(vkt.Output(), "Unable to contact CUT");
        killed = results(vkt);
    }
    VktProcess vkt(home.Path(), work.Path());
    ASSERT_TRUE(WaitForCount(vkt, "Unable to contact CUT", 1, 60s)) << vkt.Output();
    // The reports answer once the first scan after the restart has published its history.
    StatusOnceItHasUptime();
    std::string type;
    const long long first = results(vkt);
    const auto outages = CsvRows(base + "/status/outages.csv", type);
    const auto hours = CsvRows(base + "/status/history.csv?code=CUT", type);
    const long long last = results(vkt);
    ASSERT_EQ(outages.size(), 1u);
    EXPECT_EQ(outages.front().at("end"), "");
    const std::string start = outages.front().at("start");
    ASSERT_EQ(start.size(), 19u);
    EXPECT_NEAR(std::stoi(start.substr(11, 2)) * 3600 + std::stoi(start.substr(14, 2)) * 60 +
                    std::stoi(start.substr(17, 2)),
                cutAt, 1)
        << start << "\n"
        << vkt.Output();
    long long probes = 0;
    for (const auto& row : hours)
        probes += std::stoll(row.at("probes"));
    // A probe is counted just before its line is logged: one may be counted and not yet logged.
    EXPECT_GE(probes, killed - 1 + first);
    EXPECT_LE(probes, killed + last + 1);
    vkt.Signal(SIGTERM);
    EXPECT_EQ(vkt.WaitExit(60s), 0);
}
