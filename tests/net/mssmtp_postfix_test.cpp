// The greeting against a strict Postfix (smtpd_helo_required, reject_non_fqdn_helo_hostname), run in
// network and host-name namespaces of the test's own so the host can carry a short name.
#include "mail/mssmtp.h"
#include "net/mswsock.h"

#include "loopback.h"
#include "strictpostfix.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

constexpr int kPort = StrictPostfix::Port;

class StrictMailServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0 || ::access("/usr/sbin/postfix", X_OK) != 0)
            GTEST_SKIP() << "needs root and Debian's postfix";
        // The whole process moves: the client, and Postfix started from here, see only loopback
        // and the host name this test sets.
        ASSERT_EQ(::unshare(CLONE_NEWUTS | CLONE_NEWNET), 0) << "namespaces not allowed here";
        ASSERT_EQ(std::system("ip link set lo up"), 0);
        SetHostName("vkthelo");
        postfix =
            std::make_unique<StrictPostfix>(fs::temp_directory_path() / ("vkt-postfix-" + std::to_string(::getpid())));
        ASSERT_TRUE(postfix->started) << "postfix did not start";
    }
    static void SetHostName(const std::string& name) { ASSERT_EQ(::sethostname(name.data(), name.size()), 0); }

    /// One dialogue by hand: the reply to RCPT TO after "HELO <name>".
    static std::string RecipientReply(const std::string& helo) {
        int fd = ConnectLoopback(kPort);
        std::string reply = ReceiveLine(fd);
        for (const std::string& line :
             {"HELO " + helo, std::string("MAIL FROM:<vkt@example.org>"), std::string("RCPT TO:<ops@example.org>")}) {
            SendAll(fd, line + "\r\n");
            reply = ReceiveLine(fd);
        }
        CloseFd(fd);
        return reply;
    }

    std::unique_ptr<StrictPostfix> postfix;
};

} // namespace

TEST_F(StrictMailServer, GreetingNamesTheHostFullyQualifiedOrByItsAddress) {
    ASSERT_EQ(RecipientReply("vkthelo").rfind("504 5.5.2 <vkthelo>: Helo command rejected", 0), 0u)
        << "the server must refuse a bare host name";
    struct Case {
        const char* HostName;
        const char* Helo;
    };
    for (const Case& c : {Case{"vkthelo", "[127.0.0.1]"}, Case{"vkthelo.example.test", "vkthelo.example.test"}}) {
        SCOPED_TRACE(c.HostName);
        SetHostName(c.HostName);
        int fd = ConnectLoopback(kPort);
        EXPECT_EQ(Winsock->GetLocalDomainName(fd), c.Helo);
        CloseFd(fd);
        TmsMessage message;
        message.Sender().SetAddress("vkt@example.org");
        message.Recipients().AddAddress("ops@example.org", "");
        message.SetSubject("Sentrova - Lost contact notification");
        message.Body() = {"Sentrova reports the following IP address is currently unreachable."};
        TmsSMTPClient client;
        client.SetHost("127.0.0.1:" + std::to_string(kPort));
        client.SetTimeOut(10); // Postfix answers slowly on a loaded machine
        client.SetMailMessage(&message);
        int sent = 0;
        client.OnSent = [&](TmsSMTPClient*) { ++sent; };
        EXPECT_NO_THROW(client.Send()) << postfix->Log();
        EXPECT_EQ(sent, 1);
    }
}
