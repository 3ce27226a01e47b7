// The concurrent scan against the one-at-a-time scan: the real daemon scans the same 200 sites both
// ways, on the embedded database and on PostgreSQL, and writes the same lines and rows each time; an
// alarm row or a round-trip time the database refuses for one site costs that site its line of
// failure and nothing else. Needs root for the namespace host.
#include "../db/pgserver.h"
#include "db/common.h"
#include "platform/datetime.h"
#include "scan_daemon.h"
#include "silenthost.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>
#include <set>

using namespace std::chrono_literals;

namespace {

const char* const RejectingHost = "198.51.100.7";

struct ScanOutput {
    std::vector<std::string> Events;
    std::vector<std::string> Rows;
};

/// A database refusing the alarm rows of REFUSED and every LastRTT of NORTT, in its own dialect, with
/// the trigger's name in its error.
struct Dialect {
    const char* Provider;
    std::vector<std::string> Refusals;
};

const std::vector<Dialect>& Dialects() {
    static const std::vector<Dialect> dialects{
        {"SQLite",
         {"CREATE TRIGGER refuse_alarm BEFORE INSERT ON alarms WHEN NEW.Code = 'REFUSED' "
          "BEGIN SELECT RAISE(ABORT, 'refuse_alarm refused'); END",
          "CREATE TRIGGER refuse_rtt BEFORE UPDATE ON site WHEN NEW.LastRTT IS NOT NULL AND NEW.CODE = 'NORTT' "
          "BEGIN SELECT RAISE(ABORT, 'refuse_rtt refused'); END"}},
        {"PostgreSQL",
         {"CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql "
          "AS 'BEGIN RAISE EXCEPTION ''% refused'', TG_NAME; END'",
          "CREATE TRIGGER refuse_alarm BEFORE INSERT ON alarms FOR EACH ROW WHEN (NEW.Code = 'REFUSED') "
          "EXECUTE FUNCTION refuse()",
          "CREATE TRIGGER refuse_rtt BEFORE UPDATE ON site FOR EACH ROW "
          "WHEN (NEW.LastRTT IS NOT NULL AND NEW.CODE = 'NORTT') EXECUTE FUNCTION refuse()"}},
    };
    return dialects;
}

class TogetherScan : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!CanProbe(why)) GTEST_SKIP() << why;
        if (!lab.Create(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(lab.AddRejectingAddress(RejectingHost)) << "nft (package nftables) is needed";
    }

    std::unique_ptr<SharedDb> Open(const Dialect& dialect) {
        std::unique_ptr<SharedDb> db;
        if (std::string(dialect.Provider) == "SQLite") {
            db = std::make_unique<SharedDb>("SQLite", dbDir.File("vkt"), "");
        } else {
            TestPgServer& server = TestPgServer::Shared();
            db = std::make_unique<SharedDb>("PostgreSQL", server.CreateDatabase(),
                                            "127.0.0.1," + std::to_string(server.Port()));
        }
        EXPECT_TRUE(db->Connect()) << db->dm.LastConnectionError();
        return db;
    }

    /// The rows a scan starts from, some written in another case than the sites' codes: an outage
    /// already notified, two open for an hour, and two of sites that answer.
    static void Prepare(SharedDb& db) {
        db.Exec("DELETE FROM alarms");
        db.Exec("UPDATE site SET LastRTT = NULL");
        const std::string hourAgo = SQLLiteral(FormatSQLDate(false, Now() - 1.0 / 24));
        for (const char* code : {"REJECT2", "reject2MAILED", "oldout", "NEWOUT", "l7", "L8MAILED"})
            db.Exec("INSERT INTO alarms (Code, FailTime) VALUES (" + SQLLiteral(code) + ", " + hourAgo + ")");
    }

    /// One scan by a daemon with `scanSection`, stopped after the last site's line; the log events
    /// (round-trip times as N) and the alarm and site rows it left. Each LastRTT stored must be the time
    /// the site's line gave.
    ScanOutput ScanOnce(SharedDb& db, const std::string& scanSection) {
        Prepare(db);
        DaemonHome daemon(db, "D1");
        WriteFileText(daemon.home.File("vkt.ini"),
                      "[System]\r\nVKTID=\r\n" + db.IniLines() + "PollDelay=60\r\nNetPort=0\r\n" + scanSection);
        VktProcess vkt(daemon.home.Path(), daemon.work.Path());
        EXPECT_TRUE(vkt.WaitForOutput("LAST Responding", 60s)) << vkt.Output();
        vkt.Signal(SIGTERM);
        EXPECT_EQ(vkt.WaitExit(60s), 0);
        ScanOutput out;
        std::map<std::string, std::string> logged; // code -> round-trip time of its "Responding" line
        const std::regex responding(R"(\[POLL\] (\S+) Responding \((\d+) ms\))");
        // The failures the refusing triggers cause, without the database's own words around them; not
        // a collision of two alarm rows of one code within a second, which depends on the clock.
        const std::regex refused(R"((\[\[FAILURE\]\] [^:]+:).*(refuse_\w+ refused).*)");
        for (const std::string& e : LogEvents(vkt.Output(), {"POLL", "AWOL", "MAIL", "ERROR", "[FAILURE]"})) {
            std::smatch m;
            if (std::regex_match(e, m, responding)) logged[m[1]] = m[2];
            if (e.rfind("[[FAILURE]]", 0) == 0) {
                if (std::regex_match(e, m, refused)) out.Events.push_back(m.str(1) + " " + m.str(2));
                continue;
            }
            out.Events.push_back(std::regex_replace(e, std::regex("\\(\\d+ ms\\)"), "(N ms)"));
        }
        // Which codes have an open outage; not how many rows: two failures of one code within the same
        // FailTime collapse into one row under the table's unique (Code, FailTime) index, however fast
        // the machine happens to be.
        std::set<std::string> outages; // as the database matches codes: without regard to case
        OpenStatement(db.q, {"SELECT Code FROM alarms"});
        for (; !db.q.Eof(); db.q.Next())
            outages.insert(UpperCase(Trim(db.q.FieldByName("Code").AsString())));
        for (const std::string& code : outages)
            out.Rows.push_back("alarm " + code);
        OpenStatement(db.q, {"SELECT CODE, IPaddr, LastRTT FROM site WHERE LastRTT IS NOT NULL ORDER BY CODE, IPaddr"});
        for (; !db.q.Eof(); db.q.Next()) {
            const std::string code = Trim(db.q.FieldByName("CODE").AsString());
            EXPECT_EQ(db.q.FieldByName("LastRTT").AsString(), logged[code]) << code;
            out.Rows.push_back("rtt " + code + " " + Trim(db.q.FieldByName("IPaddr").AsString()));
        }
        return out;
    }

    SilentHostNamespace lab{"together"};
    TempDir dbDir;
};

