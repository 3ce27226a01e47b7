// Notification faults against real peers on loopback: aiosmtpd refusing a recipient, a server that
// never answers, a UDP listener standing in for the targets' mailslots; the pop-up's length rule.
#include "monitor/tnotifythread.h"
#include "peers.h"
#include "daemon/scan_support.h"

#include <regex>

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

class Notification : public ScanConsole {
protected:
    void UseMailServer(int port) {
        WriteIni("[Mail]\nServer=127.0.0.1:" + std::to_string(port) + "\nSender=vkt@example.org\n");
    }
    /// The lines of one scan from "Notifying ..." on.
    Lines NotificationLines() {
        Lines lines = Taken();
        auto at = std::find(lines.begin(), lines.end(), "[MAIL] Notifying ...");
        return Lines(at, lines.end());
    }
    UdpListener popups;
    ScopedEnv port{"VKT_MAILSLOT_PORT", std::to_string(popups.port)};
};

enum class MailPeer { Real, Silent, Endless };

struct MailFault {
    const char* name;
    MailPeer peer;
    const char* email;
    const char* popupTarget; // "" for none
    const char* error;       // the message after "Mail fail. ", a regex; "" for none
    long long markers;
};

class NotificationFault : public Notification, public ::testing::WithParamInterface<MailFault> {};

TEST_P(NotificationFault, IsReportedAndRetriedNextScanUnlessAPopupWasDelivered) {
    const MailFault& c = GetParam();
    TestMailServer server;
    SilentMailServer silent;
    EndlessMailServer endless;
    ASSERT_TRUE(server.ready) << "aiosmtpd did not start (package python3-aiosmtpd)";
    UseMailServer(c.peer == MailPeer::Silent ? silent.port : c.peer == MailPeer::Endless ? endless.port : server.port);
    AddSite({"B2", "10.9.9.9", 0, c.email, *c.email ? 2 : 0, "Anna"}); // no comma: first name only
    Exec(std::string("INSERT INTO operator (SurName, FirstName, ext, contactflag) VALUES ('', 'Anna', '") +
         c.popupTarget + "', " + (*c.popupTarget ? "3" : "0") + ")");
    const auto started = std::chrono::steady_clock::now();
    TickAfter(0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 15s) << "the mail server held the scan"; // a hang guard
    Lines lines = NotificationLines();
    ASSERT_EQ(lines.size(), 2u);
    if (*c.error) {
        EXPECT_TRUE(std::regex_match(lines[1], std::regex(std::string("\\[ERROR\\] Mail fail\\. ") + c.error)))
            << lines[1];
    } else {
        EXPECT_EQ(lines[1], "[MAIL] Complete.");
    }
    EXPECT_EQ(Alarms("B2MAILED"), c.markers);
    TickAfter(5);
    EXPECT_EQ(NotificationLines().size(), c.markers ? 0u : 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NotificationFault,
    ::testing::Values(
        MailFault{"SilentServer", MailPeer::Silent, "ops@example.org", "", "Operation timed out", 0},
        MailFault{"EndlessReply", MailPeer::Endless, "ops@example.org", "", "Reply too long: more than 100 lines", 0},
        MailFault{"RefusedRecipient", MailPeer::Real, "refused@example.org", "",
                  "550 5\\.1\\.1 <refused@example\\.org>: Recipient address rejected", 0},
        MailFault{"RefusedButPopupDelivered", MailPeer::Real, "refused@example.org", "127.0.0.1", "550 .*", 1},
        // An empty label: the resolver refuses the name without sending a query.
        MailFault{"PopupTargetUnresolvable", MailPeer::Real, "", "no..such",
                  "Pop-up to no\\.\\.such: Cannot resolve no\\.\\.such: .+", 0},
        // The kernel refuses a broadcast destination to a socket not allowed to broadcast.
        MailFault{"PopupToBroadcastAddress", MailPeer::Real, "", "255.255.255.255",
                  "Pop-up to 255\\.255\\.255\\.255: .+", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Notification, StatementErrorInTheWorkerReachesTheLog) {
    AddSite({"B2", "10.9.9.9", 0, "ops@example.org", 2, "Smith, Anna"});
    Exec("DROP TABLE operator");
    TickAfter(0);
    Lines lines = NotificationLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].rfind("[ERROR] Mail fail. ", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("operator"), std::string::npos) << lines[1];
    EXPECT_EQ(Alarms("B2MAILED"), 0);
}

TEST_F(Notification, DataUtilitiesAndAboutWaitUntilTheScanEnds) {
    AddSite({"B2", "10.9.9.9", 0, "ops@example.org", 2, ""}); // no mail server: the mail counts as done
    bool enabledDuring = true, opened = false;
    form.OnDataUtilities = [&] { opened = true; };
    form.OnChange = [&] {
        if (form.barStatus != "Notifying..") return;
        enabledDuring = form.mnuDataUtilities.Enabled || form.mnuAbout.Enabled;
        form.mnuDataUtilitiesClick(); // a click queued before the menu showed the change
    };
    TickAfter(0);
    form.OnChange = nullptr;
    EXPECT_FALSE(enabledDuring);
    EXPECT_FALSE(opened);
    EXPECT_TRUE(form.mnuDataUtilities.Enabled && form.mnuAbout.Enabled);
    form.mnuDataUtilitiesClick();
    EXPECT_TRUE(opened);
}

struct PopupCut {
    std::size_t contentLength; // before the cut
    std::size_t written;
    bool closingNul;
};

class PopupLength : public ::testing::TestWithParam<PopupCut> {};

TEST_P(PopupLength, IsCutAt420BytesWithTheClosingNulOnlyWhenItFits) {
    const std::string time = "2026-12-07 08:00:00";
    const std::size_t base = PopupContent("ws", time, "B2", "", "10.9.9.9").size() - 1;
    const std::string name(GetParam().contentLength - base, 'n');
    const std::string content = PopupContent("ws", time, "B2", name, "10.9.9.9");
    EXPECT_EQ(content.size(), GetParam().written);
    EXPECT_EQ(content.back() == '\0', GetParam().closingNul);
    EXPECT_EQ(content.substr(0, 30), std::string("SENTROVA VIGILOR SYSTEM\0ws\0\r\n Rep", 33).substr(0, 30));
}

INSTANTIATE_TEST_SUITE_P(Cases, PopupLength,
                         ::testing::Values(PopupCut{200, 201, true}, PopupCut{419, 420, true},
                                           PopupCut{420, 420, false}, PopupCut{600, 420, false}));
