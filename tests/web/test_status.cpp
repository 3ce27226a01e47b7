// The status board's history and guards, one table per rule, and which requests the status paths
// answer beside the four pages.
#include "capturedlog.h"
#include "shellcommand.h"
#include "webfixture.h"

#include "db/data.h"
#include "history/historystore.h"
#include "scan/rtthistory.h"
#include "web/historychart.h"
#include "web/addressfilter.h"
#include "web/basiclogin.h"
#include "db/alarmrows.h"
#include "db/common.h"
#include "db/data.h"
#include "history/maintenancebook.h"
#include "web/statusboard.h"
#include "boardresult.h"
#include "web/statusjson.h"
#include "web/statusmetrics.h"
#include "web/statuspage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <mutex>
#include <regex>

namespace {

struct HistoryCase {
    const char* name;
    std::vector<std::pair<int, int>> probes; // (bucket, rtt ms; -1 = lost)
    int now;
    double loss;
    int newestRtt; // the bucket at `now`: its highest answer, 0 without one
};

class History : public ::testing::TestWithParam<HistoryCase> {};

TEST_P(History, KeepsADayOfBuckets) {
    const HistoryCase& c = GetParam();
    TRttHistory h;
    for (auto [bucket, rtt] : c.probes)
        h.Add(bucket, rtt >= 0, rtt);
    EXPECT_NEAR(h.LossRatio(c.now), c.loss, 1e-9);
    EXPECT_NEAR(h.At(c.now, 0).RttMs, c.newestRtt, 0.04 * c.newestRtt + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Board, History,
    ::testing::Values(HistoryCase{"empty", {}, 10, 0, 0},
                      HistoryCase{"one_lost_of_four", {{1, 5}, {2, -1}, {3, 12}, {4, 3999}}, 4, 0.25, 3999},
                      HistoryCase{"highest_answer_of_a_bucket", {{7, 40}, {7, 350}, {7, -1}}, 7, 1.0 / 3, 350},
                      // 288 buckets later the first probe has fallen out; a day later all have.
                      HistoryCase{"day_old_loss_falls_out", {{0, -1}, {1, 20}}, 288, 0, 0},
                      HistoryCase{"silent_day", {{0, -1}, {1, 20}}, 289, 0, 0},
                      HistoryCase{"slot_reused_after_a_day", {{5, -1}, {293, 80}}, 293, 0, 80},
                      // The slots of a site's first day become a ring once a day has passed.
                      HistoryCase{"grows_into_a_day", {{100, -1}, {300, 10}, {387, 20}}, 387, 1.0 / 3, 20},
                      HistoryCase{"grown_day_drops_its_first", {{100, -1}, {300, 10}, {388, 20}}, 388, 0, 20}),
    [](const auto& info) { return std::string(info.param.name); });

// What a site shows follows its scans: state changes, a notice until the site answers again, and
// a site the last scan no longer probed leaves the board.
TEST(Board, FollowsTheScans) {
    TStatusBoard board;
    auto scan = [&](std::vector<SiteResult> results) {
        board.ScanBegun();
        for (const SiteResult& r : results)
            board.SiteProbed(r, {});
        board.ScanEnded();
    };
    const SiteResult up = BoardResult("A", "", "10.0.0.1", true, 4),
                     down = BoardResult("A", "", "10.0.0.1", false, 0, ProbeCause::TimedOut);
    const SiteResult other = BoardResult("B", "", "10.0.0.2", true, 1);
    TScanSummary summary;
    std::vector<TSiteStatus> sites;
    scan({down, other});
    board.NoticeStanding("A");
    board.NoticeSent("B", "mail", false);
    board.Snapshot(summary, sites);
    ASSERT_EQ(sites.size(), 2u);
    EXPECT_TRUE(sites[0].State == TSiteStatus::Down && sites[0].Notified && sites[0].Cause == "timed out");
    EXPECT_FALSE(sites[1].Notified); // a failed notice is no notice
    EXPECT_EQ((summary.Notices[{"mail", "failed"}]), 1);
    scan({up});
    board.Snapshot(summary, sites);
    ASSERT_EQ(sites.size(), 1u); // B has left the site list
    EXPECT_TRUE(sites[0].State == TSiteStatus::Up && !sites[0].Notified && sites[0].LastRttMs == 4);
    EXPECT_EQ(summary.LastScanSites, 1);
    EXPECT_NEAR(sites[0].Loss, 0.5, 1e-9);
}

// A member of a group shows the group's verdict beside its own view; a probe alone shows none, so
// its pages keep their bytes.
TEST(Board, ShowsTheGroupsVerdictOnlyForMembersOfAGroup) {
    for (const bool grouped : {false, true}) {
        TStatusBoard board;
        board.ScanBegun();
        board.SiteProbed(BoardResult("A", "Depot", "10.0.0.1", true, 4), {grouped ? 1 : -1, 2});
        board.ScanEnded();
        TStatusView view;
        view.Load(board);
        const std::string json = TStatusJson(view, "", false).Whole(), metrics = TStatusMetrics(view).Whole();
        const std::string html = TStatusPage(view, "").Whole();
        EXPECT_EQ(json.find(",\"group\":{\"state\":\"down\",\"failed\":2}") != std::string::npos, grouped) << json;
        EXPECT_EQ(metrics.find("vkt_site_group_up{code=\"A\",address=\"10.0.0.1\"} 0\n") != std::string::npos, grouped)
            << metrics;
        EXPECT_EQ(html.find("answering (group: down, 2 failed)") != std::string::npos, grouped);
        EXPECT_EQ(metrics.find("vkt_site_group_up") != std::string::npos, grouped);
    }
}

// A member of a fleet shows the sites the others probe: their own state unknown, the group's verdict
// and its members named; down first among them, after this member's own silent sites.
TEST(Board, AFleetMemberShowsTheSitesTheOthersProbe) {
    TStatusBoard board;
    board.ScanBegun();
    board.SiteProbed(BoardResult("A", "Depot", "10.0.0.1", true, 4), {0, 0, -1, {"n1", "n2"}});
    board.SiteProbed(BoardResult("E", "Depot", "10.0.0.5", false, 0), {1, 2, -1, {"n1", "n3"}});
    board.ScanEnded();
    GroupSites others;
    others.Rows = std::make_shared<const std::vector<ScanRow>>(std::vector<ScanRow>{
        {"D", "10.0.0.4", "Dock"}, {"X", "10.0.0.9", "Mine"}, {"B", "10.0.0.2", "Barn"}, {"C", "10.0.0.3", "Cove"}});
    others.Members = {{"n3", "n4"}, {"n2", "n3"}};
    others.Sites = {{0, 0, 0, 0}, {2, 1, 1, 2}, {3, 0, SiteVerdict::GroupUnknown, 1}}; // row 1 is this member's
    board.GroupSitesShown(std::move(others));
    TStatusView view;
    view.Load(board);
    std::vector<std::string> order;
    for (const TSiteEntry* site : view.Sites)
        order.push_back(site->Status.Code);
    EXPECT_EQ(order, (std::vector<std::string>{"E", "B", "C", "D", "A"}));
    const std::string json = TStatusJson(view, "", false).Whole(), metrics = TStatusMetrics(view).Whole();
    EXPECT_NE(json.find("\"code\":\"B\",\"name\":\"Barn\",\"address\":\"10.0.0.2\",\"state\":\"unknown\""),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"group\":{\"state\":\"down\",\"failed\":2},\"probed_by\":[\"n2\",\"n3\"]"), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"sites\":5"), std::string::npos) << json;
    EXPECT_NE(metrics.find("vkt_site_group_up{code=\"B\",address=\"10.0.0.2\",probed_by=\"n2,n3\"} 0\n"),
              std::string::npos)
        << metrics;
    EXPECT_EQ(metrics.find("vkt_site_up{code=\"B\""), std::string::npos) << "not probed by this member";
}

