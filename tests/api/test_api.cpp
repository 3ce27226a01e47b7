// The API's rules in process: tokens stored as hashes on both backends, the wait of an address that
// keeps failing, what the listener refuses to start or to accept, and the OpenAPI description
// against the validator.
#include "api/apiserver.h"
#include "api/apisettings.h"
#include "api/apitokens.h"
#include "api/attemptlimiter.h"
#include "api/openapi.h"
#include "db/common.h"
#include "../db/dbfixture.h"
#include "../web/shellcommand.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using TokensOn = DataModuleOn;

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
