// The API's rules in process: tokens stored as hashes on both backends, the wait of an address that
// keeps failing, what the listener refuses to start or to accept, and the OpenAPI description
// against the validator.
#include "api/apidatabase.h"
#include "api/apiserver.h"
#include "api/apisettings.h"
#include "api/apitokens.h"
#include "api/apiusers.h"
#include "api/attemptlimiter.h"
#include "api/maintenanceresource.h"
#include "api/openapi.h"
#include "api/sitesresource.h"
#include "api/socketdeadlines.h"
#include "db/ackrows.h"
#include "db/alarmrows.h"
#include "db/common.h"
#include "db/sitetags.h"
#include "history/maintenancetable.h"
#include "platform/strutil.h"
#include "web/statusboard.h"
#include "web/statusjson.h"
#include "../capturedlog.h"
#include "../db/dbfixture.h"
#include "../web/boardresult.h"
#include "../web/shellcommand.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

namespace {

using TokensOn = DataModuleOn;
using StoredFirstOn = DataModuleOn;

/// Sites S01..S25 made through the API: every fourth silent, the ones after those answering, then
/// degraded ones, then ones never probed; every third tagged "core", every fifth "wan". The board
/// holds the probed ones with their tags, as a scan leaves it.
class TaggedSitesOn : public DataModuleOn {
protected:
    void SetUp() override {
        DataModuleOn::SetUp();
        database = std::make_unique<TApiDatabase>(dm.ConnectionString(), dm.Dialect());
        sites = std::make_unique<TSitesResource>(*database);
        sites->DaemonId = [] { return "D1"; };
        sites->LoadView = [this](TStatusView& view) {
            view.Load(board);
            view.LoadMaintenance(book);
            return true;
        };
        for (int i = 1; i <= 25; ++i) {
            nlohmann::json body = {{"code", Code(i)},
                                   {"name", i == 7 ? "Harbour" : "Site " + std::to_string(i)},
                                   {"address", "10.0.0." + std::to_string(i)},
                                   {"downtime", 5}};
            nlohmann::json tags = nlohmann::json::array();
            if (i % 3 == 0) tags.push_back("Core");
            if (i % 5 == 0) tags.push_back("wan");
            if (!tags.empty()) body["tags"] = tags;
            ASSERT_EQ(Call(&TSitesResource::Create, body).Status, 201);
            if (i % 4 != 3)
                board.SiteProbed(BoardResult(Code(i), "", "10.0.0." + std::to_string(i), i % 4 != 0, 3),
                                 {-1, 0, i % 4 == 2 ? 1 : 0});
        }
        board.SiteTagsRead(std::make_shared<const SiteTagMap>(SiteTags(dm.adoQ2).All()));
    }
    static std::string Code(int i) { return Format("S%02d", i); }
    TApiResponse Call(TApiResponse (TSitesResource::*create)(const TApiRequest&, const std::string&),
                      const nlohmann::json& body) {
        TApiRequest request;
        request.Body = body.dump();
        return (*sites.*create)(request, "ops");
    }
    /// The codes a list or status body holds, joined by ",", and "+" when it names a next page.
    static std::string Listed(const std::string& body, std::string* next = nullptr) {
        const nlohmann::json list = nlohmann::json::parse(body);
        std::string codes;
        for (const auto& site : list["sites"])
            codes += (codes.empty() ? "" : ",") + site["code"].get<std::string>();
        if (next != nullptr) *next = list.value("next", "");
        return codes + (list.contains("next") ? "+" : "");
    }
    std::string List(const std::map<std::string, std::string>& query, std::string* next = nullptr) {
        TApiRequest request;
        request.Query = query;
        const TApiResponse response = sites->List(request);
        EXPECT_EQ(response.Status, 200) << response.Body;
        return Listed(WholeBody(response), next);
    }
    /// The query fields of a next link.
    static std::map<std::string, std::string> QueryOf(const std::string& link) {
        std::map<std::string, std::string> query;
        for (const std::string& pair : SplitString(link.substr(link.find('?') + 1), '&'))
            query[pair.substr(0, pair.find('='))] = pair.substr(pair.find('=') + 1);
        return query;
    }

    TStatusBoard board;
    MaintenanceBook book;
    std::unique_ptr<TApiDatabase> database;
    std::unique_ptr<TSitesResource> sites;
};

/// 199 (or `bytes` - 1) bytes and a two-byte character: a column of that many bytes takes the first ones.
std::string OverTheColumn(std::size_t bytes, char c) {
    return std::string(bytes - 1, c) + "\xC3\xA9";
}

} // namespace

TEST(AttemptLimiter, AnAddressWaitsAfterItsFreeFailuresAndEveryAddressWhenAllTogetherFailTooOften) {
    const Clock::MonoTime t0{};
    using std::chrono::minutes, std::chrono::seconds;
    struct Step {
        int Failures; // made at t0, in all
        long long Wait;
    };
    for (const Step& step : {Step{5, 0}, Step{6, 1}, Step{7, 2}, Step{8, 4}, Step{12, 60}, Step{30, 60}}) {
        TAttemptLimiter fresh;
        for (int i = 0; i < step.Failures; ++i)
            fresh.Failed("10.0.0.1", t0);
        EXPECT_EQ(fresh.WaitSeconds("10.0.0.1", t0), step.Wait) << step.Failures;
        EXPECT_EQ(fresh.WaitSeconds("10.0.0.2", t0), 0) << "another address";
    }
    TAttemptLimiter limiter;
    for (int i = 0; i < 7; ++i)
        limiter.Failed("10.0.0.1", t0);
    EXPECT_EQ(limiter.WaitSeconds("10.0.0.1", t0 + seconds(2)), 0) << "the wait is over";
    limiter.Failed("10.0.0.1", t0 + seconds(2));
    EXPECT_EQ(limiter.WaitSeconds("10.0.0.1", t0 + seconds(2)), 4) << "the count goes on";
    limiter.Failed("10.0.0.1", t0 + minutes(11));
    EXPECT_EQ(limiter.WaitSeconds("10.0.0.1", t0 + minutes(11)), 0) << "forgotten after a quiet while";

    // Ten addresses use their free failures; the next failure of any address holds all of them
    // until the minute is over, and a client failing once a minute never comes near it.
    TAttemptLimiter all;
    for (int a = 0; a < 10; ++a)
        for (int i = 0; i < 5; ++i)
            all.Failed("10.1.0." + std::to_string(a), t0 + seconds(a));
    EXPECT_EQ(all.WaitSeconds("10.2.0.1", t0 + seconds(10)), 0);
    all.Failed("10.1.0.99", t0 + seconds(10));
    EXPECT_EQ(all.WaitSeconds("10.2.0.1", t0 + seconds(10)), 50) << "a fresh address waits too";
    EXPECT_EQ(all.WaitSeconds("10.2.0.1", t0 + seconds(60)), 0);
    TAttemptLimiter steady;
    for (int i = 0; i < 120; ++i)
        steady.Failed("10.3.0." + std::to_string(i % 7), t0 + minutes(i));
    EXPECT_EQ(steady.WaitSeconds("10.2.0.1", t0 + minutes(120)), 0);
}