TEST(Board, NamesTheProbedAddressAndFailedFamilyOnlyBeyondIPv4) {
    struct Case {
        std::string Probed, FailedFamily, Json, Metric; // empty Json: the fields stay away
    };
    for (const Case& c : {Case{"10.0.0.1", "", "", ""},
                          Case{"2001:db8::1", "", R"(,"probed":"2001:db8::1","family":"")",
                               R"(address="dual",probed="2001:db8::1",family=""})"},
                          Case{"10.0.0.1 2001:db8::1", "v6", R"(,"probed":"10.0.0.1 2001:db8::1","family":"v6")",
                               R"(address="dual",probed="10.0.0.1 2001:db8::1",family="v6"})"}}) {
        TStatusBoard board;
        board.ScanBegun();
        SiteResult r = BoardResult("A", "Depot", "dual", c.FailedFamily.empty(), 4,
                                   c.FailedFamily.empty() ? ProbeCause::None : ProbeCause::TimedOut);
        r.Probed = c.Probed;
        r.FailedFamily = c.FailedFamily;
        board.SiteProbed(r, {});
        board.ScanEnded();
        TStatusView view;
        view.Load(board);
        const std::string json = TStatusJson(view, "", false).Whole(), metrics = TStatusMetrics(view).Whole();
        EXPECT_EQ(json.find(c.Json.empty() ? "\"probed\"" : c.Json) != std::string::npos, !c.Json.empty()) << json;
        EXPECT_EQ(metrics.find(c.Metric.empty() ? "probed=" : c.Metric) != std::string::npos, !c.Metric.empty())
            << metrics;
        EXPECT_EQ(TStatusPage(view, "").Whole().find("(v6 failed)") != std::string::npos, c.FailedFamily == "v6");
    }
}

