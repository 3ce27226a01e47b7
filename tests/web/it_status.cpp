// The status board with real clients: the real daemon's /status, /status.json and /metrics through
// curl, urllib, promtool and headless Chromium; the [Web] guards against curl and urllib, from a
// network namespace too; and a board of 10,000 sites in Chromium.
#include "../integration/scan_daemon.h"
#include "boardresult.h"
#include "net/loopback.h"
#include "history/maintenancebook.h"
#include "platform/datetime.h"
#include "shellcommand.h"
#include "silenthost.h"
#include "web/statuspage.h"
#include "webfixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

using namespace std::chrono_literals;

namespace {

std::string Script(const char* name) {
    return "python3 " + std::string(VKT_SOURCE_DIR) + "/tests/web/" + name;
}

// Screenshots are kept under the build tree for a person to look at.
std::string ShotPath(const char* name) {
    const std::string dir = std::string(VKT_BINARY_DIR) + "/Testing/web";
    std::filesystem::create_directories(dir);
    std::filesystem::remove(dir + "/" + name);
    return dir + "/" + name;
}

class Daemon {
public:
    Daemon(const SharedDb& db, const std::string& web) : port(UnusedPort()) {
        WriteFileText(home.File("vkt.ini"), "[System]\r\nVKTID=D1\r\n" + db.IniLines() + "PollDelay=60\r\nNetPort=" +
                                                std::to_string(port) + "\r\n[Web]\r\n" + web);
        vkt = std::make_unique<VktProcess>(home.Path(), work.Path());
    }
    ~Daemon() {
        vkt->Signal(SIGTERM);
        EXPECT_EQ(vkt->WaitExit(60s), 0);
    }
    std::string Url(const std::string& target, const char* host = "127.0.0.1") const {
        return "http://" + std::string(host) + ":" + std::to_string(port) + target;
    }
    int port;
    TempDir home, work;
    std::unique_ptr<VktProcess> vkt;
};

class StatusDaemon : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!CanProbe(why)) GTEST_SKIP() << why;
        if (!Have("curl")) GTEST_SKIP() << "curl is not installed";
        ASSERT_TRUE(db.Connect()) << db.dm.LastConnectionError();
        db.AddSite("D1", "LOOP", "127.0.0.1");
        db.AddSite("D1", "LOOP2", "127.0.0.2");
        db.AddSite("D1", "GHOST", "no..such"); // unresolvable without a query
        Seed();
        daemon = std::make_unique<Daemon>(db, "Listen=127.0.0.1\r\n" + Sections());
        ASSERT_TRUE(daemon->vkt->WaitForOutput("Unable to contact GHOST", 60s)) << daemon->vkt->Output();
        // The board has the scan once its end is recorded.
        for (int i = 0;
             i < 600 && RunCommand("curl -s " + daemon->Url("/status.json")).find("\"scans\":1") == std::string::npos;
             ++i)
            std::this_thread::sleep_for(100ms);
    }
    virtual void Seed() {}
    /// Sections of vkt.ini after [Web].
    virtual std::string Sections() const { return ""; }
    std::string Curl(const std::string& options, const std::string& target) const {
        return RunCommand("curl -s " + options + " " + daemon->Url(target));
    }
    TempDir dbDir;
    SharedDb db{"SQLite", dbDir.File("vkt"), ""};
    std::unique_ptr<Daemon> daemon;
};

TEST_F(StatusDaemon, RealClientsReadTheBoard) {
    EXPECT_EQ(RunCommand(Script("status_client.py") + " " + daemon->Url("/status.json")),
              "200 application/json length ok sites GHOST:down,LOOP:up,LOOP2:up\n");
    EXPECT_EQ(RunCommand(Script("status_client.py") + " " + daemon->Url("/status")),
              "200 text/html; charset=utf-8 length ok\n");
    EXPECT_EQ(RunCommand(Script("status_client.py") + " " + daemon->Url("/metrics")),
              "200 text/plain; version=0.0.4; charset=utf-8 length ok\n");
    const std::string metrics = RunCommand("curl -s " + daemon->Url("/metrics"));
    EXPECT_NE(metrics.find("vkt_site_up{code=\"GHOST\",address=\"no..such\"} 0\n"), std::string::npos) << metrics;
    if (Have("promtool")) {
        EXPECT_EQ(RunCommand("curl -s " + daemon->Url("/metrics") + " | promtool check metrics 2>&1"), "");
    }
    // Listen=127.0.0.1: another local address finds no port.
    EXPECT_EQ(RunCommand("curl -s -o /dev/null -w '%{http_code}' " + daemon->Url("/status", "127.0.0.2")),
              "000\n<exit status not 0>");
    if (!Have("chromium")) GTEST_SKIP() << "chromium is not installed";
    const std::string shot = ShotPath("status-3-sites.png");
    EXPECT_EQ(RunCommand(Script("shot.py") + " " + daemon->Url("/status") + " " + shot + " 2>&1"),
              "rows 3 sparklines 2 title Status D1\n");
    EXPECT_TRUE(std::filesystem::exists(shot));
}