TEST(ApiSettings, ListenIsHostAndPortAndACertificateNeedsItsKey) {
    struct Case {
        std::string Ini;
        std::string Host; // empty: stays off
        int Port;
        std::string Line;
    };
    const std::vector<Case> cases = {
        {"", "", 0, ""},
        {"Listen=127.0.0.1:8443", "127.0.0.1", 8443, ""},
        {"Listen=[::1]:0", "::1", 0, ""},
        {"Listen=localhost:65535", "localhost", 65535, ""},
        {"Listen=::1:80", "", 0, "[Api] Listen \"::1:80\" is not host:port; the API stays off."},
        {"Listen=8443", "", 0, "[Api] Listen \"8443\" is not host:port; the API stays off."},
        {"Listen=host:65536", "", 0, "[Api] Listen \"host:65536\" is not host:port; the API stays off."},
        {"Listen=host:-1", "", 0, "[Api] Listen \"host:-1\" is not host:port; the API stays off."},
        {"Listen=h:1\r\nCertificate=c.pem", "", 0, "[Api] Certificate and Key go together; the API stays off."},
    };
    TempDir dir;
    for (const Case& c : cases) {
        WriteFileText(dir.File("vkt.ini"), "[Api]\r\n" + c.Ini + "\r\n");
        TApiSettings settings;
        const std::vector<std::string> lines = settings.Load(dir.File("vkt.ini"));
        EXPECT_EQ(settings.Host, c.Host) << c.Ini;
        EXPECT_EQ(settings.Port, c.Port) << c.Ini;
        EXPECT_EQ(lines, c.Line.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.Line}) << c.Ini;
    }
}

TEST_P(TokensOn, OnlyTheHashIsStoredAndEachTokenKnowsWhetherItMayWrite) {
    TApiTokens tokens(dm.adoQ2);
    const std::string reader = tokens.Add("reader", TApiRole::Viewer);
    const std::string writer = tokens.Add("ci.deploy-1", TApiRole::Admin);
    EXPECT_NE(reader, writer);
    EXPECT_THROW(tokens.Add("reader", TApiRole::Admin), ETokenRefused);
    for (const std::string& name : {std::string(), std::string("two words"), std::string(31, 'n'), std::string("x'y")})
        EXPECT_THROW(tokens.Add(name, TApiRole::Viewer), ETokenRefused) << name;

    OpenStatement(dm.adoQ2, {"SELECT name, hash FROM apitoken ORDER BY name"});
    for (; !dm.adoQ2.Eof(); dm.adoQ2.Next()) {
        const std::string hash = VarToStrTrim(dm.adoQ2.FieldByName("hash"));
        EXPECT_TRUE(hash == Sha256Hex(reader) || hash == Sha256Hex(writer)) << hash;
    }
    ASSERT_EQ(tokens.List().size(), 2u);
    EXPECT_EQ(tokens.List()[0].Name, "ci.deploy-1");
    EXPECT_EQ(tokens.List()[0].Role, TApiRole::Admin);
    EXPECT_EQ(tokens.List()[1].Role, TApiRole::Viewer);

    EXPECT_EQ(tokens.Find(writer)->Name, "ci.deploy-1");
    EXPECT_FALSE(tokens.Find(Sha256Hex(writer))) << "the stored hash is no token";
    EXPECT_FALSE(tokens.Find(writer + "x"));
    tokens.Revoke("ci.deploy-1");
    EXPECT_FALSE(tokens.Find(writer));
    EXPECT_EQ(tokens.Find(reader)->Name, "reader");
    EXPECT_THROW(tokens.Revoke("ci.deploy-1"), ETokenRefused);
    EXPECT_EQ(TApiTokens(dm.adoQ2).List().size(), 1u) << "an existing table is kept";
}

INSTANTIATE_TEST_SUITE_P(Backends, TokensOn, ::testing::Values(Backend::SQLite, Backend::PostgreSQL), BackendName);

// Each window is in the table when its answer goes, on the API's own connection, with its texts cut to
// their columns between characters (a UTF-8 server refuses a cut inside one); one that cannot be stored
// is refused alone; a restart reads them all back; its end is stored and logged with who ended it.
TEST_P(StoredFirstOn, WindowsAreInTheTableWhenAnswered) {
    TApiDatabase database(dm.ConnectionString(), dm.Dialect());
    MaintenanceBook book;
    CapturedLog log;
    TMaintenanceResource resource;
    resource.Book = &book;
    resource.Storing = [&database](const auto& work) {
        database.With([&](TDbQuery& q) { work(TableStore(q, "D1")); });
    };
    const auto post = [&resource](const nlohmann::json& body, const std::string& token) {
        TApiRequest request;
        request.Body = body.dump();
        return resource.Make(request, token);
    };

    const TApiResponse made =
        post({{"code", "A1"}, {"minutes", 30}, {"reason", OverTheColumn(200, 'a')}}, OverTheColumn(64, 'm'));
    ASSERT_EQ(made.Status, 201) << made.Body;
    EXPECT_EQ(Count("maintenance"), 1) << "stored before the answer";

    TMaintenanceResource unreachable = resource;
    TApiDatabase gone("Provider=SQLite;Data Source=;Initial Catalog=" + dir.Path() + "/none/vkt.db",
                      TDbDialect::SQLite);
    unreachable.Storing = [&gone](const auto& work) { gone.With([&](TDbQuery& q) { work(TableStore(q, "D1")); }); };
    TApiRequest third;
    third.Body = R"({"code":"C3","minutes":5})";
    EXPECT_THROW(unreachable.Make(third, "ops"), EDatabaseError);
    EXPECT_EQ(book.Current()->size(), 1u) << "what could not be stored is not made";

    // One that could not be stored holds no other back.
    EXPECT_EQ(post({{"code", "B2"}, {"weekdays", "sun"}, {"time", "03:00"}, {"minutes", 60}}, "ops").Status, 201);
    EXPECT_EQ(Count("maintenance"), 2);

    MaintenanceBook restarted;
    restarted.Reload([this] { return MaintenanceTable(dm.adoQ2).Load("D1"); });
    ASSERT_EQ(restarted.Current()->size(), 2u);
    const MaintenanceWindow& first = restarted.Current()->at(restarted.Current()->at(0).Code == "A1" ? 0 : 1);
    EXPECT_EQ(first.Reason, std::string(199, 'a'));
    EXPECT_EQ(first.MadeBy, std::string(63, 'm'));

    EXPECT_EQ(resource.End(nlohmann::json::parse(made.Body)["id"].get<std::string>(), "ops").Status, 204);
    EXPECT_EQ(Open({"SELECT COUNT(*) AS RecCount FROM maintenance WHERE ended > 0 AND code = 'A1'"})
                  .FieldByName("RecCount")
                  .AsInteger(),
              1);
    EXPECT_NE(log.Text().find("[MAINTAIN] Maintenance window for A1 made by " + OverTheColumn(64, 'm') + ": from "),
              std::string::npos)
        << log.Text();
    EXPECT_NE(log.Text().find("[MAINTAIN] Maintenance window for A1 ended early by ops.\n"), std::string::npos)
        << log.Text();
}

