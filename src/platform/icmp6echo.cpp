// ICMPv6 echo: requests and the matching of answers, the sockets, and the one-request handle.
#include "platform/icmp6echo.h"

#include "platform/echotoken.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/errqueue.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::uint8_t EchoRequest6 = 128;
constexpr std::uint8_t EchoReply6 = 129;
constexpr std::size_t HeaderSize = 8;
constexpr std::size_t Ip6HeaderSize = 40;
using Address16 = std::array<std::uint8_t, 16>;

bool IsOurs(std::span<const std::uint8_t> icmp, std::uint8_t type, const Echo6Probe& probe) {
    return icmp.size() >= HeaderSize && icmp[0] == type && icmp[1] == 0 && Get16(icmp, 4) == probe.Identifier &&
           Get16(icmp, 6) == probe.Sequence;
}

/// The request an error quotes: its IPv6 header (next header ICMPv6, no extension headers: we send none)
/// and at least the first 8 bytes of our echo request.
bool QuotedRequest(std::span<const std::uint8_t> icmp, Echo6Probe& quoted) {
    const auto quote = icmp.subspan(HeaderSize);
    if (quote.size() < Ip6HeaderSize + HeaderSize || (quote[0] >> 4) != 6 || quote[6] != IPPROTO_ICMPV6) return false;
    const auto request = quote.subspan(Ip6HeaderSize);
    if (request[0] != EchoRequest6) return false;
    std::copy_n(quote.begin() + 24, 16, quoted.Destination.begin());
    quoted.Identifier = Get16(request, 4);
    quoted.Sequence = Get16(request, 6);
    return true;
}

void SetInt(int fd, int level, int name, int value) {
    if (setsockopt(fd, level, name, &value, sizeof value) == 0) return;
    const int err = errno;
    close(fd);
    throw EIcmpEchoError(std::string("cannot set an ICMPv6 socket option: ") + std::strerror(err));
}