/// The line after `line`, or empty.
std::string LineAfter(const std::vector<std::string>& events, const std::string& line) {
    const auto at = std::find(events.begin(), events.end(), line);
    return at == events.end() || at + 1 == events.end() ? "" : *(at + 1);
}

} // namespace

TEST_F(TogetherScan, TwoHundredSitesGiveTheSameLinesAndRowsAsTheOneAtATimeScanOnEachDatabase) {
    std::vector<ScanOutput> together;
    for (const Dialect& dialect : Dialects()) {
        SCOPED_TRACE(dialect.Provider);
        std::unique_ptr<SharedDb> db = Open(dialect);
        for (int i = 0; i < 192; ++i)
            db->AddSite("D1", "L" + std::to_string(i), "127." + std::to_string(i % 3) + ".1." + std::to_string(1 + i));
        db->AddSite("D1", "REJECT1", RejectingHost);
        db->AddSite("D1", "REJECT2", RejectingHost); // notified already: no notice
        db->AddSite("D1", "GHOST", "no..such");
        db->AddSite("D1", "OLDOUT", "no..such"); // down an hour, allowed 30 minutes: notified
        db->AddSite("D1", "NEWOUT", "no..such"); // down an hour, allowed a day: not yet
        // Its time-out comes last. The first results are taken as soon as they come in, so on PostgreSQL
        // the sites after them up to this one are a batch whose statements run aside while the sites of
        // the first are handed on.
        db->AddSite("D1", "SILENT", SilentHostNamespace::Address);
        db->Exec("UPDATE site SET Downtime = 30 WHERE CODE = 'OLDOUT'");
        db->Exec("UPDATE site SET Downtime = 1440 WHERE CODE = 'NEWOUT'");
        // One code with two addresses, one answering and one not; listed twice (once in lower case, for
        // another daemon: the scan runs with no Daemon ID, so every listing counts).
        db->AddSite("D1", "TWICE", "127.0.0.9");
        db->Exec("INSERT INTO site (CODE, sitename, IPaddr, Downtime) VALUES ('TWICE', 'Depot', 'no..such', 0)");
        db->Exec("INSERT INTO VKT (VKTID, sitecode) VALUES ('D2', 'twice')");
        // After the code listed twice, so in a run of the concurrent scan apart from the sites above: a
        // refused row costs the rest of its chunk its gathered statements.
        db->AddSite("D1", "REFUSED", "no..such");
        db->AddSite("D1", "NORTT", "127.0.0.2");
        for (const std::string& statement : dialect.Refusals)
            db->Exec(statement);
        db->AddSite("D1", "LAST", "127.0.0.1");

        const ScanOutput one = ScanOnce(*db, "");
        together.push_back(ScanOnce(*db, "[Scan]\r\nParallel=500\r\nSendInterval=0\r\n"));
        EXPECT_EQ(together.back().Events, one.Events);
        EXPECT_EQ(together.back().Rows, one.Rows);
        ASSERT_GE(one.Events.size(), 400u);
        const std::vector<std::string> expected{
            "[AWOL] Unable to contact SILENT [203.0.113.2]", "[AWOL] Unable to contact REJECT1 [198.51.100.7]",
            "[AWOL] Unable to contact GHOST [no..such]", "[[FAILURE]] Posting alarm: refuse_alarm refused",
            "[[FAILURE]] Clearing active alarms: refuse_rtt refused"};
        for (const std::string& line : expected)
            EXPECT_NE(std::find(one.Events.begin(), one.Events.end(), line), one.Events.end()) << line;
        EXPECT_EQ(LineAfter(one.Events, "[AWOL] Unable to contact OLDOUT [no..such]"), "[MAIL] Notifying ...");
        EXPECT_NE(LineAfter(one.Events, "[AWOL] Unable to contact NEWOUT [no..such]"), "[MAIL] Notifying ...");
        EXPECT_NE(LineAfter(one.Events, "[AWOL] Unable to contact REJECT2 [198.51.100.7]"), "[MAIL] Notifying ...");
        EXPECT_EQ(std::count(one.Rows.begin(), one.Rows.end(), "alarm REJECT2MAILED"), 1);
    }
    ASSERT_EQ(together.size(), 2u);
    EXPECT_EQ(together[1].Events, together[0].Events);
    EXPECT_EQ(together[1].Rows, together[0].Rows);
}