// The list comes a page at a time; the next page's link walks the rest; a limit or cursor that is none
// is refused with its field; a full book refuses a window with 409.
TEST(MaintenanceResource, ListsAPageAtATimeAndRefusesPastTheBound) {
    MaintenanceBook book;
    TMaintenanceResource resource;
    resource.Book = &book;
    resource.Storing = [](const auto& work) { work([](const MaintenanceWindow&, bool) {}); };
    std::vector<MaintenanceWindow> windows(MaintenanceBook::MaxOpen - 3);
    for (std::size_t i = 0; i < windows.size(); ++i) {
        windows[i].Id = long(i) + 1;
        windows[i].Code = "A1";
        windows[i].Start = book.Now() - 60;
        windows[i].End = book.Now() + 3600;
    }
    book.Reload([&windows] { return windows; });
    TApiRequest make;
    make.Body = R"({"code":"A1","minutes":5})";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(resource.Make(make, "ops").Status, 201);
    const TApiResponse full = resource.Make(make, "ops");
    EXPECT_EQ(full.Status, 409);
    EXPECT_NE(full.Body.find("10000 maintenance windows running or to come"), std::string::npos) << full.Body;

    windows.resize(250);
    book.Reload([&windows] { return windows; });
    TApiRequest list;
    list.Query = {{"limit", "100"}};
    std::size_t seen = 0, pages = 0;
    for (;;) {
        const nlohmann::json page = nlohmann::json::parse(resource.List(list).Body);
        seen += page["windows"].size();
        EXPECT_EQ(page["total"], 250);
        ++pages;
        if (page["next"].is_null() || pages > 20) break;
        const std::string next = page["next"];
        ASSERT_EQ(next.rfind("/api/v1/maintenance?limit=100&after=", 0), 0u) << next;
        list.Query["after"] = next.substr(next.find("after=") + 6);
    }
    EXPECT_EQ(seen, 250u);
    EXPECT_EQ(pages, 3u);
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"limit", "0"}, {"limit", "1001"}, {"limit", "ten"}, {"after", "12"}}) {
        TApiRequest bad;
        bad.Query = {{name, value}};
        const TApiResponse refused = resource.List(bad);
        EXPECT_EQ(refused.Status, 400) << name << "=" << value;
        EXPECT_EQ(nlohmann::json::parse(refused.Body)["field"], name);
    }
    EXPECT_EQ(nlohmann::json::parse(resource.List(TApiRequest{}).Body)["windows"].size(), 100u) << "by default";
}

// An acknowledgement is stored only for an open outage (its earliest alarm row), its texts cut to their
// columns between characters.
TEST_P(StoredFirstOn, AcknowledgementsNeedAnOpenOutage) {
    AckRows rows(dm.adoQ2);
    EXPECT_FALSE(rows.Acknowledge("A1", "ops", "on it", Now()));
    const TDateTime since = Now() - 1.0 / 24;
    AlarmRows(dm).Post("A1", since);
    AlarmRows(dm).Post("A1", since + 1.0 / 1440);
    ASSERT_TRUE(rows.Acknowledge("A1", OverTheColumn(100, 'b'), OverTheColumn(255, 'c'), Now()));
    const std::vector<AckRow> stored = rows.ReadAll();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].By, std::string(99, 'b'));
    EXPECT_EQ(stored[0].Comment, std::string(254, 'c'));
    EXPECT_NEAR(stored[0].Since * 86400, since * 86400, 1.0); // whole seconds in the table
}

// Pages in code order under each filter; a page names the next one only while more sites are kept.
TEST_P(TaggedSitesOn, ListsPagesInCodeOrderUnderEachFilter) {
    struct Case {
        std::map<std::string, std::string> Query;
        std::string Codes; // "+": a next page is named
    };
    const std::vector<Case> cases = {
        {{{"limit", "4"}}, "S01,S02,S03,S04+"},
        {{{"limit", "10"}, {"after", "S20"}}, "S21,S22,S23,S24,S25"},
        {{{"state", "down"}}, "S04,S08,S12,S16,S20,S24"},
        {{{"state", "degraded"}, {"limit", "5"}}, "S02,S06,S10,S14,S18+"},
        {{{"state", "unknown"}}, "S03,S07,S11,S15,S19,S23"},
        {{{"state", "up"}, {"tag", "wan"}}, "S05,S25"},
        {{{"tag", "CORE"}, {"limit", "3"}}, "S03,S06,S09+"},
        {{{"tag", "core"}, {"limit", "8"}}, "S03,S06,S09,S12,S15,S18,S21,S24"},
        {{{"tag", "core"}, {"after", "S21"}}, "S24"},
        {{{"q", " HARB "}}, "S07"},
        {{{"q", "10.0.0.2"}, {"limit", "3"}}, "S02,S20,S21+"},
        {{{"tag", "none"}}, ""},
        {{{"after", "S25"}}, ""},
    };
    for (const Case& c : cases) {
        std::string query;
        for (const auto& [name, value] : c.Query)
            query += name + "=" + value + "&";
        EXPECT_EQ(List(c.Query), c.Codes) << query;
    }
    // Following the next links walks every kept site once, in order, the filters kept.
    for (const auto& [filter, all] : std::vector<std::pair<std::map<std::string, std::string>, int>>{
             {{{"limit", "7"}}, 25}, {{{"limit", "2"}, {"tag", "core"}}, 8}}) {
        std::map<std::string, std::string> query = filter;
        std::string walked, next;
        for (int pages = 0; pages < 30; ++pages) {
            const std::string codes = List(query, &next);
            walked += (walked.empty() ? "" : ",") + codes.substr(0, codes.find('+'));
            if (next.empty()) break;
            query = QueryOf(next);
        }
        const std::vector<std::string> codes = SplitString(walked, ',');
        EXPECT_EQ(codes.size(), std::size_t(all)) << walked;
        EXPECT_TRUE(std::is_sorted(codes.begin(), codes.end())) << walked;
    }
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{{"limit", "0"},
                                                                                      {"limit", "1001"},
                                                                                      {"limit", "-1"},
                                                                                      {"limit", "ten"},
                                                                                      {"state", "sideways"},
                                                                                      {"tag", "two words"},
                                                                                      {"tag", std::string(65, 't')},
                                                                                      {"after", "S0\x01"}}) {
        TApiRequest bad;
        bad.Query = {{name, value}};
        const TApiResponse refused = sites->List(bad);
        EXPECT_EQ(refused.Status, 400) << name << "=" << value;
        EXPECT_EQ(nlohmann::json::parse(refused.Body)["field"], name) << refused.Body;
    }

    // /status.json pages the board's sites (the probed ones) by code under the same filters.
    TStatusView view;
    view.Load(board);
    const auto status = [&view](const std::map<std::string, std::string>& query, std::string* next = nullptr) {
        SiteFilter filter;
        EXPECT_FALSE(SiteFilter::Read(
            [&query](const std::string& name) {
                const auto it = query.find(name);
                return it == query.end() ? std::string() : it->second;
            },
            filter));
        return Listed(TStatusJson(view, filter, false).Whole(), next);
    };
    EXPECT_EQ(status({{"tag", "core"}, {"limit", "3"}}), "S06,S09,S12+");
    EXPECT_EQ(status({{"state", "down"}, {"after", "S12"}}), "S16,S20,S24");
    std::string next;
    status({{"limit", "2"}, {"q", "10.0.0"}}, &next);
    EXPECT_EQ(next, "/status.json?limit=2&after=S02&q=10.0.0");
}

