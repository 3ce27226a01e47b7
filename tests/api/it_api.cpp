// The real daemon's API over HTTPS with a throw-away certificate, tokens made by vkt-datutil and
// curl as the client: a site made, changed and deleted through it is probed, re-probed and dropped by
// the next scans; every error answer; maintenance windows and acknowledgements as the page makes them.
// Every answer a test got is checked against the OpenAPI description the daemon serves.
#include "../integration/scan_daemon.h"
#include "../silenthost.h"
#include "../web/shellcommand.h"
#include "api/apitokens.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

struct Reply {
    int Status = 0;
    std::string Body;
    /// By lower-case name.
    std::map<std::string, std::string> Headers;
};

/// The header lines curl wrote with -D, by lower-case name.
std::map<std::string, std::string> HeaderLines(const std::string& text) {
    std::map<std::string, std::string> headers;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos || line.starts_with("HTTP/")) continue;
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        headers[name] = Trim(line.substr(colon + 1));
    }
    return headers;
}

class ApiOverHttps : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!CanProbe(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(db.Connect()) << db.dm.LastConnectionError();
        db.AddSite("D1", "KEEP", "127.0.0.3");
        Seed();
        if (IsSkipped()) return;
        ASSERT_EQ(RunCommand("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "
                             "/CN=localhost -addext subjectAltName=IP:127.0.0.1 -days 1 -keyout " +
                             daemon.home.File("key.pem") + " -out " + daemon.home.File("cert.pem") + " 2>/dev/null"),
                  "");
        WriteFileText(daemon.home.File("vkt.ini"),
                      ReadFileText(daemon.home.File("vkt.ini")) +
                          "[Api]\r\nListen=127.0.0.1:0\r\nCertificate=" + daemon.home.File("cert.pem") +
                          "\r\nKey=" + daemon.home.File("key.pem") + "\r\n" + Sections());
        writer = Datutil("token add writer --write");
        reader = Datutil("token add reader");
        vkt = std::make_unique<VktProcess>(daemon.home.Path(), daemon.work.Path());
        ASSERT_TRUE(vkt->WaitForOutput("Listening for the API on https://127.0.0.1:", 60s)) << vkt->Output();
        std::smatch m;
        const std::string output = vkt->Output();
        ASSERT_TRUE(std::regex_search(output, m, std::regex("https://127\\.0\\.0\\.1:(\\d+)/api/v1/")));
        base = "https://127.0.0.1:" + m[1].str();
    }

    // The answers of the test, against the description the daemon serves.
    void TearDown() override {
        if (answers.empty()) return;
        const std::string npm = VKT_SOURCE_DIR "/build/npm";
        ASSERT_TRUE(std::filesystem::exists(npm + "/node_modules/ajv")) << "ajv is missing: run scripts/setup";
        const Reply description = Call("GET", "/api/v1/openapi.json", "");
        ASSERT_EQ(description.Status, 200);
        WriteFileText(daemon.work.File("openapi.json"), description.Body);
        WriteFileText(daemon.work.File("answers.json"), answers.dump(-1, ' ', false, json::error_handler_t::replace));
        EXPECT_EQ(RunCommand("node " VKT_SOURCE_DIR "/tests/api/validate_answers.js " + npm + " " +
                             daemon.work.File("openapi.json") + " " + daemon.work.File("answers.json") + " 2>&1"),
                  "valid\n");
    }

    std::string Datutil(const std::string& args) {
        return TrimRight(RunCommand("VKT_HOME=" + daemon.home.Path() + " " VKT_DATUTIL_BINARY " " + args));
    }

    Reply Call(const std::string& method, const std::string& path, const std::string& authorization,
               const std::string& body = "") {
        WriteFileText(daemon.work.File("body"), body);
        std::filesystem::remove(daemon.work.File("headers"));
        std::string command = "curl -s --cacert " + daemon.home.File("cert.pem") + " -o " + daemon.work.File("answer") +
                              " -D " + daemon.work.File("headers") + " -w '%{http_code}' -X " + method + " '" + base +
                              path + "'";
        if (!authorization.empty()) command += " -H 'Authorization: " + authorization + "'";
        if (!body.empty()) command += " -H 'Content-Type: application/json' --data-binary @" + daemon.work.File("body");
        Reply reply;
        reply.Status = std::atoi(RunCommand(command).c_str());
        reply.Body = ReadFileText(daemon.work.File("answer"));
        reply.Headers = HeaderLines(ReadFileText(daemon.work.File("headers")));
        if (reply.Status != 0)
            answers.push_back({{"method", method},
                               {"path", path},
                               {"status", reply.Status},
                               {"headers", reply.Headers},
                               {"body", reply.Body},
                               {"request", body.size() <= 65536 ? body : ""}});
        return reply;
    }

    /// More sites, and more sections of vkt.ini, for a fixture that needs them.
    virtual void Seed() {}
    virtual std::string Sections() const { return ""; }

    int Polls(const std::string& what) const { return Occurrences(vkt->Output(), "Polling " + what); }

    TempDir dbDir;
    SharedDb db{"SQLite", dbDir.File("vkt"), ""};
    DaemonHome daemon{db, "D1"};
    std::unique_ptr<VktProcess> vkt;
    std::string base, writer, reader;
    /// Every answer Call got, as the description's checker reads them.
    json answers = json::array();
};

} // namespace

