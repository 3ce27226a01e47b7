// Maintenance windows against the real daemon scanning every second, made on the status page with curl
// and the [Web] login: while the window runs the site's notice is held (no mail), when it ends the
// notice goes out once; a window for every site is ended early from the page, each change in the table
// when the page answers and the end logged with who ended it; a form from another site changes nothing.
#include "../integration/listenport.h"
#include "../integration/scan_daemon.h"
#include "../web/shellcommand.h"
#include "peers.h"

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <regex>

using namespace std::chrono_literals;

namespace {

std::string LocalText(std::time_t t) {
    char text[32];
    std::tm tm{};
    ::localtime_r(&t, &tm);
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

class MaintenanceDaemon : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!CanProbe(why)) GTEST_SKIP() << why;
        if (!Have("curl") || !Have("openssl")) GTEST_SKIP() << "curl or openssl is not installed";
        ASSERT_TRUE(mail.ready);
        ASSERT_TRUE(db.Connect()) << db.dm.LastConnectionError();
        db.AddSite("D1", "M1", "127.0.0.1", "ops@example.org");
        std::string hash = RunCommand("openssl passwd -6 'open sesame'");
        hash.pop_back(); // the line feed
        home = std::make_unique<DaemonHome>(db, "D1",
                                            "Server=127.0.0.1:" + std::to_string(mail.port) +
                                                "\r\n[Web]\r\nUser=admin\r\nPassword=" + hash + "\r\n");
        vkt = std::make_unique<VktProcess>(home->home.Path(), home->work.Path());
        port = WebPort();
        ASSERT_NE(port, 0) << vkt->Output();
    }
    int WebPort() const { return ListeningTcpPort(vkt->Pid()); }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }
    /// The status line of the answer to the form (curl encodes each field), or what curl said.
    std::string Post(const std::vector<std::string>& fields, const std::string& options = "") {
        std::string command = "curl -s -i -u 'admin:open sesame' " + options;
        for (const std::string& field : fields)
            command += " --data-urlencode '" + field + "'";
        const std::string answer = RunCommand(command + " " + Url("/status/maintenance"));
        return answer.substr(0, answer.find("\r\n"));
    }
    std::string Get(const std::string& path) { return RunCommand("curl -s -u 'admin:open sesame' " + Url(path)); }
    int Lines(const std::string& text) const { return Occurrences(vkt->Output(), text); }

    TestMailServer mail;
    TempDir dbDir;
    SharedDb db{"SQLite", dbDir.File("vkt"), ""};
    std::unique_ptr<DaemonHome> home;
    std::unique_ptr<VktProcess> vkt;
    int port = 0;
};

} // namespace

TEST_F(MaintenanceDaemon, HoldsTheNoticeUntilTheWindowEndsThenSendsItOnce) {
    ASSERT_TRUE(WaitForCount(*vkt, "M1 Responding", 1, 60s)) << vkt->Output();
    const std::time_t end = std::time(nullptr) + 20;
    ASSERT_EQ(Post({"code=M1", "start=" + LocalText(end - 80), "end=" + LocalText(end), "reason=router reboot"}),
              "HTTP/1.0 303 See Other");
    EXPECT_NE(Get("/status.json").find("\"code\":\"M1\""), std::string::npos);
    EXPECT_NE(Get("/status.json").find("\"maintenance\":true"), std::string::npos);
    db.Exec("UPDATE site SET IPaddr = 'no..such' WHERE CODE = 'M1'");

    ASSERT_TRUE(WaitForCount(*vkt, "Notice for M1 held: maintenance", 1, 60s)) << vkt->Output();
    ASSERT_LT(std::time(nullptr), end) << "the window ended before the site went down";
    EXPECT_EQ(mail.Received(1), "");
    EXPECT_EQ(Lines("Notifying ..."), 0);
    EXPECT_NE(mail.WaitReceived(1, 90s), "") << vkt->Output();
    EXPECT_GE(std::time(nullptr), end);
    // The notice stands: later scans of the silent site send nothing more.
    ASSERT_TRUE(WaitForCount(*vkt, "Unable to contact M1", Lines("Unable to contact M1") + 3, 60s));
    EXPECT_EQ(mail.Received(2), "");
    EXPECT_EQ(Lines("Notifying ..."), 1);
    EXPECT_EQ(
        Lines("Maintenance window for M1 made by admin: from " + LocalText(end - 80) + " to " + LocalText(end) + "."),
        1)
        << vkt->Output();
    EXPECT_EQ(Get("/status.json").find("\"maintenance\""), std::string::npos);
}

TEST_F(MaintenanceDaemon, WindowForEverySiteEndsEarlyAndOtherSitesChangeNothing) {
    // Closed unanswered, like a save from another site.
    EXPECT_EQ(Post({"code=*", "minutes=60"}, "-H 'Origin: http://attacker.example'"), "\n<exit status not 0>");
    EXPECT_EQ(Post({"code=M1", "minutes=0"}), "HTTP/1.0 400 Bad Request");
    ASSERT_EQ(Post({"code=*", "minutes=60", "reason=move"}), "HTTP/1.0 303 See Other");
    EXPECT_EQ(db.Count("SELECT COUNT(*) AS n FROM maintenance"), 1) << "stored before the answer";
    ASSERT_TRUE(WaitForCount(*vkt, "M1 Responding", 1, 60s)) << vkt->Output();
    EXPECT_NE(Get("/status.json").find("\"maintenance\":true"), std::string::npos);
    std::smatch id;
    const std::string page = Get("/status");
    ASSERT_TRUE(std::regex_search(page, id, std::regex("name=end_early value=(\\d+)"))) << page;
    ASSERT_EQ(Post({"end_early=" + id[1].str()}), "HTTP/1.0 303 See Other");
    EXPECT_EQ(db.Count("SELECT COUNT(*) AS n FROM maintenance WHERE code = '*' AND ended > 0 AND madeby = 'admin'"), 1);
    EXPECT_EQ(Get("/status.json").find("\"maintenance\""), std::string::npos);
    ASSERT_TRUE(WaitForCount(*vkt, "Maintenance window for * ended early by admin.", 1, 60s)) << vkt->Output();
}