// Tags are set, kept and cleared through the API, refused when they are none, and go with their site.
TEST_P(TaggedSitesOn, TagsGoWithTheirSiteAndAWindowOfATagHoldsItsSites) {
    const auto change = [this](const char* method, const std::string& code, const nlohmann::json& body) {
        TApiRequest request;
        request.Body = body.dump();
        const TApiResponse response = sites->Change(code, request, std::string(method) == "PATCH", "ops");
        const nlohmann::json answer = nlohmann::json::parse(response.Body);
        return response.Status == 200 ? answer["tags"].dump()
                                      : std::to_string(response.Status) + " " + answer.value("field", "");
    };
    struct Step {
        const char* Method;
        nlohmann::json Body;
        std::string Tags; // or "STATUS field"
    };
    const std::vector<Step> steps = {
        {"PATCH", {{"tags", {"Zeta", "alpha", "alpha", "x.y:z-1_2"}}}, R"(["alpha","x.y:z-1_2","zeta"])"},
        {"PATCH", {{"name", "Kept"}}, R"(["alpha","x.y:z-1_2","zeta"])"},
        {"PATCH", {{"tags", {"no space"}}}, "400 tags"},
        {"PATCH", {{"tags", "core"}}, "400 tags"},
        {"PATCH", {{"tags", {1}}}, "400 tags"},
        {"PUT", {{"address", "10.0.0.3"}, {"downtime", 5}}, "[]"},
        {"PATCH", {{"tags", {"core"}}}, R"(["core"])"},
        {"PATCH", {{"tags", nullptr}}, "[]"},
        {"PATCH", {{"tags", {"core"}}}, R"(["core"])"},
    };
    for (const Step& step : steps)
        EXPECT_EQ(change(step.Method, "s03", step.Body), step.Tags) << step.Method << " " << step.Body;
    EXPECT_EQ(nlohmann::json::parse(sites->Get("S15").Body)["tags"], nlohmann::json({"core", "wan"}));

    // A window of tag wan holds the five sites with that tag, and only those.
    TMaintenanceResource windows;
    windows.Book = &book;
    windows.Storing = [this](const auto& work) { database->With([&](TDbQuery& q) { work(TableStore(q, "D1")); }); };
    TApiRequest make;
    make.Body = R"({"code":"tag:WAN","minutes":30})";
    const TApiResponse made = windows.Make(make, "ops");
    ASSERT_EQ(made.Status, 201) << made.Body;
    EXPECT_EQ(nlohmann::json::parse(made.Body)["code"], "tag:WAN") << "the window keeps its target";
    make.Body = R"({"code":"tag:)" + std::string(27, 'w') + R"(","minutes":30})";
    EXPECT_EQ(windows.Make(make, "ops").Status, 400) << "the target fits the table's column";
    std::string held;
    const nlohmann::json all = nlohmann::json::parse(WholeBody(sites->List(TApiRequest{})));
    for (const auto& site : all["sites"])
        if (site["maintenance"] == true) held += site["code"].get<std::string>() + ",";
    EXPECT_EQ(held, "S05,S10,S15,S20,S25,");
    book.UseTags(std::make_shared<const SiteTagMap>(SiteTags(dm.adoQ2).All()));
    for (int i = 1; i <= 25; ++i)
        EXPECT_EQ(book.Holds(Code(i)), i % 5 == 0) << "notices of " << Code(i);

    ASSERT_EQ(sites->Remove("S15", "ops").Status, 204);
    EXPECT_EQ(Open({"SELECT COUNT(*) AS RecCount FROM sitetag WHERE code = 'S15'"}).FieldByName("RecCount").AsInteger(),
              0);
}

INSTANTIATE_TEST_SUITE_P(Backends, TaggedSitesOn, ::testing::Values(Backend::SQLite, Backend::PostgreSQL), BackendName);

INSTANTIATE_TEST_SUITE_P(Backends, StoredFirstOn, ::testing::Values(Backend::SQLite, Backend::PostgreSQL), BackendName);

// Plain HTTP only on loopback, [Web] Allow at accept, and the lines that say why.
// A peer is judged on what it sent: bytes that wait unread at its deadline are the server's lag
// (a busy machine), so that deadline waits a little for the server; a silent peer is shut out on time.
TEST(SocketDeadlines, APeerWhoseBytesWaitUnreadIsNotShutOutForTheServersLag) {
    struct Pair {
        int Server = -1, Peer = -1;
        TSocketDeadlines::TWatch* Watch = nullptr;
        bool ShutOut() const {
            pollfd p{Peer, POLLIN, 0};
            char byte = 0;
            return ::poll(&p, 1, 0) == 1 && ::recv(Peer, &byte, 1, MSG_DONTWAIT) == 0;
        }
    };
    Pair silent, sent;
    for (Pair* pair : {&silent, &sent}) {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        pair->Server = fds[0];
        pair->Peer = fds[1];
    }
    ASSERT_EQ(::send(sent.Peer, "GET / HTTP/1.1\r\n", 16, 0), 16);
    {
        TSocketDeadlines deadlines;
        const auto now = std::chrono::steady_clock::now();
        silent.Watch = deadlines.Watch(silent.Server, now + std::chrono::milliseconds(50));
        sent.Watch = deadlines.Watch(sent.Server, now + std::chrono::milliseconds(50));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        EXPECT_TRUE(silent.ShutOut());
        EXPECT_FALSE(sent.ShutOut()) << "shut out while its request waited for the server";
        char buffer[64];
        EXPECT_EQ(::recv(sent.Server, buffer, sizeof buffer, 0), 16); // the server catches up
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        EXPECT_TRUE(sent.ShutOut()) << "once read, the deadline that passed holds";
        deadlines.Unwatch(silent.Watch);
        deadlines.Unwatch(sent.Watch);
    }
    for (const Pair& pair : {silent, sent}) {
        ::close(pair.Server);
        ::close(pair.Peer);
    }
}