TEST_F(ApiOverHttps, SiteMadeChangedAndDeletedIsProbedReprobedAndDroppedByTheNextScans) {
    const std::string w = "Bearer " + writer, r = "Bearer " + reader;
    Reply made = Call("POST", "/api/v1/sites", w,
                      R"({"code":"LOOP2","name":"Loop","address":"127.0.0.1","downtime":5,"tags":["Edge"]})");
    ASSERT_EQ(made.Status, 201) << made.Body;
    EXPECT_EQ(json::parse(made.Body)["daemon"], "D1") << "a site without daemon is this daemon's";
    ASSERT_TRUE(vkt->WaitForOutput("LOOP2 Responding", 60s)) << vkt->Output();

    const json list = json::parse(Call("GET", "/api/v1/sites", r).Body);
    ASSERT_EQ(list["sites"].size(), 2u) << list;
    const json& loop = list["sites"][1];
    EXPECT_EQ(loop["code"], "LOOP2");
    EXPECT_EQ(loop["state"], "up");
    EXPECT_TRUE(loop["rtt_ms"].is_number()) << loop;

    Reply changed = Call("PATCH", "/api/v1/sites/LOOP2", w, R"({"address":"127.0.0.2"})");
    ASSERT_EQ(changed.Status, 200) << changed.Body;
    EXPECT_EQ(json::parse(changed.Body)["name"], "Loop") << "PATCH keeps the fields it does not name";
    ASSERT_TRUE(vkt->WaitForOutput("Polling LOOP2 [127.0.0.2]", 60s)) << vkt->Output();
    // The scan read the tags before it probed the site: the board filters by them.
    const json tagged = json::parse(Call("GET", "/status.json?tag=edge&limit=5", "").Body);
    ASSERT_FALSE(tagged["sites"].empty()) << tagged;
    for (const json& site : tagged["sites"])
        EXPECT_EQ(site["code"].get<std::string>() + site["tags"].dump(), R"(LOOP2["edge"])");
    EXPECT_EQ(Call("GET", "/status.json?state=asleep", "").Status, 400);

    const int keepPolls = Polls("KEEP");
    ASSERT_EQ(Call("DELETE", "/api/v1/sites/LOOP2", w).Status, 204);
    // The scan running at the deletion may still probe it; the one after it no more.
    ASSERT_TRUE(WaitForCount(*vkt, "Polling KEEP", keepPolls + 2, 60s));
    const int loopPolls = Polls("LOOP2");
    ASSERT_TRUE(WaitForCount(*vkt, "Polling KEEP", keepPolls + 4, 60s));
    EXPECT_EQ(Polls("LOOP2"), loopPolls) << vkt->Output();
    EXPECT_EQ(Call("GET", "/api/v1/sites/LOOP2", r).Status, 404);
    EXPECT_EQ(LogEvents(vkt->Output(), {"API"}),
              (std::vector<std::string>{
                  "[API] Listening for the API on " + base + "/api/v1/", "[API] Site LOOP2 created by token writer.",
                  "[API] Site LOOP2 changed by token writer.", "[API] Site LOOP2 deleted by token writer."}));
}