int OpenSocket6(IcmpSocketKind kind) {
    const int type = (kind == IcmpSocketKind::Raw ? SOCK_RAW : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC;
    return socket(AF_INET6, type, IPPROTO_ICMPV6);
}

/// The one-request handle on an ICMPv6 socket; waiting is poll(2) on it alone.
class Icmp6SocketHandle : public IcmpEchoHandle {
public:
    Icmp6SocketHandle(int fd, IcmpSocketKind kind)
        : m_fd(fd), m_kind(kind), m_identifier(ConfigureIcmp6Socket(fd, kind)) {}
    ~Icmp6SocketHandle() override { close(m_fd); }
    Icmp6SocketHandle(const Icmp6SocketHandle&) = delete;
    Icmp6SocketHandle& operator=(const Icmp6SocketHandle&) = delete;

    unsigned SendEcho(std::uint32_t, std::span<const std::uint8_t>, const IpOptionInformation&,
                      std::chrono::milliseconds, IcmpEchoReply&, std::uint32_t&) override {
        throw EIcmpEchoError("this echo handle sends IPv6 echoes only");
    }

    unsigned SendEcho6(const Address16& address, std::span<const std::uint8_t> data, const IpOptionInformation& options,
                       std::chrono::milliseconds timeout, IcmpEchoReply& reply, std::uint32_t& lastError) override {
        reply = IcmpEchoReply{};
        const int hops = options.Ttl == 0 ? 64 : options.Ttl;
        if (setsockopt(m_fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &hops, sizeof hops) != 0)
            throw EIcmpEchoError(std::string("cannot set an ICMPv6 socket option: ") + std::strerror(errno));
        Drain();
        const Echo6Probe probe{address, m_identifier, ++m_sequence};
        const std::vector<std::uint8_t> packet = BuildEcho6Request(probe, data);
        sockaddr_in6 to{};
        to.sin6_family = AF_INET6;
        std::memcpy(to.sin6_addr.s6_addr, address.data(), 16);
        m_sent = std::chrono::steady_clock::now();
        if (sendto(m_fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
            lastError = SendErrorStatus(errno);
            return 0;
        }
        const bool answered = Await(probe, data, timeout, reply);
        lastError = answered ? IpStatus::Success : IpStatus::ReqTimedOut;
        return answered ? 1 : 0;
    }

private:
    bool Await(const Echo6Probe& probe, std::span<const std::uint8_t> data, std::chrono::milliseconds timeout,
               IcmpEchoReply& reply) {
        const auto deadline = m_sent + std::max(timeout, std::chrono::milliseconds(0));
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd pfd{m_fd, POLLIN, 0};
            const int n = poll(&pfd, 1, static_cast<int>(left.count()));
            if (n < 0 && errno != EINTR) throw EIcmpEchoError(std::string("poll failed: ") + std::strerror(errno));
            if (n <= 0) continue;
            if ((pfd.revents & POLLERR) && ReadErrorQueue(probe, reply)) return true;
            if ((pfd.revents & POLLIN) && ReadAnswers(probe, data, reply)) return true;
        }
    }

    void Answered(IcmpEchoReply& reply, const Address16& from, std::uint32_t status) {
        const auto us =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - m_sent);
        reply.RoundTripTimeUs = static_cast<std::uint64_t>(std::max<long long>(0, us.count()));
        reply.RoundTripTime = static_cast<std::uint32_t>(reply.RoundTripTimeUs / 1000);
        reply.Address6 = from;
        reply.Status = status;
    }

    bool ReadAnswers(const Echo6Probe& probe, std::span<const std::uint8_t> data, IcmpEchoReply& reply) {
        for (;;) {
            sockaddr_in6 from{};
            alignas(cmsghdr) char control[128];
            iovec iov{m_buffer.data(), m_buffer.size()};
            msghdr msg{&from, sizeof from, &iov, 1, control, sizeof control, 0};
            const ssize_t n = recvmsg(m_fd, &msg, 0);
            if (n < 0) {
                if (errno == EINTR || (m_kind == IcmpSocketKind::Datagram && errno != EAGAIN && errno != EWOULDBLOCK))
                    continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) return false;
                throw EIcmpEchoError(std::string("receiving from the ICMPv6 socket failed: ") + std::strerror(errno));
            }
            Address16 source;
            std::memcpy(source.data(), from.sin6_addr.s6_addr, 16);
            const std::span<const std::uint8_t> packet(m_buffer.data(), static_cast<std::size_t>(n));
            const Echo6Match m = MatchEcho6Answer(packet, probe, data, source);
            if (!m.Matches) continue;
            Answered(reply, source, m.Status);
            reply.DataSize = m.DataSize;
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
                if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_HOPLIMIT)
                    reply.Options.Ttl = static_cast<std::uint8_t>(*reinterpret_cast<int*>(CMSG_DATA(c)));
            return true;
        }
    }

    bool ReadErrorQueue(const Echo6Probe& probe, IcmpEchoReply& reply) {
        for (;;) {
            sockaddr_in6 target{};
            alignas(cmsghdr) char control[256];
            iovec iov{m_buffer.data(), m_buffer.size()};
            msghdr msg{&target, sizeof target, &iov, 1, control, sizeof control, 0};
            const ssize_t n = recvmsg(m_fd, &msg, MSG_ERRQUEUE);
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            const std::span<const std::uint8_t> quoted(m_buffer.data(), static_cast<std::size_t>(n));
            if (std::memcmp(target.sin6_addr.s6_addr, probe.Destination.data(), 16) != 0 ||
                !IsOurs(quoted, EchoRequest6, probe))
                continue;
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level != IPPROTO_IPV6 || c->cmsg_type != IPV6_RECVERR) continue;
                const auto* ee = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
                const std::uint32_t status = Icmp6ErrorStatus(ee->ee_type, ee->ee_code);
                if (ee->ee_origin != SO_EE_ORIGIN_ICMP6 || status == IpStatus::Success) continue;
                Address16 from;
                std::memcpy(from.data(), reinterpret_cast<const sockaddr_in6*>(SO_EE_OFFENDER(ee))->sin6_addr.s6_addr,
                            16);
                Answered(reply, from, status);
                return true;
            }
        }
    }

    void Drain() {
        while (recv(m_fd, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT) >= 0 || errno == EINTR ||
               (m_kind == IcmpSocketKind::Datagram && errno != EAGAIN && errno != EWOULDBLOCK)) {
        }
        while (m_kind == IcmpSocketKind::Datagram &&
               (recv(m_fd, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT | MSG_ERRQUEUE) >= 0 || errno == EINTR)) {
        }
    }

    int m_fd;
    IcmpSocketKind m_kind;
    std::uint16_t m_identifier;
    std::uint16_t m_sequence = SystemRandom16();
    std::chrono::steady_clock::time_point m_sent;
    std::vector<std::uint8_t> m_buffer = std::vector<std::uint8_t>(65536);
};

} // namespace

std::uint32_t Icmp6ErrorStatus(std::uint8_t type, std::uint8_t code) {
    switch (type) {
    case ICMP6_DST_UNREACH:
        switch (code) {
        case ICMP6_DST_UNREACH_NOROUTE:
            return IpStatus::DestNetUnreachable;
        case ICMP6_DST_UNREACH_NOPORT:
            return IpStatus::DestPortUnreachable;
        default:
            return IpStatus::DestHostUnreachable;
        }
    case ICMP6_PACKET_TOO_BIG:
        return IpStatus::PacketTooBig;
    case ICMP6_TIME_EXCEEDED:
        return code == 0 ? IpStatus::TtlExpiredTransit : IpStatus::TtlExpiredReassem;
    case ICMP6_PARAM_PROB:
        return IpStatus::ParamProblem;
    default:
        return IpStatus::Success;
    }
}