TEST(ApiListener, StartsOnlyWhereItMayAndScreensPeersByWebAllow) {
    struct Case {
        std::string Ini;
        bool Listens;
        std::string Answer; // curl's status of GET /api/v1/openapi.json
        std::string Line;
    };
    const std::vector<Case> cases = {
        {"[Api]\r\nListen=127.0.0.1:0", true, "200", "Listening for the API on http://127.0.0.1:"},
        {"[Api]\r\nListen=0.0.0.0:0", false, "",
         "Not listening on 0.0.0.0:0: plain HTTP is refused on an address that is not loopback, as tokens would "
         "cross the network in clear; set [Api] Certificate and Key."},
        {"[Api]\r\nListen=127.0.0.1:0\r\nCertificate=/nonexistent.pem\r\nKey=/nonexistent.key", false, "",
         "Cannot read [Api] Certificate /nonexistent.pem; the API stays off."},
        {"[Web]\r\nAllow=10.0.0.0/8\r\n[Api]\r\nListen=127.0.0.1:0", true, "000",
         "Refused a connection from 127.0.0.1: not in [Web] Allow."},
        {"[Web]\r\nAllow=127.0.0.1\r\n[Api]\r\nListen=127.0.0.1:0", true, "200", "Listening for the API"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        WriteFileText(dir.File("vkt.ini"), c.Ini + "\r\n");
        CapturedLog log;
        TApiServer server;
        server.ConfigFile = dir.File("vkt.ini");
        server.Start("Provider=SQLite;Data Source=;Initial Catalog=" + dir.File("vkt.db"), TDbDialect::SQLite, 5);
        EXPECT_EQ(server.Port() != 0, c.Listens) << c.Ini << "\n" << log.Text();
        if (c.Listens) {
            const std::string answer =
                RunCommand("curl -s -o /dev/null -w '%{http_code}' http://127.0.0.1:" + std::to_string(server.Port()) +
                           "/api/v1/openapi.json");
            EXPECT_EQ(answer.substr(0, 3), c.Answer) << c.Ini;
        }
        EXPECT_NE(log.Text().find(c.Line), std::string::npos) << c.Ini << "\n" << log.Text();
    }
}

namespace {

/// A raw TCP peer from a chosen loopback address: what a silent or slow client does, byte by byte.
class RawPeer {
public:
    RawPeer(int port, const char* from) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &local.sin_addr);
        sockaddr_in server = local;
        server.sin_port = htons(uint16_t(port));
        ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
        Connected = ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
                    ::connect(m_fd, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
    }
    ~RawPeer() { ::close(m_fd); }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    void Send(const std::string& text) { ::send(m_fd, text.data(), text.size(), MSG_NOSIGNAL); }
    /// Takes what has arrived, waiting up to `wait` for it; Closed once the server ended the connection.
    void Poll(std::chrono::milliseconds wait) {
        pollfd p{m_fd, POLLIN, 0};
        if (Closed || ::poll(&p, 1, int(wait.count())) <= 0) return;
        char buffer[4096];
        const long n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) Received.append(buffer, std::size_t(n));
        if (n == 0 || (n < 0 && errno != EAGAIN)) Closed = true;
    }

    bool Connected = false;
    bool Closed = false;
    std::string Received;

private:
    int m_fd = -1;
};

/// The listener in process, plain HTTP on loopback (or HTTPS with a certificate of the test's), on
/// an SQLite file that holds a write token and a read token.
class ApiPeers : public ::testing::Test {
protected:
    void Start(const std::string& ini, const std::string& connectionString = "") {
        TDbConnection connection;
        connection.ConnectionString = Database();
        connection.Open();
        TDbQuery query{connection};
        writer = TApiTokens(query).Add("writer", TApiRole::Admin);
        reader = TApiTokens(query).Add("reader", TApiRole::Viewer);
        WriteFileText(dir.File("vkt.ini"), ini + "\r\n");
        server.ConfigFile = dir.File("vkt.ini");
        server.Board = &board;
        server.HeadTime = std::chrono::milliseconds(1000);
        server.BodyTime = std::chrono::milliseconds(2000);
        server.Start(connectionString.empty() ? Database() : connectionString,
                     connectionString.empty() ? TDbDialect::SQLite : TDbDialect::PostgreSQL, 5);
        ASSERT_NE(server.Port(), 0) << log.Text();
    }
    std::string Database() const { return "Provider=SQLite;Data Source=;Initial Catalog=" + dir.File("vkt.db"); }

    /// curl's status and body of one request from 127.0.0.1.
    std::pair<std::string, std::string> Curl(const std::string& path, const std::string& options = "") {
        const std::string status =
            RunCommand("curl -s -m 20 -o " + dir.File("answer") + " -w '%{http_code}' " + options +
                       " 'http://127.0.0.1:" + std::to_string(server.Port()) + path + "'");
        return {status.substr(0, 3), ReadFileText(dir.File("answer"))};
    }

    TempDir dir;
    TStatusBoard board;
    TApiServer server;
    CapturedLog log;
    std::string writer, reader;
};

/// Threads of this process at the lowest priority.
int LoweredThreads() {
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string stat = ReadFileText(task.path().string() + "/stat");
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        for (int i = 3; i <= 19 && fields >> field; ++i) {
        }
        if (field == "19") ++count;
    }
    return count;
}

} // namespace

