// The notification mail of the real daemon with the package's empty [Mail] Sender, on a host with a
// fully qualified name (a host-name namespace of the test's own): the envelope and the From line carry
// vkt@ and that name, the header its Date and Message-ID, and a strict Postfix accepts it.
#include "db/common.h"
#include "peers.h"
#include "scan_daemon.h"
#include "strictpostfix.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <unistd.h>

#include <regex>

using namespace std::chrono_literals;

namespace {

const std::string HostName = "vkthost.example.test";

/// Moves this process (and the daemon it starts) into a host-name namespace named `HostName`, and
/// with `ownNetwork` into a network namespace of its own with only loopback up.
::testing::AssertionResult OwnHostName(bool ownNetwork) {
    if (::geteuid() != 0) return ::testing::AssertionFailure() << "needs root";
    if (::unshare(CLONE_NEWUTS | (ownNetwork ? CLONE_NEWNET : 0)) != 0)
        return ::testing::AssertionFailure() << "namespaces not allowed here";
    if (ownNetwork && std::system("ip link set lo up") != 0) return ::testing::AssertionFailure() << "no loopback";
    if (::sethostname(HostName.data(), HostName.size()) != 0) return ::testing::AssertionFailure() << "sethostname";
    return ::testing::AssertionSuccess();
}

class EmptySender : public ::testing::Test {
protected:
    /// A daemon on a SQLite database whose one site never answers and has a mail contact, sending to
    /// `server` with an empty Sender.
    std::unique_ptr<VktProcess> Start(const std::string& server) {
        db = std::make_unique<SharedDb>("SQLite", dbDir.File("vkt"), "");
        if (!db->Connect()) return nullptr;
        db->AddSite("D1", "GHOST", "no..such", "ops@example.org");
        daemon = std::make_unique<DaemonHome>(*db, "D1", "Server=" + server + "\r\nSender=\r\n");
        return std::make_unique<VktProcess>(daemon->home.Path(), daemon->work.Path());
    }
    TempDir dbDir;
    std::unique_ptr<SharedDb> db;
    std::unique_ptr<DaemonHome> daemon;
};

} // namespace

TEST_F(EmptySender, MailComesFromVktAtTheHostsFullNameWithDateAndMessageId) {
    TestMailServer mail;
    ASSERT_TRUE(mail.ready) << "aiosmtpd did not start (package python3-aiosmtpd)";
    ASSERT_TRUE(OwnHostName(false));
    auto vkt = Start("127.0.0.1:" + std::to_string(mail.port));
    ASSERT_TRUE(vkt);
    const std::string received = mail.WaitReceived(1, 20s);
    ASSERT_FALSE(received.empty()) << vkt->Output();
    std::smatch time;
    ASSERT_TRUE(std::regex_search(received, time, std::regex("Report Time : ([-0-9: ]{19}) "))) << received;
    std::string expected =
        NotificationMail("ops@example.org", "GHOST", "Depot", "no..such", time[1], DateAndMessageId(received));
    expected = std::regex_replace(expected, std::regex("vkt@example\\.org"), "vkt@" + HostName);
    EXPECT_EQ(received, expected);
    EXPECT_NE(received.find("@" + HostName + ">\r\nContent-Type: "), std::string::npos) << "Message-ID's host";
}

TEST_F(EmptySender, AStrictPostfixAcceptsTheMail) {
    if (::access("/usr/sbin/postfix", X_OK) != 0) GTEST_SKIP() << "needs Debian's postfix";
    ASSERT_TRUE(OwnHostName(true));
    // The null sender and a sender without a domain are refused, as relays do for anything but bounces.
    StrictPostfix postfix(std::filesystem::temp_directory_path() / ("vkt-postfix-" + std::to_string(::getpid())),
                          "smtpd_sender_restrictions = check_sender_access inline:{<>=REJECT}, reject_non_fqdn_sender\n"
                          "local_header_rewrite_clients =\n");
    ASSERT_TRUE(postfix.started) << "postfix did not start";
    auto vkt = Start("127.0.0.1:" + std::to_string(StrictPostfix::Port));
    ASSERT_TRUE(vkt);
    ASSERT_TRUE(vkt->WaitForOutput("[MAIL]     Complete.", 30s)) << vkt->Output();
    EXPECT_EQ(Occurrences(vkt->Output(), "Mail fail."), 0) << vkt->Output() << postfix.Log();
    ASSERT_TRUE(postfix.WaitForLog("from=<vkt@" + HostName + ">", 10s)) << postfix.Log();
    // The identifier is the daemon's own: Postfix, told not to mend this client's headers, adds none.
    EXPECT_TRUE(std::regex_search(postfix.Log(), std::regex("message-id=<[0-9a-f]{32}@vkthost\\.example\\.test>")))
        << postfix.Log();
}