std::vector<std::uint8_t> Echo6Payload(const Echo6Probe& probe, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> payload(data.begin(), data.end());
    StampEchoToken(payload, EchoToken6(probe.Destination, probe.Identifier, probe.Sequence));
    return payload;
}

std::vector<std::uint8_t> BuildEcho6Request(const Echo6Probe& probe, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> packet(HeaderSize);
    packet[0] = EchoRequest6;
    packet[4] = static_cast<std::uint8_t>(probe.Identifier >> 8);
    packet[5] = static_cast<std::uint8_t>(probe.Identifier);
    packet[6] = static_cast<std::uint8_t>(probe.Sequence >> 8);
    packet[7] = static_cast<std::uint8_t>(probe.Sequence);
    const std::vector<std::uint8_t> payload = Echo6Payload(probe, data);
    packet.insert(packet.end(), payload.begin(), payload.end());
    return packet;
}

Echo6Probe PeekEcho6Answer(std::span<const std::uint8_t> packet, const Address16& source) {
    Echo6Probe probe;
    if (packet.size() < HeaderSize) return {};
    if (packet[0] == EchoReply6) return Echo6Probe{source, Get16(packet, 4), Get16(packet, 6)};
    if (Icmp6ErrorStatus(packet[0], packet[1]) == IpStatus::Success || !QuotedRequest(packet, probe)) return {};
    return probe;
}

Echo6Match MatchEcho6Answer(std::span<const std::uint8_t> packet, const Echo6Probe& probe,
                            std::span<const std::uint8_t> data, const Address16& source) {
    Echo6Match m;
    if (packet.size() < HeaderSize) return m;
    if (packet[0] == EchoReply6) {
        if (source != probe.Destination || !IsOurs(packet, EchoReply6, probe) ||
            !std::ranges::equal(packet.subspan(HeaderSize), Echo6Payload(probe, data)))
            return m;
        m.Matches = true;
        m.DataSize = static_cast<std::uint16_t>(packet.size() - HeaderSize);
        return m;
    }
    const std::uint32_t status = Icmp6ErrorStatus(packet[0], packet[1]);
    Echo6Probe quoted;
    if (status == IpStatus::Success || !QuotedRequest(packet, quoted)) return m;
    if (quoted.Destination != probe.Destination || quoted.Identifier != probe.Identifier ||
        quoted.Sequence != probe.Sequence)
        return m;
    m.Matches = true;
    m.Status = status;
    return m;
}

int OpenAnyIcmp6SocketFd(IcmpSocketKind& kind) {
    kind = IcmpSocketKind::Datagram;
    int fd = OpenSocket6(kind);
    if (fd >= 0) return fd;
    const int dgramErr = errno;
    kind = IcmpSocketKind::Raw;
    fd = OpenSocket6(kind);
    if (fd >= 0) return fd;
    throw EIcmpEchoError(std::string("cannot open an ICMPv6 socket (datagram: ") + std::strerror(dgramErr) +
                         "; raw: " + std::strerror(errno) + ")");
}

std::uint16_t ConfigureIcmp6Socket(int fd, IcmpSocketKind kind) {
    if (kind == IcmpSocketKind::Raw) {
        // Only the messages that can answer an echo request reach us.
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        for (int type :
             {ICMP6_ECHO_REPLY, ICMP6_DST_UNREACH, ICMP6_PACKET_TOO_BIG, ICMP6_TIME_EXCEEDED, ICMP6_PARAM_PROB})
            ICMP6_FILTER_SETPASS(type, &filter);
        if (setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) != 0) {
            const int err = errno;
            close(fd);
            throw EIcmpEchoError(std::string("cannot filter the raw ICMPv6 socket: ") + std::strerror(err));
        }
        SetInt(fd, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, 1);
        const std::uint16_t identifier = NextRawIdentifier();
        KeepOwnEchoReplies(fd, identifier, false);
        return identifier;
    }
    // As for IPv4: the bound port is the identifier of every request, chosen at random.
    sockaddr_in6 local{};
    local.sin6_family = AF_INET6;
    bool bound = false;
    for (int attempt = 0; attempt < 8 && !bound; ++attempt) {
        local.sin6_port = SystemRandom16();
        bound = local.sin6_port != 0 && bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    }
    if (!bound) {
        local.sin6_port = 0;
        bound = bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    }
    socklen_t len = sizeof local;
    if (!bound || getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        const int err = errno;
        close(fd);
        throw EIcmpEchoError(std::string("cannot bind the ICMPv6 socket: ") + std::strerror(err));
    }
    SetInt(fd, IPPROTO_IPV6, IPV6_RECVERR, 1);
    SetInt(fd, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, 1);
    return ntohs(local.sin6_port);
}

std::unique_ptr<IcmpEchoHandle> IcmpCreateFile6() {
    IcmpSocketKind kind;
    const int fd = OpenAnyIcmp6SocketFd(kind);
    return std::make_unique<Icmp6SocketHandle>(fd, kind);
}
