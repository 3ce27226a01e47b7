// Byte-for-byte renderings of messages: the lost-contact notification, long lines, display names,
// multipart layouts, uuencoding, dot-stuffing and the refusal to let stored texts break lines.
#include "mail/msident.h"
#include "mail/msmime.h"
#include "mail/mspars.h"
#include "mail/msuucode.h"
#include "platform/datetime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <regex>
#include <set>
#include <sstream>

namespace {

const std::string Stars = "  " + std::string(65, '*');

std::string Render(TmsCustomMessage& message) {
    std::stringstream out;
    message.SaveToStream(out);
    return out.str();
}

/// The lines, each followed by CR LF.
std::string Crlf(std::initializer_list<std::string> lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    return text;
}

/// Every CR is followed by LF and every LF follows a CR.
bool OnlyCrlfBreaks(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) return false;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
    }
    return true;
}

TmsAttItem& Attach(TmsCustomMessage& message, const std::string& fileName, const std::string& data,
                   const std::string& type = "") {
    TmsAttItem& item = message.Attachments().Add(std::make_unique<TmsAttItem>());
    item.SetFileName(fileName);
    if (!type.empty()) item.SetContentType(type);
    item.Data() = data;
    return item;
}

/// The notification mail as the alarm worker fills it.
void FillNotification(TmsMessage& message, const TmsStrings& mails) {
    message.Recipients().Clear();
    for (const auto& mail : mails)
        message.Recipients().AddAddress(mail, "");
    message.Sender().SetName("Sentrova Vigilor System");
    message.Sender().SetAddress("vkt@example.com");
    message.SetSubject("Sentrova - Lost contact notification");
    message.Body().clear();
    message.Body() = {"Sentrova reports the following IP address is currently unreachable.",
                      "",
                      Stars,
                      "  Report Time : 2024-03-05 14:07:09 ",
                      Stars,
                      "",
                      "  Code       : SRV01 ",
                      "  SiteName   : Main Server ",
                      "  IP address : 10.0.0.1 ",
                      "",
                      Stars};
}

const std::string NotificationBody =
    Crlf({"Content-Type: text/plain; charset=\"us-ascii\"", "Content-Transfer-Encoding: 7bit", "",
          "Sentrova reports the following IP address is currently unreachable.", "", Stars,
          "  Report Time : 2024-03-05 14:07:09 ", Stars, "", "  Code       : SRV01 ", "  SiteName   : Main Server ",
          "  IP address : 10.0.0.1 ", "", Stars});

/// Puts a POSIX TZ rule in force for the guard's lifetime.
class ScopedZone {
public:
    explicit ScopedZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) m_old = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedZone() {
        if (m_old)
            ::setenv("TZ", m_old->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ScopedZone(const ScopedZone&) = delete;
    ScopedZone& operator=(const ScopedZone&) = delete;

private:
    std::optional<std::string> m_old;
};

/// The Date and Message-ID lines of EncoderTest's renderings.
const std::string DateAndId = Crlf({"Date: Tue, 05 Mar 2024 14:07:09 +0000", "Message-ID: <1@vkt.test>"});

/// Renders with the boundaries 11111111, 22222222, ... in turn, at 2024-03-05 14:07:09 UTC, with the
/// message identifier <1@vkt.test>.
class EncoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetBoundarySource([this] { return std::string(8, static_cast<char>('1' + m_drawn++)); });
        SetMessageIdSource([] { return std::string("<1@vkt.test>"); });
        FillNotification(m_message, {"ops@example.com"});
    }
    void TearDown() override {
        SetBoundarySource(nullptr);
        SetMessageIdSource(nullptr);
    }

    /// The header lines of the notification up to Message-ID, for the given subject.
    static std::string NotificationHeaders(const std::string& subject) {
        return Crlf({"From:     Sentrova Vigilor System <vkt@example.com>", "To:        <ops@example.com>",
                     "Subject: " + subject, "Mime-Version: 1.0"}) +
               DateAndId;
    }

    ScopedZone m_zone{"UTC0"};
    ManualClock m_clock{EncodeDateTime(2024, 3, 5, 14, 7, 9)};
    ScopedClock m_installed{&m_clock};
    TmsMessage m_message;
    int m_drawn = 0;
};

TEST_F(EncoderTest, NotificationToOneRecipient) {
    EXPECT_EQ(Render(m_message), NotificationHeaders("Sentrova - Lost contact notification") + NotificationBody);
}