TEST_F(ApiOverHttps, EveryErrorHasItsStatusAndNamesTheFieldAtFault) {
    const std::string w = "Bearer " + writer, r = "Bearer " + reader;
    ASSERT_EQ(Call("POST", "/api/v1/sites", w, R"({"code":"DUP","address":"127.0.0.1","downtime":1})").Status, 201);
    struct Case {
        std::string Method, Path, Authorization, Body;
        int Status;
        std::string Field;
    };
    const std::string n1 = R"("code":"N1","address":"127.0.0.1")";
    const std::vector<Case> cases = {
        {"GET", "/api/v1/sites", "", "", 401, ""},
        {"GET", "/api/v1/sites", "Bearer vkt_00", "", 401, ""},
        {"GET", "/api/v1/sites", "Basic " + writer, "", 401, ""},
        {"GET", "/api/v1/sites", "Bearer " + Sha256Hex(writer), "", 401, ""},
        {"POST", "/api/v1/sites", r, "{" + n1 + R"(,"downtime":1})", 403, ""},
        {"DELETE", "/api/v1/sites/DUP", r, "", 403, ""},
        {"POST", "/api/v1/sites", w, "not json", 400, ""},
        {"POST", "/api/v1/sites", w, "[]", 400, ""},
        {"POST", "/api/v1/sites", w, "{" + n1 + R"(,"downtime":"x"})", 400, "downtime"},
        {"POST", "/api/v1/sites", w, "{" + n1 + R"(,"downtime":1.5})", 400, "downtime"},
        {"POST", "/api/v1/sites", w, "{" + n1 + R"(,"downtime":1,"colour":"red"})", 400, "colour"},
        {"POST", "/api/v1/sites", w, R"({"code":"N1","address":"bad_host","downtime":1})", 400, "address"},
        {"POST", "/api/v1/sites", w, "{" + n1 + R"(,"downtime":1,"daemon":")" + std::string(21, 'd') + "\"}", 400,
         "daemon"},
        {"POST", "/api/v1/sites", w, R"({"code":"DUP","address":"127.0.0.1","downtime":1})", 409, "code"},
        {"POST", "/api/v1/sites", w, "{\"name\":\"" + std::string(1024 * 1024, 'x') + "\"}", 413, ""},
        // Codes a path cannot name, a NUL that would cut a value or a code short, and mail without an
        // address however the flag is written.
        {"POST", "/api/v1/sites", w, R"({"code":"Z/1","address":"127.0.0.1","downtime":1})", 400, "code"},
        {"POST", "/api/v1/sites", w, R"({"code":"N1\u0000x","address":"127.0.0.1","downtime":1})", 400, "code"},
        {"POST", "/api/v1/sites", w, "{" + n1 + R"(,"downtime":1})" + std::string(1, '\0') + "junk", 400, ""},
        {"POST", "/api/v1/sites", w, "{" + n1 + R"(,"downtime":1,"contactflag":"02"})", 400, "email"},
        {"POST", "/api/v1/maintenance", w, R"({"code":"DUP","minutes":5})" + std::string(1, '\0') + "x", 400, ""},
        {"DELETE", "/api/v1/sites/DUP%00junk", w, "", 400, ""},
        {"GET", "/api/v1/sites?daemon=D1%00x", r, "", 400, ""},
        {"GET", "/status.json?q=%00", "", "", 400, ""},
        {"PUT", "/api/v1/sites/DUP", w, R"({"code":"OTHER","address":"127.0.0.1","downtime":1})", 400, "code"},
        {"PUT", "/api/v1/sites/DUP", w, R"({"downtime":1})", 400, "address"},
        {"GET", "/api/v1/sites/NOPE", r, "", 404, ""},
        {"GET", "/api/v1/sites/%FF%FE", r, "", 404, ""},
        {"PUT", "/api/v1/sites/NOPE", w, R"({"address":"127.0.0.1","downtime":1})", 404, ""},
        {"PATCH", "/api/v1/sites/NOPE", w, R"({"downtime":1})", 404, ""},
        {"DELETE", "/api/v1/sites/NOPE", w, "", 404, ""},
        {"DELETE", "/api/v1/sites", w, "", 405, ""},
        {"POST", "/status.json", "", "", 405, ""},
        {"PUT", "/api/v1/openapi.json", "", "", 405, ""},
        {"GET", "/api/v1/other", r, "", 404, ""},
        {"GET", "/elsewhere", "", "", 404, ""},
        // The answers that are not errors, for the description's checker.
        {"PUT", "/api/v1/sites/DUP", w, R"({"address":"127.0.0.1","downtime":2,"contactflag":null})", 200, ""},
        {"GET", "/status", "", "", 200, ""},
        {"GET", "/status.json?history=1", "", "", 200, ""},
        {"GET", "/metrics", "", "", 200, ""},
    };
    for (const Case& c : cases) {
        const Reply reply = Call(c.Method, c.Path, c.Authorization, c.Body);
        const std::string label = c.Method + " " + c.Path + " " + c.Body.substr(0, 80);
        EXPECT_EQ(reply.Status, c.Status) << label << "\n" << reply.Body;
        if (c.Status < 400) continue;
        const json body = json::parse(reply.Body, nullptr, false);
        ASSERT_TRUE(body.is_object() && body["error"].is_string()) << label << "\n" << reply.Body;
        EXPECT_EQ(body.value("field", ""), c.Field) << label << "\n" << reply.Body;
    }
    EXPECT_EQ(Call("GET", "/api/v1/sites/DUP", r).Status, 200) << "nothing was changed by the refusals";
    EXPECT_EQ(Call("GET", "/api/v1/sites/N1", r).Status, 404) << "nothing after a NUL was read";
    EXPECT_EQ(Call("GET", "/status.json", "").Status, 200) << "without a [Web] login the board is open";

    // The new site's path names it whatever its code holds.
    const Reply spaced = Call("POST", "/api/v1/sites", w, R"({"code":"A B%","address":"127.0.0.1","downtime":1})");
    EXPECT_EQ(spaced.Headers.at("location"), "/api/v1/sites/A%20B%25");
    EXPECT_EQ(json::parse(Call("GET", spaced.Headers.at("location"), r).Body)["code"], "A B%");

    EXPECT_EQ(Datutil("token revoke reader 2>&1").substr(15), "Token reader revoked.");
    EXPECT_EQ(Call("GET", "/api/v1/sites", r).Status, 401);
    const std::vector<std::string> events = LogEvents(vkt->Output(), {"API"});
    EXPECT_EQ(
        std::vector<std::string>(events.begin() + 1, events.end()),
        (std::vector<std::string>{"[API] Site DUP created by token writer.", "[API] Site DUP changed by token writer.",
                                  "[API] Site A B% created by token writer."}));
    // An address that keeps failing must wait.
    Reply waited;
    for (int i = 0; i < 10 && waited.Status != 429; ++i)
        waited = Call("GET", "/api/v1/sites", "Bearer vkt_00");
    EXPECT_EQ(waited.Status, 429);
}