// A request without a valid token (or with a token that may only read, for a change) is answered
// as soon as its head is in; one that trickles its head or body, or says nothing, is closed at
// its deadline.
TEST_F(ApiPeers, RefusalsComeBeforeTheBodyAndSlowPeersAreClosedAtTheirDeadlines) {
    Start("[Api]\r\nListen=127.0.0.1:0");
    struct Case {
        std::string Label, Head;
        std::string Trickle; // sent every 100 ms

        std::string Answer;               // the status line's start; empty: none
        int ClosedFromMs, ClosedWithinMs; // 0, 0: not looked at
    };
    const std::string chunked = "POST /api/v1/sites HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n";
    const std::string chunk = "1\r\n \r\n";
    const std::vector<Case> cases = {
        {"no token", chunked + "\r\n", chunk, "HTTP/1.1 401", 0, 0},
        {"bad token", chunked + "Authorization: Bearer vkt_00\r\n\r\n", chunk, "HTTP/1.1 401", 0, 0},
        {"read token", chunked + "Authorization: Bearer " + reader + "\r\n\r\n", chunk, "HTTP/1.1 403", 0, 0},
        {"slow head", "GET /status.json HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ", "x", "", 900, 1700},
        {"slow body",
         "POST /api/v1/sites HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100\r\nAuthorization: Bearer " + writer +
             "\r\n\r\n{",
         " ", "", 1900, 2700},
        {"silent", "", "", "", 900, 1700},
    };
    std::vector<std::unique_ptr<RawPeer>> peers;
    // A server's deadline runs from its connection's start: the lower bounds count from before the
    // first connection, the upper ones from after the last (a loaded machine may take a while between).
    const auto opening = std::chrono::steady_clock::now();
    for (const Case& c : cases) {
        peers.push_back(std::make_unique<RawPeer>(server.Port(), "127.0.0.1"));
        ASSERT_TRUE(peers.back()->Connected) << c.Label;
        peers.back()->Send(c.Head);
    }
    const auto start = std::chrono::steady_clock::now();
    const long long openingMs = std::chrono::duration_cast<std::chrono::milliseconds>(start - opening).count();
    std::vector<long long> answeredMs(cases.size(), -1), closedMs(cases.size(), -1);
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(3500)) {
        for (std::size_t i = 0; i < cases.size(); ++i) {
            RawPeer& peer = *peers[i];
            if (!cases[i].Trickle.empty() && !peer.Closed) peer.Send(cases[i].Trickle);
            peer.Poll(std::chrono::milliseconds(0));
            const long long ms = MillisecondsSince(start);
            if (answeredMs[i] < 0 && !peer.Received.empty()) answeredMs[i] = ms;
            if (closedMs[i] < 0 && peer.Closed) closedMs[i] = ms;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(peers[i]->Received.substr(0, c.Answer.size()), c.Answer) << c.Label;
        if (!c.Answer.empty()) {
            // Before the body's deadline (1900 ms): a server that waited for the body, which trickles
            // on, would answer at the earliest when it gives up on it.
            EXPECT_LE(answeredMs[i], 1500) << c.Label << " waited for a body it does not need";
        }
        if (c.ClosedWithinMs > 0) {
            EXPECT_GE(closedMs[i], 0) << c.Label << " is held open";
            EXPECT_GE(closedMs[i] + openingMs, c.ClosedFromMs) << c.Label << " closed before its deadline";
            EXPECT_LE(closedMs[i], c.ClosedWithinMs) << c.Label;
        }
    }
}

// 100 connections of one address that never send anything leave room for the others; the threads
// that hold them run at the lowest priority, as the admin port's do.
TEST_F(ApiPeers, OneAddressCannotTakeEveryConnectionAndItsThreadsYieldToTheScan) {
    Start("[Api]\r\nListen=127.0.0.1:0");
    std::vector<std::unique_ptr<RawPeer>> flood;
    for (int i = 0; i < 100; ++i)
        flood.push_back(std::make_unique<RawPeer>(server.Port(), "127.0.0.2"));
    // The server closes the ones beyond its share as it accepts them; on a busy machine that takes a while.
    int open = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        open = 0;
        for (auto& peer : flood) {
            peer->Poll(std::chrono::milliseconds(0));
            open += peer->Connected && !peer->Closed;
        }
    } while (open > 16 && std::chrono::steady_clock::now() < until);
    EXPECT_LE(open, 16);
    EXPECT_EQ(Curl("/api/v1/sites", "-H 'Authorization: Bearer " + reader + "'").first, "200");
    EXPECT_GE(LoweredThreads(), 2) << "the listener and the connections' threads";
}

// Five bad tokens, a good one, a bad one: the wait is not cleared by the good one, and it holds the
// status paths too; a wrong login on the status paths counts as a bad token does.
TEST_F(ApiPeers, FailuresAreNotClearedByASuccessAndTheStatusPathsWaitToo) {
    const std::string hash = TrimRight(RunCommand("openssl passwd -6 'open sesame'"));
    Start("[Web]\r\nUser=ops\r\nPassword=" + hash + "\r\n[Api]\r\nListen=127.0.0.1:0");
    const std::string bad = "-H 'Authorization: Bearer vkt_00'", good = "-H 'Authorization: Bearer " + reader + "'";
    struct Step {
        std::string Path, Options, Status;
    };
    const std::vector<Step> steps = {
        {"/api/v1/sites", bad, "401"},
        {"/api/v1/sites", bad, "401"},
        {"/api/v1/sites", bad, "401"},
        {"/api/v1/sites", bad, "401"},
        {"/status.json", "-u ops:wrong", "401"},
        {"/api/v1/sites", good, "200"},
        {"/api/v1/sites", bad, "401"},
        {"/api/v1/sites", good, "429"},
        {"/status.json", "-u 'ops:open sesame'", "429"},
        {"/metrics", "", "429"},
        {"/api/v1/openapi.json", "", "200"},
    };
    // The sixth failure makes the address wait one second: an answer that comes later than that on a
    // busy machine says nothing about the wait, and is not compared.
    std::chrono::steady_clock::time_point waitFrom{};
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        if (i == 6) waitFrom = std::chrono::steady_clock::now();
        const std::string status = Curl(step.Path, step.Options).first;
        if (step.Status == "429" && std::chrono::steady_clock::now() - waitFrom >= std::chrono::seconds(1)) continue;
        EXPECT_EQ(status, step.Status) << step.Path << " " << step.Options;
    }
}

// A scraper or a script reads the status paths with a token (a read token will do) or the [Web]
// login; a wrong token is refused even where no login is asked for.
TEST_F(ApiPeers, StatusPathsTakeATokenInPlaceOfTheLogin) {
    const std::string hash = TrimRight(RunCommand("openssl passwd -6 'open sesame'"));
    Start("[Web]\r\nUser=ops\r\nPassword=" + hash + "\r\n[Api]\r\nListen=127.0.0.1:0");
    const std::string read = "-H 'Authorization: Bearer " + reader + "'";
    struct Step {
        std::string Path, Options, Status;
    };
    const std::vector<Step> steps = {
        {"/metrics", "", "401"},
        {"/status.json", "", "401"},
        {"/metrics", read, "200"},
        {"/status.json", read, "200"},
        {"/metrics", "-H 'Authorization: Bearer " + writer + "'", "200"},
        {"/metrics", "-u 'ops:open sesame'", "200"},
        {"/metrics", "-H 'Authorization: Bearer vkt_00'", "401"},
    };
    for (const Step& step : steps)
        EXPECT_EQ(Curl(step.Path, step.Options).first, step.Status) << step.Path << " " << step.Options;
    const std::string head =
        RunCommand("curl -s -D - -o /dev/null http://127.0.0.1:" + std::to_string(server.Port()) + "/metrics");
    EXPECT_NE(head.find("WWW-Authenticate: Bearer realm=\"vkt\""), std::string::npos) << head;
}