TEST_F(EncoderTest, NotificationToTwoRecipients) {
    FillNotification(m_message, {"ops@example.com", "noc@example.com"});
    EXPECT_EQ(Render(m_message), Crlf({"From:     Sentrova Vigilor System <vkt@example.com>",
                                       "To:        <ops@example.com>,", "           <noc@example.com>",
                                       "Subject: Sentrova - Lost contact notification", "Mime-Version: 1.0"}) +
                                     DateAndId + NotificationBody);
}

TEST_F(EncoderTest, LongBodyLineSwitchesToQuotedPrintable) {
    m_message.SetSubject("s");
    m_message.SetBody({std::string(255, 'a')});
    EXPECT_EQ(Render(m_message),
              NotificationHeaders("s") + Crlf({"Content-Type: text/plain; charset=\"us-ascii\"",
                                               "Content-Transfer-Encoding: 7bit", "", std::string(255, 'a')}));
    m_message.SetBody({"x=1", std::string(256, 'a')});
    EXPECT_EQ(Render(m_message),
              NotificationHeaders("s") +
                  Crlf({"Content-Type: text/plain; charset=\"us-ascii\"", "Content-Transfer-Encoding: quoted-printable",
                        "", "x=3D1", std::string(65, 'a') + "=", std::string(65, 'a') + "=", std::string(65, 'a') + "=",
                        std::string(61, 'a')}));
}

TEST_F(EncoderTest, AddressHeadersNamesAndPriority) {
    m_message.Sender().SetName("Sentrova V.S.");
    m_message.Recipients().Clear();
    m_message.Recipients().AddAddress("a@x.org", "Ann Smith");
    m_message.Recipients().AddAddress("b@x.org", "J. Doe");
    m_message.Recipients().AddAddress("d@x.org", "\"Dr. Who\"");
    m_message.CC().AddAddress("c@x.org", "");
    m_message.BCC().AddAddress("hidden@x.org", "Hidden");
    m_message.ReturnReceipt = true;
    m_message.Priority = ptHigh;
    m_message.SetHeaders({"From: spoof@x.org", "X-Keep: 1", "Subject: old", " folded", "Content-Type: text/html"});
    m_message.SetSubject("s");
    m_message.SetBody({"b"});
    EXPECT_EQ(Render(m_message),
              Crlf({"From:     \"Sentrova V.S.\" <vkt@example.com>", "To:       Ann Smith <a@x.org>,",
                    "          \"J. Doe\" <b@x.org>,", "          \"Dr. Who\" <d@x.org>", "CC:        <c@x.org>",
                    "Return-Receipt-To: <vkt@example.com>", "X-Priority: 1", "X-Keep: 1", "Subject: s",
                    "Mime-Version: 1.0"}) +
                  DateAndId +
                  Crlf({"Content-Type: text/plain; charset=\"us-ascii\"", "Content-Transfer-Encoding: 7bit", "", "b"}));
    EXPECT_EQ(m_message.Headers(), (TmsHeaders{"X-Keep: 1"}));
    m_message.Priority = ptLow;
    EXPECT_NE(Render(m_message).find("\r\nX-Priority: 5\r\n"), std::string::npos);
}

TEST_F(EncoderTest, DotStuffing) {
    m_message.SetBody({".", ".x", "x.", ""});
    m_message.SetHeaders({".X-Odd: 1"});
    std::string text = Render(m_message);
    EXPECT_NE(text.find("\r\n..X-Odd: 1\r\nSubject: "), std::string::npos);
    EXPECT_EQ(text.substr(text.find("\r\n\r\n") + 4), Crlf({"..", "..x", "x.", ""}));
}

TEST_F(EncoderTest, StoredTextsCannotBreakLinesOrEndTheData) {
    // A site name holding LF "." LF must not end the message data, nor start a new SMTP command.
    m_message.SetBody({"  SiteName   : Main\n.\nQUIT", "a\r\n.b\rc"});
    m_message.SetSubject("Down\r\nBcc: evil@x.org");
    m_message.Sender().SetName("Vigil\nX-Evil: 1");
    m_message.Recipients().AddAddress("ops2@example.com\r\nRCPT TO:<evil@x.org>", "");
    m_message.SetHeaders({"X-Site: A\r\n\r\nBody: injected"});
    std::string text = Render(m_message);
    EXPECT_TRUE(OnlyCrlfBreaks(text));
    EXPECT_EQ(text, Crlf({"From:     Vigil X-Evil: 1 <vkt@example.com>", "To:        <ops@example.com>,",
                          "           <ops2@example.com RCPT TO:<evil@x.org>>", "X-Site: A Body: injected",
                          "Subject: Down Bcc: evil@x.org", "Mime-Version: 1.0"}) +
                        DateAndId +
                        Crlf({"Content-Type: text/plain; charset=\"us-ascii\"", "Content-Transfer-Encoding: 7bit", "",
                              "  SiteName   : Main", "..", "QUIT", "a", "..b", "c"}));
}