// A silent site keeps its last round-trip time; its counters only grow, and the info series escapes
// what the exposition format needs escaped.
TEST(Board, MetricsKeepTheLastRttCountProbesAndEscapeLabels) {
    TStatusBoard board;
    for (const bool answered : {true, false, false}) {
        board.ScanBegun();
        board.SiteProbed(
            BoardResult("A", "Depot", "10.0.0.1", answered, 4, answered ? ProbeCause::None : ProbeCause::TimedOut), {});
        board.ScanEnded();
    }
    TStatusView view;
    view.Load(board);
    TSiteEntry tagged;
    tagged.Status.Code = "B";
    tagged.Status.Name = "North \"yard\"\\\n";
    tagged.Status.Address = "10.0.0.2";
    tagged.Status.Tags = {"core", "x\"y"};
    view.Sites.push_back(&tagged);
    const std::string metrics = TStatusMetrics(view).Whole();
    for (const char* line :
         {"vkt_site_up{code=\"A\",address=\"10.0.0.1\"} 0\n",
          "vkt_site_rtt_seconds{code=\"A\",address=\"10.0.0.1\"} 0.004\n",
          "vkt_probes_total{code=\"A\",address=\"10.0.0.1\"} 3\n",
          "vkt_probe_failures_total{code=\"A\",address=\"10.0.0.1\"} 2\n", "# TYPE vkt_probes_total counter\n",
          R"(vkt_site_info{code="B",name="North \"yard\"\\\n",address="10.0.0.2",tags="core,x\"y"} 1)"})
        EXPECT_NE(metrics.find(line), std::string::npos) << line << "\n" << metrics;
}

struct GuardCase {
    const char* name;
    const char* allow;
    const char* peer;
    bool allowed;
};

class Allow : public ::testing::TestWithParam<GuardCase> {};

TEST_P(Allow, MatchesAddressesAndBlocks) {
    TAddressFilter filter;
    std::vector<std::string> rejected;
    filter.Parse(GetParam().allow, rejected);
    EXPECT_EQ(filter.Allows(GetParam().peer), GetParam().allowed);
}

INSTANTIATE_TEST_SUITE_P(
    Guard, Allow,
    ::testing::Values(GuardCase{"no_list", "", "10.9.8.7", true},
                      GuardCase{"same_address", "127.0.0.1", "127.0.0.1", true},
                      GuardCase{"other_address", "127.0.0.1", "127.0.0.2", false},
                      GuardCase{"in_block", "10.0.0.0/8, 192.168.1.0/24", "192.168.1.77", true},
                      GuardCase{"outside_blocks", "10.0.0.0/8, 192.168.1.0/24", "192.168.2.1", false},
                      GuardCase{"everything", "0.0.0.0/0", "203.0.113.2", true},
                      // A list given but unusable closes the port instead of opening it.
                      GuardCase{"only_unusable_entries", "10.0.0.0/33, bogus", "10.0.0.1", false},
                      GuardCase{"unusable_entry_left_out", "bogus, 127.0.0.0/8", "127.1.2.3", true}),
    [](const auto& info) { return std::string(info.param.name); });