namespace {

/// With reminders (so outages are acknowledged), history (so uptime is shown) and a site that never answers.
class ApiWithFollowups : public ApiOverHttps {
protected:
    void Seed() override {
        std::string why;
        if (!silent.Create(why)) GTEST_SKIP() << why;
        db.AddSite("D1", "SILENT", silent.Inside());
    }
    std::string Sections() const override { return "[Alert]\r\nRemind=60\r\n[History]\r\n"; }

    SilentHostNamespace silent{"apiack", "100.64.29"};
};

} // namespace

TEST_F(ApiWithFollowups, WindowsAndAcknowledgementsFollowThePageRulesAndShowOnTheSites) {
    const std::string w = "Bearer " + writer, r = "Bearer " + reader;
    ASSERT_TRUE(vkt->WaitForOutput("Unable to contact SILENT", 60s)) << vkt->Output();
    struct Case {
        std::string Method, Path, Authorization, Body;
        int Status;
        std::string Field;
    };
    const std::string m = "/api/v1/maintenance";
    const std::vector<Case> cases = {
        {"POST", m, r, R"({"code":"KEEP","minutes":30})", 403, ""},
        {"POST", m, w, R"({"code":"KEEP","minutes":0})", 400, "minutes"},
        {"POST", m, w, R"({"code":"KEEP","minutes":1.5})", 400, "minutes"},
        {"POST", m, w, R"({"minutes":30})", 400, "code"},
        {"POST", m, w, R"({"code":"KEEP","weekdays":["mon","xyz"],"time":"03:00","minutes":60})", 400, "weekdays"},
        {"POST", m, w, R"({"code":"KEEP","start":"2020-01-01 00:00","end":"2020-01-01 01:00"})", 400, "end"},
        {"POST", m, w, R"({"code":"KEEP","minutes":30,"end_early":"1"})", 400, "end_early"},
        {"POST", m, w, R"({"code":"KEEP","minutes":30,"reason":"router"})", 201, ""},
        {"POST", m, w, R"({"code":"*","weekdays":["sun"],"time":"03:00","minutes":60})", 201, ""},
        {"PUT", m, w, "{}", 405, ""},
        {"DELETE", m + "/123", w, "", 404, ""},
        {"DELETE", m + "/x", w, "", 404, ""},
        {"POST", "/api/v1/sites/NOPE/ack", w, "{}", 404, ""},
        {"POST", "/api/v1/sites/KEEP/ack", w, R"({"comment":"up"})", 409, ""},
        {"POST", "/api/v1/sites/SILENT/ack", w, R"({"comment":5})", 400, "comment"},
        {"POST", "/api/v1/sites/SILENT/ack", w, R"({"colour":"red"})", 400, "colour"},
        {"POST", "/api/v1/sites/SILENT/ack", r, R"({"comment":"on it"})", 403, ""},
        {"GET", "/api/v1/sites/SILENT/ack", r, "", 405, ""},
        {"POST", "/api/v1/sites/silent/ack", w, R"({"comment":"on it"})", 200, ""},
    };
    for (const Case& c : cases) {
        const Reply reply = Call(c.Method, c.Path, c.Authorization, c.Body);
        const std::string label = c.Method + " " + c.Path + " " + c.Body;
        EXPECT_EQ(reply.Status, c.Status) << label << "\n" << reply.Body;
        if (c.Status < 400) continue;
        const json body = json::parse(reply.Body, nullptr, false);
        ASSERT_TRUE(body.is_object() && body["error"].is_string()) << label << "\n" << reply.Body;
        EXPECT_EQ(body.value("field", ""), c.Field) << label << "\n" << reply.Body;
    }

    // What was answered is in the tables already.
    EXPECT_EQ(db.Count("SELECT COUNT(*) AS n FROM maintenance"), 2);
    EXPECT_EQ(db.Count("SELECT COUNT(*) AS n FROM vktack WHERE who = 'writer'"), 1);

    const json windows = json::parse(Call("GET", m, r).Body)["windows"];
    ASSERT_EQ(windows.size(), 2u) << windows;
    EXPECT_EQ(windows[0]["made_by"], "writer");
    EXPECT_EQ(windows[0]["running"], true);
    EXPECT_EQ(windows[0]["minutes"], 30);
    EXPECT_EQ(windows[1]["weekdays"], json::array({"sun"}));
    EXPECT_EQ(windows[1]["time"], "03:00");
    EXPECT_EQ(json::parse(Call("GET", "/api/v1/sites/KEEP", r).Body)["maintenance"], true);
    const std::string ended = m + "/" + windows[0]["id"].get<std::string>();
    EXPECT_EQ(Call("DELETE", ended, w).Status, 204);
    EXPECT_EQ(Call("DELETE", ended, w).Status, 404) << "ended already";
    EXPECT_EQ(json::parse(Call("GET", "/api/v1/sites/KEEP", r).Body)["maintenance"], false);

    // The board shows the acknowledgement once the daemon has taken it and published the board.
    json silentSite;
    for (int i = 0; i < 100 && !silentSite.contains("acknowledged"); ++i, std::this_thread::sleep_for(100ms))
        silentSite = json::parse(Call("GET", "/api/v1/sites/SILENT", r).Body);
    ASSERT_TRUE(silentSite.contains("acknowledged")) << silentSite;
    EXPECT_EQ(silentSite["state"], "down");
    EXPECT_EQ(silentSite["acknowledged"]["by"], "writer") << silentSite;
    EXPECT_EQ(silentSite["acknowledged"]["comment"], "on it");
    ASSERT_TRUE(vkt->WaitForOutput("Outage of SILENT acknowledged by writer: on it", 60s)) << vkt->Output();
    ASSERT_TRUE(vkt->WaitForOutput("Maintenance window for KEEP made by writer: from ", 60s)) << vkt->Output();
    ASSERT_TRUE(vkt->WaitForOutput("Maintenance window for KEEP ended early by writer.", 60s)) << vkt->Output();

    // The uptime is the one /status.json shows, once the history has figures for the site.
    json keep;
    for (int i = 0; i < 300 && !keep.contains("uptime"); ++i, std::this_thread::sleep_for(100ms))
        keep = json::parse(Call("GET", "/api/v1/sites/KEEP", r).Body);
    ASSERT_TRUE(keep.contains("uptime")) << keep;
    const json board = json::parse(Call("GET", "/status.json", "").Body);
    for (const json& shown : board["sites"])
        if (shown["code"] == "KEEP") {
            EXPECT_EQ(shown["uptime"], keep["uptime"]);
        }
}