TEST_F(EncoderTest, MultipartWithAttachmentGivenWithADirectory) {
    m_message.SetSubject("Weekly report");
    m_message.SetBody({"See the attached report."});
    Attach(m_message, "/srv/reports/week12.pdf", std::string(60, 'P'));
    std::string full(76, ' ');
    for (std::size_t i = 0; i < full.size(); i += 4)
        full.replace(i, 4, "UFBQ");
    EXPECT_EQ(
        Render(m_message),
        NotificationHeaders("Weekly report") +
            Crlf({"Content-Type: multipart/mixed; boundary=\"11111111\"", "",
                  "This is a multipart message in MIME format", "", "--11111111",
                  "Content-Type: text/plain; charset=\"us-ascii\"", "Content-Transfer-Encoding: 7bit", "",
                  "See the attached report.", "", "--11111111", "Content-Type: application/pdf; name=\"week12.pdf\"",
                  "Content-Transfer-Encoding: Base64", "Content-Disposition: attachment; filename=\"week12.pdf\"", "",
                  full, "UFBQ", "", "--11111111--"}));
}

TEST_F(EncoderTest, AlternativePartsCarryNoNames) {
    m_message.SetSubject("alt");
    m_message.Body().clear();
    Attach(m_message, "/tmp/_alt.txt", "Plain\r\n");
    Attach(m_message, "/tmp/_alt.htm", "<p>Hi</p>");
    EXPECT_EQ(Render(m_message),
              NotificationHeaders("alt") +
                  Crlf({"Content-Type: multipart/alternative; boundary=\"11111111\"", "",
                        "This is a multipart message in MIME format", "", "--11111111", "Content-Type: text/plain",
                        "Content-Transfer-Encoding: Quoted-Printable", "", "Plain", "", "", "--11111111",
                        "Content-Type: text/html", "Content-Transfer-Encoding: Quoted-Printable", "", "<p>Hi</p>", "",
                        "--11111111--"}));
}

TEST_F(EncoderTest, NestedAlternativeInsideAMix) {
    m_message.SetSubject("nested");
    m_message.SetBody({"Text"});
    Attach(m_message, "_alt.htm", "<b>T</b>");
    Attach(m_message, "report.pdf", "PDF");
    EXPECT_EQ(Render(m_message),
              NotificationHeaders("nested") + Crlf({"Content-Type: multipart/mixed; boundary=\"11111111\"",
                                                    "",
                                                    "This is a multipart message in MIME format",
                                                    "",
                                                    "--11111111",
                                                    "Content-Type:  multipart/alternative; boundary=\"22222222\"",
                                                    "Content-Transfer-Encoding: 7bit",
                                                    "",
                                                    "--22222222",
                                                    "Content-Type: text/plain; charset=\"us-ascii\"",
                                                    "Content-Transfer-Encoding: 7bit",
                                                    "",
                                                    "Text",
                                                    "",
                                                    "--22222222",
                                                    "Content-Type: text/html",
                                                    "Content-Transfer-Encoding: Quoted-Printable",
                                                    "",
                                                    "<b>T</b>",
                                                    "",
                                                    "--22222222--",
                                                    "",
                                                    "--11111111",
                                                    "Content-Type: application/pdf; name=\"report.pdf\"",
                                                    "Content-Transfer-Encoding: Base64",
                                                    "Content-Disposition: attachment; filename=\"report.pdf\"",
                                                    "",
                                                    "UERG",
                                                    "",
                                                    "--11111111--"}));
}

TEST_F(EncoderTest, ForwardedMessageIsSevenBitLines) {
    m_message.SetSubject("fwd");
    m_message.Body().clear();
    Attach(m_message, "fwd.eml", "From: a@x.org\r\nSubject: old\n\n.\rbody\r\n");
    EXPECT_EQ(Render(m_message),
              NotificationHeaders("fwd") +
                  Crlf({"Content-Type: message/rfc822; name=\"fwd.eml\"", "Content-Transfer-Encoding: 7bit",
                        "Content-Disposition: attachment; filename=\"fwd.eml\"", "", "From: a@x.org", "Subject: old",
                        "", "..", "body"}));
}

