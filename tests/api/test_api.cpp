// The API's rules in process: tokens stored as hashes on both backends, the wait of an address that
// keeps failing, what the listener refuses to start or to accept, and the OpenAPI description
// against the validator.
#include "api/apidatabase.h"
#include "api/apiserver.h"
#include "api/apisettings.h"
#include "api/apitokens.h"
#include "api/attemptlimiter.h"
#include "api/maintenanceresource.h"
#include "api/openapi.h"
#include "db/ackrows.h"
#include "db/alarmrows.h"
#include "db/common.h"
#include "history/maintenancetable.h"
#include "../db/dbfixture.h"
#include "../web/shellcommand.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using TokensOn = DataModuleOn;
using StoredFirstOn = DataModuleOn;

/// 199 (or `bytes` - 1) bytes and a two-byte character: a column of that many bytes takes the first ones.
std::string OverTheColumn(std::size_t bytes, char c) {
    return std::string(bytes - 1, c) + "\xC3\xA9";
}

} // namespace

TEST(AttemptLimiter, AddressWaitsAfterTheFreeFailuresTwiceAsLongEachTimeUntilASuccess) {
    TAttemptLimiter limiter;
    const Clock::MonoTime t0{};
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
    for (int i = 0; i < 7; ++i)
        limiter.Failed("10.0.0.1", t0);
    EXPECT_EQ(limiter.WaitSeconds("10.0.0.1", t0 + std::chrono::seconds(2)), 0) << "the wait is over";
    limiter.Failed("10.0.0.1", t0 + std::chrono::seconds(2));
    EXPECT_EQ(limiter.WaitSeconds("10.0.0.1", t0 + std::chrono::seconds(2)), 4) << "the count goes on";
    limiter.Succeeded("10.0.0.1");
    limiter.Failed("10.0.0.1", t0 + std::chrono::seconds(2));
    EXPECT_EQ(limiter.WaitSeconds("10.0.0.1", t0 + std::chrono::seconds(2)), 0) << "a success starts afresh";
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
    const std::string reader = tokens.Add("reader", false);
    const std::string writer = tokens.Add("ci.deploy-1", true);
    EXPECT_NE(reader, writer);
    EXPECT_THROW(tokens.Add("reader", true), ETokenRefused);
    for (const std::string& name : {std::string(), std::string("two words"), std::string(31, 'n'), std::string("x'y")})
        EXPECT_THROW(tokens.Add(name, false), ETokenRefused) << name;

    OpenStatement(dm.adoQ2, {"SELECT name, hash FROM apitoken ORDER BY name"});
    for (; !dm.adoQ2.Eof(); dm.adoQ2.Next()) {
        const std::string hash = VarToStrTrim(dm.adoQ2.FieldByName("hash"));
        EXPECT_TRUE(hash == Sha256Hex(reader) || hash == Sha256Hex(writer)) << hash;
    }
    ASSERT_EQ(tokens.List().size(), 2u);
    EXPECT_EQ(tokens.List()[0].Name, "ci.deploy-1");
    EXPECT_TRUE(tokens.List()[0].Write);
    EXPECT_FALSE(tokens.List()[1].Write);

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
    std::string log;
    TMaintenanceResource resource;
    resource.Book = &book;
    resource.Storing = [&database](const auto& work) {
        database.With([&](TDbQuery& q) { work(TableStore(q, "D1")); });
    };
    resource.Log = [&log](const std::string& c, const std::string& m) { log += "[" + c + "] " + m + "\n"; };
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
    EXPECT_NE(log.find("[MAINTAIN] Maintenance window for A1 made by " + OverTheColumn(64, 'm') + ": from "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("[MAINTAIN] Maintenance window for A1 ended early by ops.\n"), std::string::npos) << log;
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

INSTANTIATE_TEST_SUITE_P(Backends, StoredFirstOn, ::testing::Values(Backend::SQLite, Backend::PostgreSQL), BackendName);

// Plain HTTP only on loopback, [Web] Allow at accept, and the lines that say why.
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
        std::string log;
        TApiServer server;
        server.ConfigFile = dir.File("vkt.ini");
        server.Log = [&log](const std::string& category, const std::string& message) {
            log += "[" + category + "] " + message + "\n";
        };
        server.Start("Provider=SQLite;Data Source=;Initial Catalog=" + dir.File("vkt.db"), TDbDialect::SQLite, 5);
        EXPECT_EQ(server.Port() != 0, c.Listens) << c.Ini << "\n" << log;
        if (c.Listens) {
            const std::string answer =
                RunCommand("curl -s -o /dev/null -w '%{http_code}' http://127.0.0.1:" + std::to_string(server.Port()) +
                           "/api/v1/openapi.json");
            EXPECT_EQ(answer.substr(0, 3), c.Answer) << c.Ini;
        }
        EXPECT_NE(log.find(c.Line), std::string::npos) << c.Ini << "\n" << log;
    }
}

TEST(OpenApi, TheValidatorAcceptsTheDescription) {
    const std::string npm = VKT_SOURCE_DIR "/build/npm";
    ASSERT_TRUE(std::filesystem::exists(npm + "/node_modules/@apidevtools/swagger-parser"))
        << "the validator is missing: run scripts/setup";
    TempDir dir;
    WriteFileText(dir.File("openapi.json"), OpenApiDocument());
    EXPECT_EQ(RunCommand("node " VKT_SOURCE_DIR "/tests/api/validate_openapi.js " + npm + " " +
                         dir.File("openapi.json") + " 2>&1"),
              "valid\n");
}