namespace {

/// Two sites that never answer, with reminders (so their outages can be acknowledged) and history.
class ApiPages : public ApiOverHttps {
protected:
    void Seed() override {
        std::string why;
        if (!silent.Create(why)) GTEST_SKIP() << why;
        db.AddSite("D1", "SILENT1", silent.Inside());
        db.AddSite("D1", "SILENT2", silent.Inside());
    }
    // A [Web] login on the board: the pages' session stands for it on the status paths they read.
    std::string Sections() const override {
        return "[Alert]\r\nRemind=60\r\n[History]\r\n[Web]\r\nUser=ops\r\nPassword="
               "$6$vktguard$CNf8Dw/sD1FljECmDluHkHyN3kYvzNFrXY3Gu.q/CMiBW/mF8yh0NSqqO6x3G/nFPEJYdDggm/dNnNiEKq.4h0\r\n";
    }

    SilentHostNamespace silent{"apiui", "100.64.31"};
};

} // namespace

// The pages in a real browser, as an operator uses them; axe-core judges each at both widths.
TEST_F(ApiPages, ChromiumSignsInAddsPastesAcknowledgesAndEndsAWindow) {
    if (!Have("chromium")) GTEST_SKIP() << "chromium is not installed";
    const std::string npm = VKT_SOURCE_DIR "/build/npm";
    ASSERT_TRUE(std::filesystem::exists(npm + "/node_modules/puppeteer-core")) << "run scripts/setup";
    EXPECT_EQ(RunCommand("echo 'pass word' | VKT_HOME=" + daemon.home.Path() +
                         " " VKT_DATUTIL_BINARY " user add ana --role admin 2>&1")
                  .substr(15),
              "User ana added (admin).\n");
    ASSERT_TRUE(vkt->WaitForOutput("Unable to contact SILENT2", 60s)) << vkt->Output();
    const std::string shots = std::string(VKT_BINARY_DIR) + "/Testing/ui";
    std::filesystem::create_directories(shots);
    const std::string out = RunCommand("node " VKT_SOURCE_DIR "/tests/api/ui_browser.js " + npm + " " + base +
                                       " ana 'pass word' " + shots + " SILENT1 SILENT2 2>&1");
    std::cout << out;
    EXPECT_EQ(out.find("FAIL"), std::string::npos) << out;
    EXPECT_NE(out.find("\naxe: "), std::string::npos) << out;
    ASSERT_TRUE(vkt->WaitForOutput("Polling UI1 [127.0.0.1]", 60s)) << vkt->Output();
    // The scans follow the pages: the edited address is probed, the deleted site no more once the
    // scan that ran at its deletion is over.
    ASSERT_TRUE(vkt->WaitForOutput("Polling UI1 [127.0.0.2]", 60s)) << vkt->Output();
    const int keepPolls = Polls("KEEP");
    ASSERT_TRUE(WaitForCount(*vkt, "Polling KEEP", keepPolls + 2, 60s));
    const int deletedPolls = Polls("P3 ");
    ASSERT_TRUE(WaitForCount(*vkt, "Polling KEEP", keepPolls + 4, 60s));
    EXPECT_EQ(Polls("P3 "), deletedPolls) << vkt->Output();
    const std::vector<std::string> events = LogEvents(vkt->Output(), {"API", "MAIL", "MAINTAIN"});
    for (const std::string line :
         {"[API] User ana signed in from 127.0.0.1.", "[API] Site UI1 created by user ana.",
          "[API] Site P3 created by user ana.", "[MAIL] Outage of SILENT1 acknowledged by ana: both on it",
          "[MAIL] Outage of SILENT2 acknowledged by ana: both on it",
          "[MAINTAIN] Maintenance window for P1 ended early by ana.", "[API] Site UI1 changed by user ana.",
          "[API] Site P2 changed by user ana.", "[API] Site P3 deleted by user ana.",
          "[API] User vera added (viewer) by user ana.",
          "[API] Role of user vera changed from viewer to operator by user ana."})
        EXPECT_NE(std::find(events.begin(), events.end(), line), events.end()) << line;
    EXPECT_EQ(db.Count("SELECT COUNT(*) AS n FROM maintenance WHERE code IN ('P1', 'P2') AND reason = 'rack move'"), 2);
}