TEST_F(EncoderTest, Base64ContentOfWholeLinesEndsWithAnEmptyLine) {
    m_message.SetSubject("b");
    m_message.Body().clear();
    Attach(m_message, "x.bin", std::string(57, 'P'), "application/octet-stream").SetEncoding(aeBase64);
    std::string text = Render(m_message);
    EXPECT_EQ(text.substr(text.find("\r\n\r\n", text.find("Content-Disposition")) + 4),
              Crlf({Base64EncodeText(std::string(57, 'P')), ""}));
}

TEST_F(EncoderTest, HtmlAndRtfBodies) {
    m_message.SetSubject("h");
    m_message.SetCharSet(csISO8859);
    m_message.SetBody({"<p>caf\xE9</p>"});
    m_message.SetContentType("text/html");
    EXPECT_EQ(Render(m_message),
              NotificationHeaders("h") + Crlf({"Content-Type: text/html; charset=\"iso-8859-1\"",
                                               "Content-Transfer-Encoding: quoted-printable", "", "<p>caf=E9</p>"}));
    EXPECT_EQ(m_message.Body(), (TmsStrings{"<p>caf=E9</p>"}));
    m_message.SetCharSet(csUSASCII);
    m_message.SetContentType("text/rtf");
    EXPECT_NE(Render(m_message).find("Mime-Version: 1.0\r\n" + DateAndId + "Content-Type: text/rtf\r\n"),
              std::string::npos);
}

TEST_F(EncoderTest, BodyFileAttachmentCarriesItsContent) {
    m_message.SetSubject("h");
    m_message.Body().clear();
    Attach(m_message, "/tmp/_htmbody.htm", "<p>Body</p>\r\n");
    EXPECT_EQ(Render(m_message),
              NotificationHeaders("h") +
                  Crlf({"Content-Type: text/html", "Content-Transfer-Encoding: Quoted-Printable", "", "<p>Body</p>"}));
}

TEST_F(EncoderTest, CharacterSets) {
    m_message.SetSubject("c");
    m_message.SetCharSet(csISO8859);
    m_message.SetBody({"caf\xE9", "a=b"});
    EXPECT_EQ(Render(m_message),
              NotificationHeaders("c") + Crlf({"Content-Type: text/plain; charset=\"iso-8859-1\"",
                                               "Content-Transfer-Encoding: quoted-printable", "", "caf=E9", "a=3Db"}));
    std::string jis = "\x1B$B$3$s\x1B(B";
    m_message.SetCharSet(csISO2022jp);
    m_message.SetSubject(jis);
    m_message.Sender().SetName(jis);
    std::string text = Render(m_message);
    std::string word = "=?ISO-2022-JP?B?" + Base64EncodeText(jis) + "?=";
    EXPECT_EQ(text.substr(0, text.find("Content-Type")),
              Crlf({"From:     " + word + " <vkt@example.com>", "To:        <ops@example.com>", "Subject: " + word,
                    "Mime-Version: 1.0"}) +
                  DateAndId);
}

TEST_F(EncoderTest, UuencodedMessage) {
    m_message.SetSubject("uu");
    m_message.SetEncoding(meUU);
    m_message.SetBody({"See attachment.", std::string(300, 'x')});
    Attach(m_message, "/tmp/cat.bin", "Cat");
    Attach(m_message, "a45.bin", std::string(45, 'A'));
    EXPECT_EQ(
        Render(m_message),
        Crlf({"From:     Sentrova Vigilor System <vkt@example.com>", "To:        <ops@example.com>", "Subject: uu"}) +
            DateAndId +
            Crlf({"", "See attachment.", std::string(300, 'x'), "", "begin 600 cat.bin", "#0V%T", "`", "end", "",
                  "begin 600 a45.bin", UUEncodeLine(std::string(45, 'A')), "`", "`", "end"}));
}

TEST_F(EncoderTest, Failures) {
    m_message.SetContentType("multipart/mixed");
    EXPECT_THROW(Render(m_message), EListError);
    m_message.SetContentType("text/plain");
    std::stringstream broken;
    broken.setstate(std::ios::badbit);
    EXPECT_THROW(m_message.SaveToStream(broken), EInOutError);
}

TEST_F(EncoderTest, RendersFromTheStartOfTheStream) {
    std::stringstream out;
    out << "stale";
    m_message.SaveToStream(out);
    EXPECT_EQ(out.str().substr(0, 6), "From: ");
}

