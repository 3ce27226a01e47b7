// The concurrent scan against the one-at-a-time scan: the real daemon scans the same 200 sites both
// ways and writes the same lines and rows. Needs root for the namespace host.
#include "scan_daemon.h"
#include "silenthost.h"

#include <gtest/gtest.h>

#include <regex>

using namespace std::chrono_literals;

namespace {

const char* const RejectingHost = "198.51.100.7";

struct ScanOutput {
    std::vector<std::string> Events;
    std::vector<std::string> Rows;
};

class TogetherScan : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!CanProbe(why)) GTEST_SKIP() << why;
        if (!lab.Create(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(lab.AddRejectingAddress(RejectingHost)) << "nft (package nftables) is needed";
        ASSERT_TRUE(db.Connect()) << db.dm.LastConnectionError();
    }

    /// One scan by a daemon with `scanSection`, stopped after the last site's line; the log events
    /// (round-trip times as N) and the alarm and site rows it left, then the rows reset.
    ScanOutput ScanOnce(const std::string& scanSection, const std::string& lastLine) {
        DaemonHome daemon(db, "D1");
        WriteFileText(daemon.home.File("vkt.ini"),
                      "[System]\r\nVKTID=\r\n" + db.IniLines() + "PollDelay=60\r\nNetPort=0\r\n" + scanSection);
        VktProcess vkt(daemon.home.Path(), daemon.work.Path());
        EXPECT_TRUE(vkt.WaitForOutput(lastLine, 60s)) << vkt.Output();
        vkt.Signal(SIGTERM);
        EXPECT_EQ(vkt.WaitExit(60s), 0);
        ScanOutput out;
        for (std::string e : LogEvents(vkt.Output(), {"POLL", "AWOL", "MAIL", "ERROR"}))
            out.Events.push_back(std::regex_replace(e, std::regex("\\(\\d+ ms\\)"), "(N ms)"));
        // Which codes have an open outage; not how many rows: two failures of one code within the same
        // FailTime collapse into one row under the table's unique (Code, FailTime) index, however fast
        // the machine happens to be.
        OpenStatement(db.q, {"SELECT DISTINCT Code FROM alarms ORDER BY Code"});
        for (; !db.q.Eof(); db.q.Next())
            out.Rows.push_back("alarm " + db.q.FieldByName("Code").AsString());
        OpenStatement(db.q, {"SELECT CODE, IPaddr FROM site WHERE LastRTT IS NOT NULL ORDER BY CODE, IPaddr"});
        for (; !db.q.Eof(); db.q.Next())
            out.Rows.push_back("rtt " + db.q.FieldByName("CODE").AsString() + " " +
                               db.q.FieldByName("IPaddr").AsString());
        db.Exec("DELETE FROM alarms");
        db.Exec("UPDATE site SET LastRTT = NULL");
        return out;
    }

    SilentHostNamespace lab{"together"};
    TempDir dbDir;
    SharedDb db{"SQLite", dbDir.File("vkt"), ""};
};

} // namespace

TEST_F(TogetherScan, TwoHundredSitesGiveTheSameLinesAndRowsAsTheOneAtATimeScan) {
    for (int i = 0; i < 192; ++i)
        db.AddSite("D1", "L" + std::to_string(i), "127." + std::to_string(i % 3) + ".1." + std::to_string(1 + i));
    db.AddSite("D1", "SILENT", SilentHostNamespace::Address);
    db.AddSite("D1", "REJECT1", RejectingHost);
    db.AddSite("D1", "REJECT2", RejectingHost);
    db.AddSite("D1", "GHOST", "no..such");
    // One code with two addresses, one answering and one not; listed twice (once in lower case, for
    // another daemon: the scan runs with no Daemon ID, so every listing counts).
    db.AddSite("D1", "TWICE", "127.0.0.9");
    db.Exec("INSERT INTO site (CODE, sitename, IPaddr, Downtime) VALUES ('TWICE', 'Depot', 'no..such', 0)");
    db.Exec("INSERT INTO VKT (VKTID, sitecode) VALUES ('D2', 'twice')");
    db.AddSite("D1", "LAST", "127.0.0.1");

    const ScanOutput one = ScanOnce("", "LAST Responding");
    const ScanOutput together = ScanOnce("[Scan]\r\nParallel=500\r\nSendInterval=0\r\n", "LAST Responding");
    EXPECT_EQ(together.Events, one.Events);
    EXPECT_EQ(together.Rows, one.Rows);
    ASSERT_GE(one.Events.size(), 400u);
    const std::vector<std::string> failed{"[AWOL] Unable to contact SILENT [203.0.113.2]",
                                          "[AWOL] Unable to contact REJECT1 [198.51.100.7]",
                                          "[AWOL] Unable to contact GHOST [no..such]"};
    for (const std::string& line : failed)
        EXPECT_NE(std::find(one.Events.begin(), one.Events.end(), line), one.Events.end()) << line;
}