// Reminders on, so that outages can be acknowledged, and a second silent site to acknowledge.
class AlertingDaemon : public StatusDaemon {
protected:
    void Seed() override { db.AddSite("D1", "GHOST2", "no..such2"); }
    std::string Sections() const override { return "[Alert]\r\nRemind=60\r\n"; }
};

// What an alert rule reads beside the state: an answering site, one a maintenance window holds, a
// silent one and a silent one acknowledged, on a page promtool accepts.
TEST_F(AlertingDaemon, MetricsTellMaintenanceAcknowledgementsAndProbes) {
    EXPECT_EQ(Curl("-o /dev/null -w '%{http_code}' -d code=LOOP2 -d minutes=60", "/status/maintenance"), "303");
    EXPECT_EQ(Curl("-o /dev/null -w '%{http_code}' -d code=GHOST2 -d comment=on+it", "/status/ack"), "303");
    std::map<std::string, std::string> values; // series -> value
    for (int i = 0; i < 600 && values["vkt_site_acknowledged{code=\"GHOST2\",address=\"no..such2\"}"] != "1";
         ++i, std::this_thread::sleep_for(100ms)) {
        std::istringstream lines(Curl("", "/metrics"));
        for (std::string line; std::getline(lines, line);)
            if (!line.starts_with("#")) values[line.substr(0, line.rfind(' '))] = line.substr(line.rfind(' ') + 1);
    }
    const std::pair<std::string, std::string> expected[] = {
        {R"(vkt_site_info{code="LOOP",name="Depot",address="127.0.0.1",tags=""})", "1"},
        {R"(vkt_site_up{code="LOOP2",address="127.0.0.2"})", "1"},
        {R"(vkt_site_maintenance{code="LOOP2",address="127.0.0.2"})", "1"},
        {R"(vkt_site_maintenance{code="LOOP",address="127.0.0.1"})", "0"},
        {R"(vkt_site_up{code="GHOST",address="no..such"})", "0"},
        {R"(vkt_site_acknowledged{code="GHOST",address="no..such"})", "0"},
        {R"(vkt_site_acknowledged{code="GHOST2",address="no..such2"})", "1"},
        {R"(vkt_site_notified{code="GHOST",address="no..such"})", "0"}, // no contacts, no notice
        {R"(vkt_probe_failures_total{code="LOOP",address="127.0.0.1"})", "0"},
    };
    for (const auto& [series, value] : expected)
        EXPECT_EQ(values[series], value) << series;
    // Each scan probed every site once; the silent ones failed every time.
    const std::string probes = values[R"(vkt_probes_total{code="GHOST",address="no..such"})"];
    EXPECT_GE(std::atoi(probes.c_str()), 1);
    EXPECT_EQ(values[R"(vkt_probe_failures_total{code="GHOST",address="no..such"})"], probes);
    EXPECT_EQ(values[R"(vkt_probes_total{code="LOOP",address="127.0.0.1"})"], probes);
    if (Have("promtool")) {
        EXPECT_EQ(RunCommand("curl -s " + daemon->Url("/metrics") + " | promtool check metrics 2>&1"), "");
    }
}

class GuardedDaemon : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Have("curl") || !Have("openssl")) GTEST_SKIP() << "curl or openssl is not installed";
        ASSERT_TRUE(db.Connect()) << db.dm.LastConnectionError();
        std::string hash = RunCommand("openssl passwd -6 'open sesame'");
        hash.pop_back(); // the line feed
        daemon = std::make_unique<Daemon>(db, "Allow=127.0.0.0/8\r\nUser=admin\r\nPassword=" + hash + "\r\n");
        ASSERT_TRUE(daemon->vkt->WaitForOutput("Database connection successful.", 60s)) << daemon->vkt->Output();
    }
    std::string Curl(const std::string& options, const std::string& target) {
        return RunCommand("curl -s -i " + options + " " + daemon->Url(target));
    }
    TempDir dbDir;
    SharedDb db{"SQLite", dbDir.File("vkt"), ""};
    std::unique_ptr<Daemon> daemon;
};

TEST_F(GuardedDaemon, EveryRequestNeedsTheLoginAndAnAllowedPeer) {
    const std::string refused = "HTTP/1.0 401 Unauthorized\r\n";
    for (const char* target : {"/", "/RESULT?mode=View+Log", "/status", "/metrics", "/favicon.ico"}) {
        const std::string none = Curl("", target);
        EXPECT_EQ(none.rfind(refused, 0), 0u) << target << none;
        EXPECT_NE(none.find("\r\nWWW-Authenticate: Basic realm=\"vkt\"\r\n"), std::string::npos) << none;
        EXPECT_EQ(Curl("-u admin:sesame", target).rfind(refused, 0), 0u) << target;
    }
    EXPECT_EQ(Curl("-u 'admin:open sesame'", "/").rfind("HTTP/1.0 200 OK\r\nServer: Korvel Web Server/1.0 \r\n", 0),
              0u);
    EXPECT_EQ(RunCommand(Script("status_client.py") + " " + daemon->Url("/status.json") + " admin 'open sesame'"),
              "200 application/json length ok sites \n");
    EXPECT_EQ(RunCommand(Script("status_client.py") + " " + daemon->Url("/metrics") + " admin wrong"),
              "401 text/plain; charset=utf-8 length ok\n");

    SilentHostNamespace outside("wg", "198.51.100");
    std::string why;
    if (!outside.Create(why)) GTEST_SKIP() << why;
    // From inside the namespace, outside [Web] Allow: closed at accept, whatever the login.
    EXPECT_EQ(RunCommand("ip netns exec " + outside.Name() +
                         " curl -s -o /dev/null -w '%{http_code}' --max-time 5 -u 'admin:open sesame' " +
                         daemon->Url("/", outside.HostSide().c_str())),
              "000\n<exit status not 0>");
    EXPECT_TRUE(
        daemon->vkt->WaitForOutput("Refused a connection from " + outside.Inside() + ": not in [Web] Allow.", 60s))
        << daemon->vkt->Output();
}