TEST(Boundaries, RandomDigitsDifferPerRenderingAndPerSection) {
    TmsMessage message;
    message.SetBody({"Text"});
    Attach(message, "_alt.htm", "<b>T</b>");
    Attach(message, "report.pdf", "PDF");
    std::regex boundary("boundary=\"([0-8]{8})\"");
    std::vector<std::string> found;
    for (int i = 0; i < 2; ++i) {
        std::string text = Render(message);
        for (std::sregex_iterator it(text.begin(), text.end(), boundary), end; it != end; ++it)
            found.push_back((*it)[1]);
    }
    ASSERT_EQ(found.size(), 4u);
    EXPECT_NE(found[0], found[1]);
    EXPECT_NE(found[0], found[2]);
}

TEST_F(EncoderTest, DateCarriesTheLocalZoneInForceAndEnglishNames) {
    struct Case {
        const char* Zone;
        TDateTime Local;
        const char* Date;
    };
    const char* const Berlin = "CET-1CEST,M3.5.0,M10.5.0/3";
    for (const Case& c :
         {Case{Berlin, EncodeDateTime(2026, 12, 9, 10, 15, 2), "Wed, 09 Dec 2026 10:15:02 +0100"},
          Case{Berlin, EncodeDateTime(2026, 7, 5, 0, 0, 0), "Sun, 05 Jul 2026 00:00:00 +0200"},
          Case{"EST5EDT,M3.2.0,M11.1.0", EncodeDateTime(2024, 1, 31, 23, 59, 59), "Wed, 31 Jan 2024 23:59:59 -0500"},
          Case{"<-0330>3:30", EncodeDateTime(2024, 2, 29, 12, 0, 0), "Thu, 29 Feb 2024 12:00:00 -0330"},
          Case{"<+0530>-5:30", EncodeDateTime(2000, 1, 1, 8, 5, 0), "Sat, 01 Jan 2000 08:05:00 +0530"}}) {
        SCOPED_TRACE(c.Date);
        ScopedZone zone(c.Zone);
        m_clock.SetNow(c.Local);
        EXPECT_EQ(Render(m_message),
                  Crlf({"From:     Sentrova Vigilor System <vkt@example.com>", "To:        <ops@example.com>",
                        "Subject: Sentrova - Lost contact notification", "Mime-Version: 1.0",
                        std::string("Date: ") + c.Date, "Message-ID: <1@vkt.test>"}) +
                      NotificationBody);
    }
}

TEST_F(EncoderTest, MessageIdsAreFreshAndHeadersGivenStay) {
    SetMessageIdSource(nullptr);
    const std::regex id("\r\nMessage-ID: (<[0-9a-f]{32}@[A-Za-z0-9.-]+>)\r\nContent-Type: ");
    std::set<std::string> ids;
    for (int i = 0; i < 100; ++i) {
        std::smatch found;
        const std::string text = Render(m_message);
        ASSERT_TRUE(std::regex_search(text, found, id)) << text;
        ids.insert(found[1]);
    }
    EXPECT_EQ(ids.size(), 100u);
    // A stored message sent again keeps its own date and identifier.
    m_message.SetHeaders({"date: Mon, 04 Mar 2024 09:00:00 +0000", "Message-Id: <old@x.org>"});
    EXPECT_EQ(Render(m_message),
              Crlf({"From:     Sentrova Vigilor System <vkt@example.com>", "To:        <ops@example.com>",
                    "date: Mon, 04 Mar 2024 09:00:00 +0000", "Message-Id: <old@x.org>",
                    "Subject: Sentrova - Lost contact notification", "Mime-Version: 1.0"}) +
                  NotificationBody);
}

TEST(ArticleEncoder, Headers) {
    TmsArticle article;
    article.Sender().SetName("Poster.Name");
    article.Sender().SetAddress("p@x.org");
    article.NewsGroups = "local.test";
    article.SetSubject("Hello");
    article.SetHeaders({"Newsgroups: old", "X-A: 1"});
    article.SetBody({"body"});
    EXPECT_EQ(Render(article),
              Crlf({"From:     Poster.Name <p@x.org>", "Newsgroups: local.test", "Newsgroups: old", "X-A: 1",
                    "Subject:  Hello", "Mime-Version: 1.0", "Content-Type: text/plain; charset=\"us-ascii\"",
                    "Content-Transfer-Encoding: 7bit", "", "body"}));
}

} // namespace
