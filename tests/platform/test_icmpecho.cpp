// ICMP echo layer: which received packets answer a request, refused destinations, and real echoes
// on loopback over each socket kind the process may open.
#include "platform/echotoken.h"
#include "platform/icmpecho.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t Ip(const char* text) {
    return inet_addr(text);
}

const std::uint32_t Target = Ip("192.0.2.7");
const std::uint32_t Router = Ip("192.0.2.1");
const std::uint32_t Us = Ip("192.0.2.50");
const EchoProbe Probe{Target, 0x1234, 0x0042};

void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(v);
}

void Put32(Bytes& b, std::size_t at, std::uint32_t networkOrder) {
    std::memcpy(b.data() + at, &networkOrder, 4);
}

/// An ICMP message with a valid checksum: header (type, code, id, seq) then `body`.
Bytes Icmp(std::uint8_t type, std::uint8_t code, std::uint16_t id, std::uint16_t seq, const Bytes& body) {
    Bytes b(8);
    b[0] = type;
    b[1] = code;
    Put16(b, 4, id);
    Put16(b, 6, seq);
    b.insert(b.end(), body.begin(), body.end());
    Put16(b, 2, InternetChecksum(b));
    return b;
}

/// An IPv4 header (with `optionWords` 4-byte words of options) in front of `payload`.
Bytes WithIp(std::uint32_t from, std::uint32_t to, const Bytes& payload, int optionWords = 0, std::uint8_t ttl = 61) {
    Bytes b(20 + 4 * optionWords);
    b[0] = static_cast<std::uint8_t>(0x40 | (5 + optionWords));
    Put16(b, 2, static_cast<std::uint16_t>(b.size() + payload.size()));
    b[8] = ttl;
    b[9] = 1; // ICMP
    Put32(b, 12, from);
    Put32(b, 16, to);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

/// An ICMP error of `type`/`code` from the router, quoting `quotedIcmp` sent from us to `to`.
Bytes ErrorAnswer(std::uint8_t type, std::uint8_t code, std::uint32_t to, const Bytes& quotedIcmp) {
    Bytes quote = WithIp(Us, to, quotedIcmp);
    return WithIp(Router, Us, Icmp(type, code, 0, 0, quote));
}

const Bytes Data(16, 'a');
Bytes OurRequest() {
    return Icmp(8, 0, Probe.Identifier, Probe.Sequence, EchoPayload(Probe, Data));
}
Bytes OurReply() {
    return Icmp(0, 0, Probe.Identifier, Probe.Sequence, EchoPayload(Probe, Data));
}
/// An echo reply with our identifier and sequence carrying `payload` instead of what we sent.
Bytes ReplyCarrying(const Bytes& payload) {
    return Icmp(0, 0, Probe.Identifier, Probe.Sequence, payload);
}
Bytes Resized(Bytes b, std::size_t size) {
    b.resize(size, 'a');
    return b;
}

struct MatchCase {
    const char* name;
    Bytes packet;
    bool withIpHeader;
    bool matches;
    std::uint32_t status = IpStatus::Success;
    std::uint32_t responder = 0;
    std::uint32_t source = 0;
};

std::ostream& operator<<(std::ostream& os, const MatchCase& c) {
    return os << c.name;
}

Bytes Truncated(Bytes b, std::size_t size) {
    b.resize(size);
    return b;
}

Bytes AsIpv6(Bytes b) {
    b[0] = 0x65;
    return b;
}

Bytes Corrupted(Bytes b) {
    b.back() ^= 0x01;
    return b;
}

std::vector<MatchCase> MatchCases() {
    Bytes quoteHeaderOnly = WithIp(Router, Us, Icmp(3, 1, 0, 0, Truncated(WithIp(Us, Target, OurRequest()), 24)));
    return {
        {"RawEchoReply", WithIp(Target, Us, OurReply()), true, true, IpStatus::Success, Target},
        {"RawEchoReplyAfterIpOptions", WithIp(Target, Us, OurReply(), 2), true, true, IpStatus::Success, Target},
        {"ForeignIdentifier", WithIp(Target, Us, Icmp(0, 0, 0x1235, Probe.Sequence, Data)), true, false},
        {"StaleSequence", WithIp(Target, Us, Icmp(0, 0, Probe.Identifier, 0x0041, Data)), true, false},
        {"ReplyFromAnotherHost", WithIp(Router, Us, OurReply()), true, false},
        {"OurOwnRequestSeenOnLoopback", WithIp(Us, Target, OurRequest()), true, false},
        {"BadChecksum", WithIp(Target, Us, Corrupted(OurReply())), true, false},
        {"IcmpShorterThanHeader", Truncated(WithIp(Target, Us, OurReply()), 27), true, false},
        {"IpHeaderCut", Truncated(WithIp(Target, Us, OurReply(), 2), 24), true, false},
        {"NotIpv4", AsIpv6(WithIp(Target, Us, OurReply())), true, false},
        {"HostUnreachable", ErrorAnswer(3, 1, Target, OurRequest()), true, true, IpStatus::DestHostUnreachable, Router},
        {"NetUnreachable", ErrorAnswer(3, 0, Target, OurRequest()), true, true, IpStatus::DestNetUnreachable, Router},
        {"AdminProhibited", ErrorAnswer(3, 13, Target, OurRequest()), true, true, IpStatus::DestHostUnreachable,
         Router},
        {"TtlExpired", ErrorAnswer(11, 0, Target, OurRequest()), true, true, IpStatus::TtlExpiredTransit, Router},
        {"ParameterProblem", ErrorAnswer(12, 0, Target, OurRequest()), true, true, IpStatus::ParamProblem, Router},
        {"UnreachableQuotingOnlyIcmpHeader", ErrorAnswer(3, 1, Target, Truncated(OurRequest(), 8)), true, true,
         IpStatus::DestHostUnreachable, Router},
        {"UnreachableForForeignRequest", ErrorAnswer(3, 1, Target, Icmp(8, 0, 0x9999, Probe.Sequence, Data)), true,
         false},
        {"UnreachableForAnotherDestination", ErrorAnswer(3, 1, Ip("192.0.2.8"), OurRequest()), true, false},
        {"UnreachableQuotingNoIcmpHeader", quoteHeaderOnly, true, false},
        {"RedirectIsNoAnswer", ErrorAnswer(5, 1, Target, OurRequest()), true, false},
        // A forger who guessed identifier and sequence still lacks the token, or cuts or pads the data.
        {"ReplyWithoutToken", WithIp(Target, Us, ReplyCarrying(Data)), true, false},
        {"ReplyWithTheTokenOfAnotherSequence",
         WithIp(Target, Us, ReplyCarrying(EchoPayload(EchoProbe{Target, Probe.Identifier, 0x0043}, Data))), true,
         false},
        {"ThreeByteReply", WithIp(Target, Us, ReplyCarrying(Bytes{'a', 'a', 'a'})), true, false},
        {"ReplyCutShort", WithIp(Target, Us, ReplyCarrying(Resized(EchoPayload(Probe, Data), 15))), true, false},
        {"ReplyWithAByteMore", WithIp(Target, Us, ReplyCarrying(Resized(EchoPayload(Probe, Data), 17))), true, false},
        {"DatagramReplyWithoutToken", ReplyCarrying(Data), false, false, IpStatus::Success, 0, Target},
        {"DatagramEchoReply", OurReply(), false, true, IpStatus::Success, Target, Target},
        {"DatagramReplyFromAnotherHost", OurReply(), false, false, IpStatus::Success, 0, Router},
        {"DatagramBadChecksum", Corrupted(OurReply()), false, false, IpStatus::Success, 0, Target},
    };
}

class EchoAnswerMatching : public ::testing::TestWithParam<MatchCase> {};

TEST_P(EchoAnswerMatching, DecidesWhetherThePacketAnswersOurRequest) {
    const MatchCase& c = GetParam();
    EchoMatch m = MatchEchoAnswer(c.packet, c.withIpHeader, Probe, Data, c.source);
    EXPECT_EQ(m.Matches, c.matches);
    if (!c.matches) return;
    EXPECT_EQ(m.Status, c.status);
    EXPECT_EQ(m.Responder, c.responder);
    if (c.status == IpStatus::Success) {
        EXPECT_EQ(m.DataSize, Data.size());
    }
    if (c.withIpHeader) {
        EXPECT_EQ(m.Options.Ttl, 61);
    }
}

INSTANTIATE_TEST_SUITE_P(Packets, EchoAnswerMatching, ::testing::ValuesIn(MatchCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(InternetChecksum, SumsWordsAndPadsAnOddLastByte) {
    // The worked example of the Internet checksum: words 0001 f203 f4f5 f6f7 sum to ddf2.
    EXPECT_EQ(InternetChecksum(Bytes{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7}), 0x220d);
    EXPECT_EQ(InternetChecksum(Bytes{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6}), static_cast<std::uint16_t>(~0xdcfb));
    Bytes packet = Icmp(8, 0, 1, 2, Bytes{1, 2, 3});
    EXPECT_EQ(InternetChecksum(packet), 0) << "a packet carrying its checksum sums to zero";
}

TEST(EchoToken, IsSipHash24UnderTheRunSecretWrittenOverTheDataEnd) {
    std::array<std::uint8_t, 16> key{};
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<std::uint8_t>(i);
    for (const auto& [length, expected] : {std::pair{0u, 0x726fdb47dd0e0e31ull}, std::pair{8u, 0x93f5f5799a932462ull},
                                           std::pair{15u, 0xa129ca6149be45e5ull}}) {
        Bytes message(length);
        for (std::size_t i = 0; i < length; ++i)
            message[i] = static_cast<std::uint8_t>(i);
        EXPECT_EQ(SipHash24(key, message), expected) << length << " bytes";
    }
    const std::string text = "VKT reachability probe - echo data follows...";
    for (std::size_t size : {56u, 11u, 3u}) {
        Bytes data(size, ' ');
        std::copy_n(text.begin(), std::min(size, text.size()), data.begin());
        const Bytes sent = EchoPayload(Probe, data);
        ASSERT_EQ(sent.size(), size);
        const std::size_t kept = size - std::min<std::size_t>(size, EchoTokenChars);
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + kept, sent.begin())) << "size " << size;
        for (std::size_t i = kept; i < size; ++i)
            EXPECT_TRUE(std::isalnum(sent[i]) || sent[i] == '-' || sent[i] == '_') << "size " << size << " at " << i;
    }
    EXPECT_NE(EchoPayload(Probe, Data), EchoPayload(EchoProbe{Target, Probe.Identifier, 0x0043}, Data));
}

TEST(EchoDestinations, RefusesUnspecifiedBroadcastAndMulticast) {
    for (const char* refused : {"0.0.0.0", "0.255.1.2", "255.255.255.255", "224.0.0.1", "239.255.255.255"}) {
        EXPECT_TRUE(IsRefusedEchoDestination(Ip(refused))) << refused;
    }
    for (const char* allowed : {"1.0.0.0", "127.0.0.1", "223.255.255.255", "240.0.0.1", "255.255.255.254"}) {
        EXPECT_FALSE(IsRefusedEchoDestination(Ip(allowed))) << allowed;
    }
}

/// Opens a handle of the kind, or skips the test saying why it cannot be had here.
std::unique_ptr<IcmpEchoHandle> OpenOrSkip(IcmpSocketKind kind, std::string& why) {
    try {
        return OpenIcmpSocket(kind);
    } catch (const EIcmpEchoError& e) {
        why = e.Message();
        return nullptr;
    }
}

class LoopbackEcho : public ::testing::TestWithParam<IcmpSocketKind> {
protected:
    void SetUp() override {
        std::string why;
        handle = OpenOrSkip(GetParam(), why);
        if (!handle) GTEST_SKIP() << why;
    }
    unsigned Send(const char* address, std::size_t size, std::uint32_t& error) {
        Bytes data(size, 'x');
        IpOptionInformation options{64, 0, 0};
        return handle->SendEcho(Ip(address), data, options, std::chrono::milliseconds(10000), reply, error);
    }
    std::unique_ptr<IcmpEchoHandle> handle;
    IcmpEchoReply reply;
};

TEST_P(LoopbackEcho, AnswersEveryRequestOfTheHandle) {
    for (std::size_t size : {56u, 0u, 1u, 9000u}) {
        std::uint32_t error = 1;
        ASSERT_EQ(Send("127.0.0.1", size, error), 1u) << "size " << size;
        EXPECT_EQ(error, IpStatus::Success);
        EXPECT_EQ(reply.Status, IpStatus::Success);
        EXPECT_EQ(reply.Address, Ip("127.0.0.1"));
        EXPECT_EQ(reply.DataSize, size);
        EXPECT_LT(reply.RoundTripTime, 1000u);
        EXPECT_GT(reply.RoundTripTimeUs, 0u) << "loopback answers within a millisecond, measured in microseconds";
        EXPECT_EQ(reply.Options.Ttl, 64);
    }
}

TEST_P(LoopbackEcho, NeverSendsToRefusedDestinations) {
    // Linux itself would answer 0.0.0.0 from the local host.
    for (const char* refused : {"0.0.0.0", "255.255.255.255", "224.0.0.1"}) {
        std::uint32_t error = 0;
        auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(Send(refused, 56, error), 0u) << refused;
        EXPECT_EQ(error, IpStatus::BadDestination) << refused;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << "waited for the time-out";
    }
}

TEST_P(LoopbackEcho, RefusesDataNoDatagramCanCarry) {
    std::uint32_t error = 0;
    EXPECT_THROW(Send("127.0.0.1", 65508, error), EIcmpEchoError);
}

// Raw sockets see every ping of the host: the replies to another socket's identifier (another probe
// of ours on this host, say) must stay in the kernel rather than crowd out this socket's own.
TEST(RawEchoSocket, QueuesOnlyTheRepliesToItsOwnIdentifier) {
    int fds[2];
    std::uint16_t ids[2];
    for (int i = 0; i < 2; ++i) {
        fds[i] = socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (fds[i] < 0) GTEST_SKIP() << "no raw ICMP socket here: " << std::strerror(errno);
        ids[i] = ConfigureIcmpSocket(fds[i], IcmpSocketKind::Raw);
    }
    const Bytes data(56, 'x');
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = Ip("127.0.0.1");
    // The echo replies queued within a second (other tests' ICMP errors may pass, as they should).
    auto replies = [](int fd) {
        int n = 0;
        Bytes packet(65536);
        for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, 1000) == 1;) {
            const ssize_t got = recv(fd, packet.data(), packet.size(), 0);
            if (got > 20 && packet[(packet[0] & 0x0F) * 4] == 0) ++n;
        }
        return n;
    };
    for (std::uint16_t sequence = 1; sequence <= 3; ++sequence) {
        const Bytes request = BuildEchoRequest(EchoProbe{to.sin_addr.s_addr, ids[1], sequence}, data);
        ASSERT_GT(sendto(fds[1], request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    }
    EXPECT_EQ(replies(fds[1]), 3) << "its own replies";
    EXPECT_EQ(replies(fds[0]), 0) << "the other socket's replies";
    for (int fd : fds)
        close(fd);
}

INSTANTIATE_TEST_SUITE_P(SocketKinds, LoopbackEcho, ::testing::Values(IcmpSocketKind::Datagram, IcmpSocketKind::Raw),
                         [](const auto& info) { return info.param == IcmpSocketKind::Raw ? "Raw" : "Datagram"; });

} // namespace

void PrintTo(IcmpSocketKind kind, std::ostream* os) {
    *os << (kind == IcmpSocketKind::Raw ? "raw" : "datagram");
}
