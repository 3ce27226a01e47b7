// The mailslot writer: path parsing, NetBIOS names, the datagram's layout, and one write received by a
// UDP listener on loopback.
#include "peers.h"
#include "platform/mailslot.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

unsigned Byte(const std::string& s, std::size_t i) {
    return static_cast<unsigned char>(s.at(i));
}
unsigned BE16(const std::string& s, std::size_t i) {
    return Byte(s, i) << 8 | Byte(s, i + 1);
}
unsigned LE16(const std::string& s, std::size_t i) {
    return Byte(s, i) | Byte(s, i + 1) << 8;
}

constexpr std::size_t SmbStart = 14 + 2 * 34;

} // namespace

struct PathCase {
    const char* path;
    bool valid;
    const char* target;
    const char* slot;
};

class MailslotPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(MailslotPath, SplitsTargetAndSlotName) {
    std::string target, slot;
    ASSERT_EQ(ParseMailslotPath(GetParam().path, target, slot), GetParam().valid);
    if (GetParam().valid) {
        EXPECT_EQ(target, GetParam().target);
        EXPECT_EQ(slot, GetParam().slot);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, MailslotPath,
                         ::testing::Values(PathCase{"\\\\ws12\\mailslot\\messngr", true, "ws12", "messngr"},
                                           PathCase{"\\\\10.0.0.7\\MailSlot\\messngr", true, "10.0.0.7", "messngr"},
                                           PathCase{"\\\\ws12\\pipe\\messngr", false, "", ""},
                                           PathCase{"ws12\\mailslot\\messngr", false, "", ""},
                                           PathCase{"\\\\\\mailslot\\messngr", false, "", ""},
                                           PathCase{"\\\\ws12\\mailslot\\", false, "", ""}));

TEST(NetbiosName, IsUpperCasedPaddedSuffixedAndHalfByteEncoded) {
    std::string blanks;
    for (int i = 0; i < 11; ++i)
        blanks += "CA";
    // W S 1 2, eleven blanks, the suffix 0x03, the empty scope.
    EXPECT_EQ(EncodeNetbiosName("ws12", 0x03), "\x20"
                                               "FHFDDBDC" +
                                                   blanks + "AD" + std::string(1, '\0'));
    EXPECT_EQ(EncodeNetbiosName("a-very-long-computer-name", 0), EncodeNetbiosName("A-VERY-LONG-COM", 0));
}

TEST(MailslotDatagram, CarriesAnSmbMailslotWriteOfTheContentUnchanged) {
    TMailslotDatagram d;
    d.SourceName = "monitor";
    d.TargetName = "ws12";
    d.SourceAddress = 0x7f000001;
    d.SourcePort = 40000;
    d.DatagramId = 0x1234;
    d.MailslotName = "\\MAILSLOT\\MESSNGR";
    d.Content = std::string("SENDER\0ws12\0\r\nhello", 20) + '\0';
    const std::string bytes = BuildMailslotDatagram(d);
    EXPECT_EQ(Byte(bytes, 0), 0x10u); // direct unique datagram
    EXPECT_EQ(Byte(bytes, 1), 0x02u); // first and only fragment, B node
    EXPECT_EQ(BE16(bytes, 2), 0x1234u);
    EXPECT_EQ(bytes.substr(4, 4), std::string("\x7f\0\0\x01", 4));
    EXPECT_EQ(BE16(bytes, 8), 40000u);
    EXPECT_EQ(BE16(bytes, 10), bytes.size() - 14); // names and user data
    EXPECT_EQ(BE16(bytes, 12), 0u);
    EXPECT_EQ(bytes.substr(14, 34), EncodeNetbiosName("monitor", 0x00));
    EXPECT_EQ(bytes.substr(48, 34), EncodeNetbiosName("ws12", 0x03));
    const std::string smb = bytes.substr(SmbStart);
    EXPECT_EQ(smb.substr(0, 5), "\xffSMB\x25");
    EXPECT_EQ(Byte(smb, 32), 17u);                    // word count
    EXPECT_EQ(LE16(smb, 35), d.Content.size());       // total data count
    EXPECT_EQ(LE16(smb, 55), d.Content.size());       // data count
    EXPECT_EQ(Byte(smb, 59), 3u);                     // setup count
    EXPECT_EQ(LE16(smb, 61), 1u);                     // mailslot write
    EXPECT_EQ(LE16(smb, 65), 2u);                     // class 2
    EXPECT_EQ(LE16(smb, 67), 18u + d.Content.size()); // byte count
    EXPECT_EQ(smb.substr(69, 18), std::string("\\MAILSLOT\\MESSNGR\0", 18));
    EXPECT_EQ(smb.substr(LE16(smb, 57)), d.Content); // the data offset points at the content
}

TEST(MailslotWriter, SendsOneDatagramToTheTargetOrCannotOpenAnUnresolvableOne) {
    UdpListener listener;
    ScopedEnv port("VKT_MAILSLOT_PORT", std::to_string(listener.port));
    TMailslotWriter slot;
    EXPECT_FALSE(slot.Open("\\\\no..such\\mailslot\\messngr")); // refused by the resolver, nothing sent
    ASSERT_TRUE(slot.Open("\\\\127.0.0.1\\mailslot\\messngr")) << slot.LastError();
    const std::string content("A\0B\0\r\ntext\0", 11);
    EXPECT_EQ(slot.Write(content), content.size());
    const std::string received = listener.Receive(60s);
    ASSERT_GT(received.size(), SmbStart + 87);
    EXPECT_EQ(received.substr(SmbStart + 87), content);
    EXPECT_EQ(received.substr(SmbStart + 69, 18), std::string("\\MAILSLOT\\MESSNGR\0", 18));
    EXPECT_EQ(listener.Receive(100ms), "") << "exactly one datagram per write";
}