/// What one role may send: a route and method with its status for each caller. "allowed" answers are
/// those of the route itself (404 for a name that is none), so only 403 marks a refusal of the role.
TEST_F(ApiPeers, EachRoleReachesItsRoutesAndNoFurtherAsTokenOrSession) {
    MaintenanceBook book;
    server.Maintenance = &book;
    std::string operatorToken;
    {
        TDbConnection connection;
        connection.ConnectionString = Database();
        connection.Open();
        TDbQuery query{connection};
        operatorToken = TApiTokens(query).Add("ops", TApiRole::Operator);
        TApiUsers(query).Add("olga", "night shift", TApiRole::Operator);
    }
    Start("[Api]\r\nListen=127.0.0.1:0");
    const auto signIn = Curl("/api/v1/session", "-c " + dir.File("jar") + " -D " + dir.File("head") +
                                                    " -d '{\"user\":\"olga\",\"password\":\"night shift\"}'");
    ASSERT_EQ(signIn.first, "200") << signIn.second;
    const std::string csrf = nlohmann::json::parse(signIn.second)["csrf"];
    const std::string session = "-b " + dir.File("jar") + " -H 'X-CSRF-Token: " + csrf + "'";
    const auto bearer = [](const std::string& token) { return "-H 'Authorization: Bearer " + token + "'"; };
    const std::vector<std::string> callers = {bearer(reader), bearer(operatorToken), bearer(writer), session};
    struct Case {
        std::string Method, Path, Body;
        std::vector<std::string> Status; // viewer token, operator token, admin token, operator session
    };
    const std::string site = R"({"code":"R1","address":"127.0.0.1","downtime":1,"daemon":"D1"})";
    const std::vector<Case> cases = {
        {"GET", "/api/v1/sites", "", {"200", "200", "200", "200"}},
        {"GET", "/api/v1/maintenance", "", {"200", "200", "200", "200"}},
        {"POST", "/api/v1/sites/NONE/ack", "{}", {"403", "404", "404", "404"}},
        {"POST", "/api/v1/maintenance", R"({"code":"X"})", {"403", "400", "400", "400"}},
        {"DELETE", "/api/v1/maintenance/7", "", {"403", "404", "404", "404"}},
        {"POST", "/api/v1/sites", site, {"403", "403", "201", "403"}},
        {"PATCH", "/api/v1/sites/R1", R"({"name":"x"})", {"403", "403", "200", "403"}},
        {"DELETE", "/api/v1/sites/NONE", "", {"403", "403", "404", "403"}},
        {"GET", "/api/v1/users", "", {"403", "403", "200", "403"}},
        {"POST", "/api/v1/users", R"({"name":"u1","password":"p","role":"viewer"})", {"403", "403", "201", "403"}},
        {"DELETE", "/api/v1/users/NONE", "", {"403", "403", "404", "403"}},
        {"GET", "/api/v1/tokens", "", {"403", "403", "200", "403"}},
        {"POST", "/api/v1/tokens", R"({"name":"t1","role":"operator"})", {"403", "403", "201", "403"}},
        {"DELETE", "/api/v1/tokens/NONE", "", {"403", "403", "404", "403"}},
        // Last: the admin makes olga an admin, and her open session is one from its next request on.
        {"PATCH", "/api/v1/users/olga", R"({"role":"admin"})", {"403", "403", "200", "200"}},
    };
    for (const Case& c : cases)
        for (std::size_t i = 0; i < callers.size(); ++i) {
            const auto [status, body] =
                Curl(c.Path, "-X " + c.Method + " " + callers[i] + (c.Body.empty() ? "" : " -d '" + c.Body + "'"));
            EXPECT_EQ(status, c.Status[i]) << c.Method << " " << c.Path << " caller " << i << "\n" << body;
            if (status == "403") {
                EXPECT_TRUE(nlohmann::json::parse(body)["role"].is_string()) << body << " names the role needed";
            }
        }
    const std::string logged = log.Text();
    for (const std::string line :
         {"[API] Site R1 created by token writer.", "[API] Site R1 changed by token writer.",
          "[API] User u1 added (viewer) by token writer.", "[API] Token t1 added (operator) by token writer.",
          "[API] Role of user olga changed from operator to admin by token writer."})
        EXPECT_NE(logged.find(line), std::string::npos) << line << "\n" << logged;
}