// Made with: openssl passwd -6 -salt vktsalt 'open sesame'
const char* const Hash =
    "$6$vktsalt$rinDppCwU8SvbhuBIuM7NWicD8h7xnseYGy5SpDlSsAkB1/8.KYbYRdyU3Q6IjDBZ.Q4qIhVww2KLpAsD8Sj/0";

struct LoginCase {
    const char* name;
    const char* authorization;
    const char* hash;
    bool accepted;
};

class Login : public ::testing::TestWithParam<LoginCase> {};

TEST_P(Login, ChecksTheHashWithCrypt) {
    EXPECT_EQ(BasicLoginMatches(GetParam().authorization, "admin", GetParam().hash), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Guard, Login,
    ::testing::Values(LoginCase{"right", "Basic YWRtaW46b3BlbiBzZXNhbWU=", Hash, true}, // admin:open sesame
                      LoginCase{"scheme_any_case", "basic   YWRtaW46b3BlbiBzZXNhbWU= ", Hash, true},
                      LoginCase{"wrong_password", "Basic YWRtaW46b3BlbiBzZXNhbW8=", Hash, false},
                      LoginCase{"wrong_user", "Basic cm9vdDpvcGVuIHNlc2FtZQ==", Hash, false}, // root:...
                      LoginCase{"other_scheme", "Bearer YWRtaW46b3BlbiBzZXNhbWU=", Hash, false},
                      LoginCase{"no_colon", "Basic YWRtaW4=", Hash, false}, // no colon
                      LoginCase{"plain_text_not_a_hash", "Basic YWRtaW46b3BlbiBzZXNhbWU=", "open sesame", false},
                      LoginCase{"empty_hash", "Basic YWRtaW46", "", false}),
    [](const auto& info) { return std::string(info.param.name); });

class StatusPaths : public WebServerTest {
protected:
    void SetUp() override {
        m_board.SiteProbed(BoardResult("A1", "Depot", "127.0.0.1", true, 3), {});
        m_board.SiteProbed(BoardResult("B2", "Shed", "no..such", false, 0, ProbeCause::NameNotFound), {});
        m_configure = [this](TWebServer& web) { web.Board = &m_board; };
        WebServerTest::SetUp();
    }
    TStatusBoard m_board;
};

// The four pages answer what they answer; the status paths only what they would leave silent.
TEST_F(StatusPaths, AnswerOnlyWhereThePagesAreSilent) {
    const std::pair<const char*, const char*> cases[] = {
        {"GET /status HTTP/1.0\r\n\r\n", "Content-Type: text/html; charset=utf-8\r\n"},
        {"GET /status?q=shed HTTP/1.1\r\nHost: localhost\r\n\r\n", "Content-Type: text/html; charset=utf-8\r\n"},
        {"GET /status.json HTTP/1.0\r\n\r\n", "Content-Type: application/json\r\n"},
        {"GET /metrics HTTP/1.0\r\n\r\n", "Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"},
        {"GET /status?mode=View+Log HTTP/1.0\r\n\r\n", "Content-Type: Text/Html \r\n"},
        {"GET /statuses HTTP/1.0\r\n\r\n", ""},
        {"POST /metrics HTTP/1.0\r\n\r\n", ""},
        {"GET /robots.txt HTTP/1.0\r\n\r\n", "Content-Type: text/plain; charset=utf-8\r\n"},
    };
    for (auto [request, type] : cases) {
        const std::string answer = Exchange(request);
        if (*type == '\0') {
            EXPECT_EQ(answer, "") << request;
            continue;
        }
        EXPECT_NE(answer.find(type), std::string::npos) << request << answer;
        const std::size_t split = answer.find("\r\n\r\n");
        const std::size_t length = answer.find("Content-Length: ");
        if (std::string(type).find("Text/Html") == std::string::npos) {
            EXPECT_EQ(std::stoul(answer.substr(length + 16)), answer.size() - split - 4) << request;
        }
    }
    const std::string filtered = Exchange("GET /status?q=SHED HTTP/1.0\r\n\r\n");
    EXPECT_NE(filtered.find("<td>B2<td>Shed<td>no..such"), std::string::npos);
    EXPECT_EQ(filtered.find("<td>A1"), std::string::npos);
}

// The site page with [History], over a real database file: a code is named as the database compares
// codes; an unknown one, a missing one and the two paths browsers and crawlers ask for by themselves
// get an answer of their own.
class SitePage : public StatusPaths {
protected:
    void SetUp() override {
        m_dm.DBProvider = "SQLite";
        m_dm.DataBase = m_dbDir.File("vkt");
        ASSERT_TRUE(m_dm.ActivateConnection()) << m_dm.LastConnectionError();
        TDbQuery q(m_dm.conMain);
        ExecStatement(q,
                      {"INSERT INTO site (CODE, sitename, IPaddr, Downtime) VALUES ('A1', 'Depot', '127.0.0.1', 0)"});
        HistoryStore(q, "D1").EnsureTables();
        auto history = std::make_shared<UptimeView>();
        history->Database = m_dm.ConnectionString();
        history->Node = "D1";
        m_board.HistoryPublished(history);
        StatusPaths::SetUp();
    }
    TempDir m_dbDir;
    TVKTDataModule m_dm;
};

TEST_F(SitePage, AnswersEveryCodeAndTheWellKnownPaths) {
    struct Case {
        const char *target, *status, *body;
    };
    const Case cases[] = {
        {"/status/site?code=A1", "200 OK", "<title>Site A1</title>"},
        {"/status/site?code=a1", "200 OK", "<title>Site A1</title>"},
        {"/status/site?code=a1%20%20", "200 OK", "<title>Site A1</title>"},
        {"/status/site?code=B2", "404 Not Found", "No site has this code.\n"}, // on the board, but no site row
        {"/status/site?code=A1%00", "404 Not Found", "No site has this code.\n"},
        {"/status/site", "400 Bad Request", "needs a site's code"},
        {"/status/site?code=", "400 Bad Request", "needs a site's code"},
        {"/favicon.ico", "404 Not Found", "\r\n\r\nNo icon.\n"},
        {"/robots.txt", "200 OK", "\r\n\r\nUser-agent: *\nDisallow: /\n"},
    };
    for (const Case& c : cases) {
        const std::string answer = Exchange(std::string("GET ") + c.target + " HTTP/1.0\r\n\r\n");
        EXPECT_EQ(answer.rfind(std::string("HTTP/1.0 ") + c.status + "\r\n", 0), 0u) << c.target << "\n" << answer;
        EXPECT_NE(answer.find(c.body), std::string::npos) << c.target << "\n" << answer;
        const std::size_t split = answer.find("\r\n\r\n"), length = answer.find("Content-Length: ");
        ASSERT_NE(length, std::string::npos) << c.target;
        EXPECT_EQ(std::stoul(answer.substr(length + 16)), answer.size() - split - 4) << c.target;
    }
}

// What real clients of the board are handed: rows another tool wrote in the Windows code page and
// rows in UTF-8, a loopback answer of 84 microseconds, and a site with a single answer so far.
class BoardClients : public WebServerTest {
protected:
    void SetUp() override {
        if (!Have("curl") || !Have("promtool")) GTEST_SKIP() << "curl or promtool is not installed";
        m_board.ScanBegun();
        SiteResult cp1252 = BoardResult("CAF\xC9", "Caf\xE9 \x80", "127.0.0.9", true, 0);
        cp1252.RttAvgUs = 84;
        m_board.SiteProbed(cp1252, {});
        m_board.SiteProbed(BoardResult("CAFÉ", "Café", "127.0.0.10", true, 12), {});
        SiteResult silent = BoardResult("M\xDC", "", "no..such", false, 0, ProbeCause::TimedOut);
        silent.Reporter6 = "\x96 twice"; // a router's name in the Windows code page
        m_board.SiteProbed(silent, {});
        m_board.ScanEnded();
        m_configure = [this](TWebServer& web) { web.Board = &m_board; };
        WebServerTest::SetUp();
    }
    std::string Get(const std::string& target, const std::string& pipe) {
        return RunCommand("curl -s 'http://127.0.0.1:" + std::to_string(m_port) + target + "' | " + pipe);
    }
    TStatusBoard m_board;
};

TEST_F(BoardClients, ReadUtf8AndMicroseconds) {
    const std::string client = "python3 " + std::string(VKT_SOURCE_DIR) +
                               "/tests/web/status_client.py 'http://127.0.0.1:" + std::to_string(m_port);
    const std::pair<std::string, std::string> cases[] = {
        {Get("/metrics", "promtool check metrics 2>&1"), ""},
        {Get("/metrics", "grep '^vkt_site_rtt'"), "vkt_site_rtt_seconds{code=\"CAFÉ\",address=\"127.0.0.9\"} 8.4e-05\n"
                                                  "vkt_site_rtt_seconds{code=\"CAFÉ\",address=\"127.0.0.10\"} 0.012\n"},
        {RunCommand(client + "/status.json'"), "200 application/json length ok sites MÜ:down,CAFÉ:up,CAFÉ:up\n"},
        {RunCommand(client + "/status.json?history=1'"),
         "200 application/json length ok sites MÜ:down,CAFÉ:up,CAFÉ:up\n"},
        {RunCommand(client + "/status.json?q=caf%C3%A9'"), "200 application/json length ok sites CAFÉ:up,CAFÉ:up\n"},
        {Get("/status.json", "jq -r '.sites[] | \"\\(.name) \\(.rtt_ms) \\(.cause)\"'"),
         " null timed out (reported by – twice)\nCafé € 0.084 \nCafé 12 \n"},
        {Get("/status", "grep -o '<td>CAFÉ<td>Café €<td>127.0.0.9<td class=st>answering<td>[^<]*<td class=n>[^<]*' | "
                        "sed 's/<td>[^<]*<td class=n>/ /'"),
         "<td>CAFÉ<td>Café €<td>127.0.0.9<td class=st>answering 0.084 ms\n"},
    };
    for (const auto& [got, expected] : cases)
        EXPECT_EQ(got, expected);
}

// The first answer of a site already draws a mark; and the board and the admin pages link to each
// other (pages without a board keep their bytes).
TEST_F(BoardClients, SparklineOfOneAnswerAndTheLinks) {
    const std::string page = Exchange("GET /status HTTP/1.0\r\n\r\n");
    EXPECT_FALSE(std::regex_search(page, std::regex("<path class=r d=\"M[0-9]+ [0-9]+\"/>"))) << page;
    EXPECT_NE(page.find("<a href=\"/\">Administration</a>"), std::string::npos);
    for (const char* request : {"GET / HTTP/1.0\r\n\r\n", "GET /RESULT?mode=+Settings+ HTTP/1.0\r\n\r\n"})
        EXPECT_NE(Exchange(request).find("<FONT FACE=ARIAL Size=1>Sentrova VKT module - web administration - <A "
                                         "HREF=\"/status\">Status</A></FONT> \r\n"),
                  std::string::npos)
            << request;
}

// The history reports of a site whose name and last cause a spreadsheet would take for formulas, read
// from an embedded file and the figures the daemon has not written yet.
class HistoryReports : public WebServerTest {
protected:
    void SetUp() override {
        m_db.DBProvider = "SQLite";
        m_db.DataBase = Root().File("history.db");
        ASSERT_TRUE(m_db.ActivateConnection()) << m_db.LastConnectionError();
        ExecStatement(m_db.adoQ1, {"INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner) "
                                   "VALUES ('Q1', '=1+2', '10.0.0.1', 0, '', 0, '')"});
        HistoryStore(m_db.adoQ1, "D1").EnsureTables();
        auto history = std::make_shared<UptimeView>();
        history->Database = m_db.ConnectionString();
        history->Node = "D1";
        const long long now = std::time(nullptr);
        history->Unwritten["Q1"].Hours[HourStart(now)].AddProbe({true, 1, 1, 500, 500, 500});
        history->UnwrittenOutages.push_back({"Q1", "10.0.0.1", "-2+3 timed out", now - 60, 0, false});
        m_board.HistoryPublished(history);
        m_configure = [this](TWebServer& web) { web.Board = &m_board; };
        WebServerTest::SetUp();
    }
    TVKTDataModule m_db;
    TStatusBoard m_board;
};

// Formulas stay text, the files open with a byte-order mark, the code is matched as the site table
// matches it, and days or a step that cannot be read are refused rather than answered for 30 days.
TEST_F(HistoryReports, KeepFormulasAsTextAndRefuseUnreadableQueries) {
    const std::string outages = Exchange("GET /status/outages.csv?code=q1 HTTP/1.0\r\n\r\n");
    EXPECT_NE(outages.find("\r\n\r\n\xEF\xBB\xBF"
                           "code,name,address,start,end,duration_seconds,cause,notified\r\n"
                           "Q1,'=1+2,10.0.0.1,"),
              std::string::npos)
        << outages;
    EXPECT_NE(outages.find(",'-2+3 timed out,no\r\n"), std::string::npos) << outages;
    const std::string hours = Exchange("GET /status/history.csv?code=q1&step=hour HTTP/1.0\r\n\r\n");
    EXPECT_NE(hours.find("\r\n\r\n\xEF\xBB\xBF"
                         "code,start,"),
              std::string::npos)
        << hours;
    EXPECT_NE(hours.find("\r\nQ1," + Today()), std::string::npos) << hours;
    const std::string day = Today();
    const std::pair<std::string, const char*> queries[] = {
        {"/status/outages.csv?from=" + day + "&to=" + day, "200 OK"},
        {"/status/history.csv?code=Q1&from=" + day + "&step=day", "200 OK"},
        {"/status/outages.csv?from=2026-13-01", "400 Bad Request"},
        {"/status/outages.csv?to=yesterday", "400 Bad Request"},
        {"/status/history.csv?code=Q1&from=2026-1-05", "400 Bad Request"},
        {"/status/history.csv?code=Q1&step=week", "400 Bad Request"},
    };
    for (const auto& [target, status] : queries)
        EXPECT_EQ(Exchange("GET " + target + " HTTP/1.0\r\n\r\n").find(status), 9u) << target;
}

} // namespace