// 10,000 sites with a day of history each, some silent, some losing now and then.
class TenThousandSites : public WebServerTest {
protected:
    void SetUp() override {
        m_configure = [this](TWebServer& web) { web.Board = &m_board; };
        WebServerTest::SetUp();
    }
    TStatusBoard m_board;
};

TEST_F(TenThousandSites, PageStaysUsableInChromium) {
    ManualClock clock(Now() - 1); // the board's day of history passes in a moment
    ScopedClock installed(&clock);
    {
        for (int round = 0; round < 24; ++round, clock.Advance(60min)) {
            m_board.ScanBegun();
            for (int i = 0; i < 10000; ++i) {
                const bool answered = i % 97 != 0 && (i + round) % 41 != 0;
                m_board.SiteProbed(
                    BoardResult("S" + std::to_string(i), "Site " + std::to_string(i),
                                "10." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) + ".1", answered,
                                1 + (i * 7 + round * 13) % 90, answered ? ProbeCause::None : ProbeCause::TimedOut),
                    {});
            }
            m_board.ScanEnded();
        }
        const auto start = std::chrono::steady_clock::now();
        TStatusView view;
        view.Load(m_board);
        const std::string page = TStatusPage(view, "").Whole();
        const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::printf("status page of 10,000 sites: %zu bytes built in %.1f ms (this build)\n", page.size(), ms);
        EXPECT_EQ(view.Count(TSiteStatus::Down), 346); // i % 97 == 0 or (i + 23) % 41 == 0
    }
    if (!Have("chromium")) GTEST_SKIP() << "chromium is not installed";
    const std::string shot = ShotPath("status-10000-sites.png");
    const std::string url = "http://127.0.0.1:" + std::to_string(m_port) + "/status";
    EXPECT_EQ(RunCommand(Script("shot.py") + " " + url + " " + shot + " 2>&1"),
              "rows 1000 sparklines 896 title Status alpha\n");
    EXPECT_TRUE(std::filesystem::exists(shot));
}

// The page as an operator meets it in a browser: a silent site that can be acknowledged, a window
// that can be ended, refreshed every 10 seconds (PollDelay=0).
class StatusPageInChromium : public WebServerTest {
protected:
    void SetUp() override {
        if (!Have("chromium")) GTEST_SKIP() << "chromium is not installed";
        m_board.SiteProbed(
            BoardResult("B2", "Shed on the far side of the yard", "no..such", false, 0, ProbeCause::NameNotFound), {});
        m_board.SiteProbed(BoardResult("A1", "Gate", "127.0.0.1", true, 3, ProbeCause::None), {});
        m_board.AcceptsAcknowledgements(true);
        MaintenanceWindow window;
        window.Id = 7;
        window.Code = "A1";
        window.Start = m_book.Now();
        window.End = window.Start + 3600;
        window.Reason = "new switch";
        m_book.Reload([&window] { return std::vector<MaintenanceWindow>{window}; });
        m_configure = [this](TWebServer& web) {
            web.Board = &m_board;
            web.Maintenance = &m_book;
            web.Acknowledge = [](const std::string&, const std::string&, const std::string&) {};
        };
        WebServerTest::SetUp();
        OnLoop([this] { m_settings.PollDelay = 0; });
    }
    TStatusBoard m_board;
    MaintenanceBook m_book;
};

TEST_F(StatusPageInChromium, FitsAsksBeforeEndingAndSparesWhatIsTyped) {
    const std::string axe = std::string(VKT_SOURCE_DIR) + "/build/npm/node_modules/axe-core/axe.min.js";
    if (!std::filesystem::exists(axe)) GTEST_SKIP() << axe << " is not installed (scripts/setup installs it)";
    const std::string url = "http://127.0.0.1:" + std::to_string(m_port) + "/status";
    EXPECT_EQ(RunCommand(Script("statuslive.py") + " " + url + " " + ShotPath("status-live") + " " + axe + " 2>&1"),
              "fits 390 px: yes\n"
              "fits 1400 px: yes\n"
              "axe: no serious or critical finding\n"
              "end now: asked \"End the window for A1 now?\", 1 window still listed\n"
              "refresh: typed text kept, refreshed when idle\n");
}

} // namespace