// The cookie cannot be read by a script nor sent by another site; a change made with it needs the
// CSRF value; signing out ends it; wrong passwords count as bad tokens do.
TEST_F(ApiPeers, SessionsNeedTheirCsrfHeaderForChangesAndEndAtSignOut) {
    {
        TDbConnection connection;
        connection.ConnectionString = Database();
        connection.Open();
        TDbQuery query{connection};
        TApiUsers(query).Add("ana", "correct horse", TApiRole::Admin);
    }
    Start("[Api]\r\nListen=127.0.0.1:0");
    const std::string jar = "-b " + dir.File("jar") + " -c " + dir.File("jar");
    const auto form =
        Curl("/api/v1/session", jar + " -D " + dir.File("head") + " -d 'user=ana&password=correct+horse'");
    ASSERT_EQ(form.first, "200") << form.second;
    const std::string head = ReadFileText(dir.File("head"));
    const std::string cookie =
        head.substr(head.find("Set-Cookie: "), head.find('\n', head.find("Set-Cookie: ")) - head.find("Set-Cookie: "));
    EXPECT_TRUE(std::regex_search(cookie, std::regex("^Set-Cookie: vkt_session=[0-9a-f]{64}; Path=/; HttpOnly; "
                                                     "SameSite=Strict\r$")))
        << cookie << " (no Secure over plain HTTP)";
    const std::string csrf = nlohmann::json::parse(form.second)["csrf"];
    const std::string site = " -d '{\"code\":\"S1\",\"address\":\"127.0.0.1\",\"downtime\":1,\"daemon\":\"D1\"}'";
    struct Step {
        std::string Method, Path, Options, Status;
    };
    const std::vector<Step> steps = {
        {"GET", "/api/v1/session", jar, "200"},
        {"POST", "/api/v1/sites", jar + site, "403"},
        {"POST", "/api/v1/sites", jar + " -H 'X-CSRF-Token: " + std::string(64, '0') + "'" + site, "403"},
        {"POST", "/api/v1/sites", jar + " -H 'X-CSRF-Token: " + csrf + "'" + site, "201"},
        {"DELETE", "/api/v1/session", jar, "403"},
        {"DELETE", "/api/v1/session", jar + " -H 'X-CSRF-Token: " + csrf + "'", "204"},
        {"GET", "/api/v1/sites", jar, "401"},
        {"GET", "/api/v1/sites", "-H 'Cookie: vkt_session=" + std::string(64, 'a') + "'", "401"},
        {"POST", "/api/v1/session", "-d '{\"user\":\"ana\",\"password\":\"x\"}'", "401"},
        {"POST", "/api/v1/session", "-d '{\"user\":\"nobody\",\"password\":\"x\"}'", "401"},
    };
    for (const Step& step : steps) {
        const auto [status, body] = Curl(step.Path, "-X " + step.Method + " " + step.Options);
        EXPECT_EQ(status, step.Status) << step.Method << " " << step.Path << " " << step.Options << "\n" << body;
    }
    EXPECT_EQ(Curl("/api/v1/session", "-d '{\"user\":\"ana\",\"password\":\"correct horse\"}'").first, "200")
        << "an ended session is no failure: two wrong passwords leave three free";
    std::string refused;
    for (int i = 0; i < 10 && refused != "429"; ++i)
        refused = Curl("/api/v1/session", "-d '{\"user\":\"ana\",\"password\":\"x\"}'").first;
    EXPECT_EQ(refused, "429") << "wrong passwords make the address wait";
    EXPECT_NE(log.Text().find("[API] Site S1 created by user ana.\n"), std::string::npos) << log.Text();
}

// The client learns that the database is away, the log learns where it was looked for.
TEST_F(ApiPeers, AnUnreachableDatabaseIsA503ThatNamesNoAddress) {
    Start("[Api]\r\nListen=127.0.0.1:0", "Provider=PostgreSQL;Persist Security Info=True;User ID=vkt;Password=;"
                                         "Initial Catalog=vkt;Data Source=127.0.0.1,1");
    const auto [status, body] = Curl("/api/v1/sites", "-H 'Authorization: Bearer " + writer + "'");
    EXPECT_EQ(status, "503");
    EXPECT_EQ(body, R"({"error":"the database is not reachable"})");
    const std::string logged = log.Text();
    EXPECT_NE(logged.find("[API] The database is not reachable: "), std::string::npos) << logged;
    EXPECT_NE(logged.find("127.0.0.1"), std::string::npos) << logged;
}

// TLS 1.2 and 1.3 with forward-secret AEAD suites only; a peer that never starts its handshake is
// closed at the head's deadline.
TEST_F(ApiPeers, HttpsSpeaksOnlyTls12And13WithForwardSecretAeadSuites) {
    ASSERT_EQ(RunCommand("openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=localhost -days 1 -keyout " +
                         dir.File("key.pem") + " -out " + dir.File("cert.pem") + " 2>/dev/null"),
              "");
    Start("[Api]\r\nListen=127.0.0.1:0\r\nCertificate=" + dir.File("cert.pem") + "\r\nKey=" + dir.File("key.pem"));
    // The handshakes run on threads of the lowest priority: on a busy machine one may take longer than
    // the fixture's second.
    server.HeadTime = std::chrono::milliseconds(4000);
    struct Case {
        std::string Options, Protocol; // empty: refused
    };
    const std::vector<Case> cases = {
        {"-tls1_1 -cipher 'DEFAULT@SECLEVEL=0'", ""},
        {"-tls1 -cipher 'DEFAULT@SECLEVEL=0'", ""},
        {"-tls1_2 -cipher AES128-SHA256", ""},           // static RSA
        {"-tls1_2 -cipher AES256-GCM-SHA384", ""},       // static RSA with an AEAD cipher
        {"-tls1_2 -cipher ECDHE-RSA-AES128-SHA", ""},    // CBC with SHA-1
        {"-tls1_2 -cipher ECDHE-RSA-AES256-SHA384", ""}, // CBC
        {"-tls1_2 -cipher ECDHE-RSA-AES128-GCM-SHA256", "TLSv1.2"},
        {"-tls1_2 -cipher ECDHE-RSA-CHACHA20-POLY1305", "TLSv1.2"},
        {"-tls1_3", "TLSv1.3"},
    };
    for (const Case& c : cases) {
        const std::string out =
            RunCommand("openssl s_client -brief -connect 127.0.0.1:" + std::to_string(server.Port()) + " " + c.Options +
                       " </dev/null 2>&1");
        const std::size_t at = out.find("Protocol version: ");
        const std::string protocol = at == std::string::npos ? "" : out.substr(at + 18, out.find('\n', at) - at - 18);
        EXPECT_EQ(protocol, c.Protocol) << c.Options << "\n" << out;
    }
    RawPeer silent(server.Port(), "127.0.0.1");
    for (int i = 0; i < 80 && !silent.Closed; ++i)
        silent.Poll(std::chrono::milliseconds(100));
    EXPECT_TRUE(silent.Closed) << "a handshake never begun holds the connection";
}

// The answers themselves are checked against it by the integration tests over HTTPS.
TEST(OpenApi, TheValidatorAndTheLinterAcceptTheDescription) {
    const std::string npm = VKT_SOURCE_DIR "/build/npm";
    for (const char* package : {"@apidevtools/swagger-parser", "@redocly/cli"})
        ASSERT_TRUE(std::filesystem::exists(npm + "/node_modules/" + package))
            << package << " is missing: run scripts/setup";
    TempDir dir;
    WriteFileText(dir.File("openapi.json"), OpenApiDocument());
    EXPECT_EQ(RunCommand("node " VKT_SOURCE_DIR "/tests/api/validate_openapi.js " + npm + " " +
                         dir.File("openapi.json") + " 2>&1"),
              "valid\n");
    // The linter asks nothing of the network with these set (no usage report, no update check).
    const std::string lint = RunCommand(
        "REDOCLY_TELEMETRY=off REDOCLY_SUPPRESS_UPDATE_NOTICE=true node " + npm +
        "/node_modules/@redocly/cli/bin/cli.js lint --format=json --config " VKT_SOURCE_DIR "/tests/api/redocly.yaml " +
        dir.File("openapi.json") + " 2>/dev/null");
    const nlohmann::json report = nlohmann::json::parse(lint, nullptr, false);
    EXPECT_EQ(report.is_object() ? report["problems"] : nlohmann::json(lint), nlohmann::json::array());
}