TEST(HistoryChart, NamesTheHighestAnswerAndSaysNoAnswerOnlyWithoutOne) {
    const std::pair<std::vector<ChartPoint>, const char*> cases[] = {
        {{{0.0, 0}, {-1, 1}}, "0.000 ms"}, // answers under a millisecond
        {{{2.5, 0}, {0.4, 0.5}}, "2.500 ms"},
        {{{-1, 1}, {-1, -1}}, "no answer"},
    };
    for (const auto& [points, label] : cases)
        EXPECT_NE(HistoryChart(points).find(std::string(">") + label + "</text>"), std::string::npos) << label;
}

// The forms that change what the daemon keeps: a window or an acknowledgement is in the table when the
// answer goes, stored on the request's own connection; one that cannot be stored is answered 503 and
// not made; a window's end names who ended it.
class StoringForms : public WebServerTest {
protected:
    void SetUp() override {
        dm.DBProvider = "SQLite";
        dm.DataBase = Root().File("vkt.db");
        ASSERT_TRUE(dm.ActivateConnection()) << dm.LastConnectionError();
        m_board.SiteProbed(BoardResult("B2", "Shed", "no..such", false, 0, ProbeCause::NameNotFound), {});
        m_board.AcceptsAcknowledgements(true);
        m_configure = [this](TWebServer& web) {
            web.Board = &m_board;
            web.Maintenance = &m_book;
            web.Acknowledge = [this](const std::string& code, const std::string&, const std::string&) {
                handed += code + ";";
            };
        };
        WebServerTest::SetUp();
        OnLoop([this] { m_settings.Database = dm.ConnectionString(); });
    }
    std::string Post(const std::string& path, const std::string& body) {
        const std::string answer = Answer(path, body);
        return answer.substr(0, answer.find("\r\n"));
    }
    std::string Answer(const std::string& path, const std::string& body) {
        return Exchange("POST " + path +
                        " HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded"
                        "\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + body);
    }
    long long Rows(const std::string& table) {
        OpenStatement(dm.adoQ1, {"SELECT COUNT(*) AS n FROM " + table});
        return dm.adoQ1.FieldByName("n").AsInteger();
    }
    static int Count(const std::string& text, const std::string& part) {
        int n = 0;
        for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    }
    std::string Log() { return m_log.Text(); }
    TVKTDataModule dm;
    TStatusBoard m_board;
    MaintenanceBook m_book;
    std::string handed;
    CapturedLog m_log;
};

TEST_F(StoringForms, AreInTheTableWhenAnswered) {
    ASSERT_EQ(Post("/status/maintenance", "code=A1&minutes=30&reason=swap"), "HTTP/1.0 303 See Other") << Log();
    EXPECT_EQ(Rows("maintenance"), 1);
    const long long id = m_book.Current()->at(0).Id;
    EXPECT_EQ(Post("/status/maintenance", "end_early=" + std::to_string(id)), "HTTP/1.0 303 See Other");
    OpenStatement(dm.adoQ1, {"SELECT ended FROM maintenance"});
    EXPECT_GT(dm.adoQ1.FieldByName("ended").AsInteger(), 0);
    EXPECT_NE(Log().find("[MAINTAIN] Maintenance window for A1 ended early by 127.0.0.1.\n"), std::string::npos)
        << Log();
    EXPECT_EQ(Post("/status/maintenance", "end_early=" + std::to_string(id)), "HTTP/1.0 400 Bad Request");

    EXPECT_EQ(Post("/status/ack", "code=B2&comment=on+it"), "HTTP/1.0 409 Conflict") << "no alarm row: no outage";
    AlarmRows(dm).Post("B2", Now() - 1.0 / 24);
    EXPECT_EQ(Post("/status/ack", "code=b2&comment=on+it"), "HTTP/1.0 303 See Other");
    EXPECT_EQ(Rows("vktack"), 1);
    EXPECT_EQ(handed, "B2;");
    EXPECT_NE(Log().find("[MAIL] Outage of B2 acknowledged by 127.0.0.1: on it\n"), std::string::npos) << Log();

    OnLoop([this] {
        m_settings.Database = "Provider=SQLite;Data Source=;Initial Catalog=" + Root().Path() + "/none/vkt.db";
    });
    EXPECT_EQ(Post("/status/maintenance", "code=A1&minutes=30"), "HTTP/1.0 503 Service Unavailable");
    EXPECT_EQ(Post("/status/ack", "code=B2&comment=again"), "HTTP/1.0 503 Service Unavailable");
    EXPECT_EQ(m_book.Current()->size(), 1u);
    EXPECT_EQ(handed, "B2;");
    EXPECT_NE(Log().find("[ERROR] Storing a maintenance window: "), std::string::npos) << Log();

    MaintenanceWindow open;
    open.Code = "A1";
    open.Start = m_book.Now();
    open.End = open.Start + 3600;
    std::vector<MaintenanceWindow> windows(MaintenanceBook::MaxOpen, open);
    for (std::size_t i = 0; i < windows.size(); ++i)
        windows[i].Id = long(i) + 1;
    m_book.Reload([&windows] { return windows; });
    const std::string full = Answer("/status/maintenance", "code=A1&minutes=30");
    EXPECT_EQ(full.substr(0, full.find("\r\n")), "HTTP/1.0 409 Conflict");
    EXPECT_NE(full.find("Maintenance window not made: this daemon has 10000 maintenance windows running or to come"),
              std::string::npos)
        << full;

    // The page lists them a hundred at a time, each page linking to the next.
    const std::string page = Exchange("GET /status HTTP/1.0\r\n\r\n");
    EXPECT_EQ(Count(page, "<button>End now</button>"), 100);
    EXPECT_NE(page.find("100 of 10000 windows running or to come shown."), std::string::npos);
    std::smatch next;
    ASSERT_TRUE(std::regex_search(page, next, std::regex("href=\"/status\\?maintenance_after=([0-9.]+)\"")));
    const std::string second = Exchange("GET /status?maintenance_after=" + next[1].str() + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(Count(second, "<button>End now</button>"), 100);
    EXPECT_EQ(second.find("maintenance_after=" + next[1].str() + "\""), std::string::npos) << "a page of its own";
}
