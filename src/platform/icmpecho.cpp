// ICMP echo over Linux sockets: socket opening with the datagram-then-raw fallback, the send-and-wait
// loop, and the decoding that decides whether a received packet answers our request.
#include "platform/icmpecho.h"

#include "platform/echotoken.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <linux/errqueue.h>
#include <linux/filter.h>
#include <linux/icmp.h>
#include <vector>

namespace {

constexpr std::uint8_t IcmpEchoReplyType = 0;
constexpr std::uint8_t IcmpDestUnreachType = 3;
constexpr std::uint8_t IcmpSourceQuenchType = 4;
constexpr std::uint8_t IcmpEchoRequestType = 8;
constexpr std::uint8_t IcmpTimeExceededType = 11;
constexpr std::uint8_t IcmpParamProblemType = 12;
constexpr std::size_t IcmpHeaderSize = 8;
constexpr std::size_t IpHeaderMinSize = 20;
/// The most echo data an IPv4 datagram can carry after its 20-byte header and the 8-byte ICMP header.
constexpr std::size_t MaxEchoData = 65535 - IpHeaderMinSize - IcmpHeaderSize;

std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, b.data() + at, sizeof v); // stays in network order
    return v;
}

} // namespace

unsigned IcmpEchoHandle::SendEcho6(const std::array<std::uint8_t, 16>&, std::span<const std::uint8_t>,
                                   const IpOptionInformation&, std::chrono::milliseconds, IcmpEchoReply&,
                                   std::uint32_t&) {
    throw EIcmpEchoError("this echo handle sends IPv4 echoes only");
}

std::uint32_t IcmpErrorStatus(std::uint8_t type, std::uint8_t code) {
    switch (type) {
    case IcmpDestUnreachType:
        switch (code) {
        case 0:
        case 6:
        case 9:
        case 11:
            return IpStatus::DestNetUnreachable;
        case 2:
            return IpStatus::DestProtUnreachable;
        case 3:
            return IpStatus::DestPortUnreachable;
        case 4:
            return IpStatus::PacketTooBig;
        case 5:
            return IpStatus::BadRoute;
        default:
            return IpStatus::DestHostUnreachable;
        }
    case IcmpTimeExceededType:
        return code == 0 ? IpStatus::TtlExpiredTransit : IpStatus::TtlExpiredReassem;
    case IcmpParamProblemType:
        return IpStatus::ParamProblem;
    case IcmpSourceQuenchType:
        return IpStatus::SourceQuench;
    default:
        return IpStatus::Success;
    }
}

namespace {

/// Whether `icmp` is an ICMP message of `type` carrying our identifier and sequence: our own request
/// when quoted by an error answer, or the echo reply to it.
bool IsOurRequest(std::span<const std::uint8_t> icmp, const EchoProbe& probe, std::uint8_t type = IcmpEchoRequestType) {
    return icmp.size() >= IcmpHeaderSize && icmp[0] == type && icmp[1] == 0 && Get16(icmp, 4) == probe.Identifier &&
           Get16(icmp, 6) == probe.Sequence;
}

/// An error answer quotes the IP header of our request and at least the first 8 bytes of its ICMP part.
EchoMatch MatchErrorAnswer(std::span<const std::uint8_t> icmp, const EchoProbe& probe) {
    EchoMatch m;
    std::uint32_t status = IcmpErrorStatus(icmp[0], icmp[1]);
    if (status == IpStatus::Success) return m; // not a kind of answer (a redirect, say)
    auto quote = icmp.subspan(IcmpHeaderSize);
    if (quote.size() < IpHeaderMinSize || (quote[0] >> 4) != 4) return m;
    std::size_t ihl = (quote[0] & 0x0f) * 4u;
    if (ihl < IpHeaderMinSize || quote.size() < ihl + IcmpHeaderSize) return m;
    if (quote[9] != IPPROTO_ICMP || Get32(quote, 16) != probe.Destination) return m;
    if (!IsOurRequest(quote.subspan(ihl), probe)) return m;
    m.Matches = true;
    m.Status = status;
    return m;
}

/// Splits a raw packet into its IP header facts and its ICMP part; false when the header is unusable.
bool StripIpHeader(std::span<const std::uint8_t>& packet, std::uint32_t& source, IpOptionInformation& options) {
    if (packet.size() < IpHeaderMinSize || (packet[0] >> 4) != 4) return false;
    std::size_t ihl = (packet[0] & 0x0f) * 4u;
    if (ihl < IpHeaderMinSize || packet.size() < ihl) return false;
    options.Tos = packet[1];
    options.Ttl = packet[8];
    source = Get32(packet, 12);
    packet = packet.subspan(ihl);
    return true;
}

std::string ReadPingGroupRange() {
    std::ifstream in("/proc/sys/net/ipv4/ping_group_range");
    std::string low, high;
    if (!(in >> low >> high)) return "unknown";
    return low + " " + high;
}

std::string OpenFailureText(int dgramErr, int rawErr) {
    bool denied = (dgramErr == EACCES || dgramErr == EPERM) && (rawErr == EACCES || rawErr == EPERM);
    if (!denied) {
        return std::string("cannot open an ICMP socket (datagram: ") + std::strerror(dgramErr) +
               "; raw: " + std::strerror(rawErr) + ")";
    }
    return "no permission to open an ICMP socket: a raw socket needs the CAP_NET_RAW capability "
           "(setcap cap_net_raw+ep on the program), and a datagram socket needs the process group (" +
           std::to_string(getegid()) + ") within net.ipv4.ping_group_range (now " + ReadPingGroupRange() + ")";
}

/// Sets the round-trip time of `reply`, in whole milliseconds and in microseconds, from one reading of
/// the monotonic clock.
void SetRoundTrip(IcmpEchoReply& reply, std::chrono::steady_clock::time_point sent) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - sent);
    reply.RoundTripTimeUs = static_cast<std::uint64_t>(std::max<long long>(0, us.count()));
    reply.RoundTripTime = static_cast<std::uint32_t>(reply.RoundTripTimeUs / 1000);
}

void SetSocketInt(int fd, int level, int name, int value) {
    if (setsockopt(fd, level, name, &value, sizeof value) != 0) {
        int err = errno;
        close(fd);
        throw EIcmpEchoError(std::string("cannot set an ICMP socket option: ") + std::strerror(err));
    }
}

/// An echo handle on one ICMP socket. The descriptor is non-blocking; waiting is poll(2) on it alone.
class IcmpSocketHandle : public IcmpEchoHandle {
public:
    IcmpSocketHandle(int fd, IcmpSocketKind kind);
    ~IcmpSocketHandle() override { close(m_fd); }
    IcmpSocketHandle(const IcmpSocketHandle&) = delete;
    IcmpSocketHandle& operator=(const IcmpSocketHandle&) = delete;

    unsigned SendEcho(std::uint32_t address, std::span<const std::uint8_t> data, const IpOptionInformation& options,
                      std::chrono::milliseconds timeout, IcmpEchoReply& reply, std::uint32_t& lastError) override;

private:
    bool IsRaw() const { return m_kind == IcmpSocketKind::Raw; }
    void SetOptions(const IpOptionInformation& options);
    bool Send(const EchoProbe& probe, std::span<const std::uint8_t> data, std::uint32_t& lastError);
    bool Await(const EchoProbe& probe, std::span<const std::uint8_t> data, std::chrono::milliseconds timeout,
               IcmpEchoReply& reply);
    bool ReadAnswers(const EchoProbe& probe, std::span<const std::uint8_t> data, IcmpEchoReply& reply);
    bool ReadErrorQueue(const EchoProbe& probe, IcmpEchoReply& reply);
    void Drain();
    void SetInt(int level, int name, int value);

    int m_fd;
    IcmpSocketKind m_kind;
    std::uint16_t m_identifier = 0;
    std::uint16_t m_sequence = SystemRandom16();
    std::chrono::steady_clock::time_point m_sent;
    static constexpr std::size_t BufferSize = 65536;
    std::unique_ptr<std::uint8_t[]> m_buffer = std::make_unique_for_overwrite<std::uint8_t[]>(BufferSize);
    std::optional<IpOptionInformation> m_options; ///< what the socket is set to
};

IcmpSocketHandle::IcmpSocketHandle(int fd, IcmpSocketKind kind)
    : m_fd(fd), m_kind(kind), m_identifier(ConfigureIcmpSocket(fd, kind)) {}

void IcmpSocketHandle::SetInt(int level, int name, int value) {
    if (setsockopt(m_fd, level, name, &value, sizeof value) != 0) {
        throw EIcmpEchoError(std::string("cannot set an ICMP socket option: ") + std::strerror(errno));
    }
}

void IcmpSocketHandle::SetOptions(const IpOptionInformation& options) {
    auto same = [&](const IpOptionInformation& o) {
        return o.Ttl == options.Ttl && o.Tos == options.Tos && o.Flags == options.Flags;
    };
    if (m_options && same(*m_options)) return;
    SetInt(IPPROTO_IP, IP_TTL, options.Ttl == 0 ? 64 : options.Ttl);
    SetInt(IPPROTO_IP, IP_TOS, options.Tos);
    bool df = (options.Flags & IpFlagDontFragment) != 0;
    SetInt(IPPROTO_IP, IP_MTU_DISCOVER, df ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT);
    m_options = options;
}

unsigned IcmpSocketHandle::SendEcho(std::uint32_t address, std::span<const std::uint8_t> data,
                                    const IpOptionInformation& options, std::chrono::milliseconds timeout,
                                    IcmpEchoReply& reply, std::uint32_t& lastError) {
    if (data.size() > MaxEchoData) {
        throw EIcmpEchoError("echo data of " + std::to_string(data.size()) + " bytes exceeds the " +
                             std::to_string(MaxEchoData) + " an IPv4 datagram can carry");
    }
    reply = IcmpEchoReply{};
    if (IsRefusedEchoDestination(address)) {
        lastError = IpStatus::BadDestination;
        return 0;
    }
    SetOptions(options);
    Drain(); // answers to an earlier request of this handle must not count for this one
    EchoProbe probe{address, m_identifier, ++m_sequence};
    if (!Send(probe, data, lastError)) return 0;
    bool answered = Await(probe, data, timeout, reply);
    lastError = answered ? IpStatus::Success : IpStatus::ReqTimedOut;
    return answered ? 1 : 0;
}

bool IcmpSocketHandle::Send(const EchoProbe& probe, std::span<const std::uint8_t> data, std::uint32_t& lastError) {
    std::vector<std::uint8_t> packet = BuildEchoRequest(probe, data);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = probe.Destination;
    m_sent = std::chrono::steady_clock::now();
    if (sendto(m_fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0) return true;
    lastError = SendErrorStatus(errno);
    return false;
}

bool IcmpSocketHandle::Await(const EchoProbe& probe, std::span<const std::uint8_t> data,
                             std::chrono::milliseconds timeout, IcmpEchoReply& reply) {
    auto deadline = m_sent + std::max(timeout, std::chrono::milliseconds(0));
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd pfd{m_fd, POLLIN, 0};
        int n = poll(&pfd, 1, static_cast<int>(left.count()));
        if (n < 0 && errno != EINTR) throw EIcmpEchoError(std::string("poll failed: ") + std::strerror(errno));
        if (n <= 0) continue;
        if ((pfd.revents & POLLERR) && ReadErrorQueue(probe, reply)) return true;
        if ((pfd.revents & POLLIN) && ReadAnswers(probe, data, reply)) return true;
    }
}

/// Reads what is queued on the socket; true once a packet answers `probe`. Anything else (a foreign
/// packet, or a reply that does not bring the request's data back with its token) is dropped as if it
/// never came, so a forged reply leaves the probe waiting until its time-out.
bool IcmpSocketHandle::ReadAnswers(const EchoProbe& probe, std::span<const std::uint8_t> data, IcmpEchoReply& reply) {
    for (;;) {
        sockaddr_in from{};
        alignas(cmsghdr) char control[128];
        iovec iov{m_buffer.get(), BufferSize};
        msghdr msg{&from, sizeof from, &iov, 1, control, sizeof control, 0};
        ssize_t n = recvmsg(m_fd, &msg, 0);
        if (n < 0) {
            // A datagram socket reports a pending ICMP error once through recv as well; the error
            // queue carries the details, so go on reading.
            if (errno == EINTR || (!IsRaw() && errno != EAGAIN && errno != EWOULDBLOCK)) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return false;
            throw EIcmpEchoError(std::string("receiving from the ICMP socket failed: ") + std::strerror(errno));
        }
        std::span<const std::uint8_t> packet(m_buffer.get(), static_cast<std::size_t>(n));
        EchoMatch m = MatchEchoAnswer(packet, IsRaw(), probe, data, from.sin_addr.s_addr);
        if (!m.Matches) continue;
        SetRoundTrip(reply, m_sent);
        reply.Address = m.Responder;
        reply.Status = m.Status;
        reply.DataSize = m.DataSize;
        reply.Options = m.Options;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != IPPROTO_IP) continue;
            if (c->cmsg_type == IP_TTL)
                reply.Options.Ttl = static_cast<std::uint8_t>(*reinterpret_cast<int*>(CMSG_DATA(c)));
            if (c->cmsg_type == IP_TOS) reply.Options.Tos = *CMSG_DATA(c);
        }
        return true;
    }
}

/// A datagram socket receives ICMP errors about its requests on the error queue, with the quoted
/// request as data and the reporting host as the offender.
bool IcmpSocketHandle::ReadErrorQueue(const EchoProbe& probe, IcmpEchoReply& reply) {
    for (;;) {
        sockaddr_in target{};
        alignas(cmsghdr) char control[256];
        iovec iov{m_buffer.get(), BufferSize};
        msghdr msg{&target, sizeof target, &iov, 1, control, sizeof control, 0};
        ssize_t n = recvmsg(m_fd, &msg, MSG_ERRQUEUE);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        std::span<const std::uint8_t> quoted(m_buffer.get(), static_cast<std::size_t>(n));
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR) continue;
            auto* ee = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
            if (ee->ee_origin != SO_EE_ORIGIN_ICMP || target.sin_addr.s_addr != probe.Destination) continue;
            if (!IsOurRequest(quoted, probe)) continue;
            std::uint32_t status = IcmpErrorStatus(ee->ee_type, ee->ee_code);
            if (status == IpStatus::Success) continue;
            SetRoundTrip(reply, m_sent);
            reply.Address = reinterpret_cast<const sockaddr_in*>(SO_EE_OFFENDER(ee))->sin_addr.s_addr;
            reply.Status = status;
            return true;
        }
    }
}

void IcmpSocketHandle::Drain() {
    for (;;) {
        if (recv(m_fd, m_buffer.get(), BufferSize, MSG_DONTWAIT) >= 0 || errno == EINTR) continue;
        // A datagram socket reports a pending error once before its queue is empty.
        if (IsRaw() || errno == EAGAIN || errno == EWOULDBLOCK) break;
    }
    while (!IsRaw() && (recv(m_fd, m_buffer.get(), BufferSize, MSG_DONTWAIT | MSG_ERRQUEUE) >= 0 || errno == EINTR)) {
    }
}

std::mutex& OpenerLock() {
    static std::mutex lock;
    return lock;
}

IcmpEchoOpener& Opener() {
    static IcmpEchoOpener opener;
    return opener;
}

/// Binds a datagram ICMP socket to a random identifier: the kernel's own choice counts up across the
/// host and is easy to guess. A few taken ones in a row leave the choice to the kernel after all.
bool BindRandomIdentifier(int fd) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    for (int attempt = 0; attempt < 8; ++attempt) {
        local.sin_port = htons(SystemRandom16());
        if (local.sin_port == 0) continue;
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0) return true;
        if (errno != EADDRINUSE) return false;
    }
    local.sin_port = 0;
    return bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
}

int OpenSocket(IcmpSocketKind kind) {
    int type = (kind == IcmpSocketKind::Raw ? SOCK_RAW : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC;
    return socket(AF_INET, type, IPPROTO_ICMP);
}

} // namespace

std::uint16_t ConfigureIcmpSocket(int fd, IcmpSocketKind kind) {
    if (kind == IcmpSocketKind::Raw) {
        // Only the types that can answer an echo request reach us; the flood of echo requests and other
        // messages of the host stays in the kernel.
        icmp_filter filter{~((1u << IcmpEchoReplyType) | (1u << IcmpDestUnreachType) | (1u << IcmpSourceQuenchType) |
                             (1u << IcmpTimeExceededType) | (1u << IcmpParamProblemType))};
        if (setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) != 0) {
            int err = errno;
            close(fd);
            throw EIcmpEchoError(std::string("cannot filter the raw ICMP socket: ") + std::strerror(err));
        }
        const std::uint16_t identifier = NextRawIdentifier();
        KeepOwnEchoReplies(fd, identifier, true);
        return identifier;
    }
    // The kernel writes the socket's port into the identifier of every request and hands this socket
    // only the answers carrying it; bind now so that the port is known before the first request.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    socklen_t len = sizeof local;
    if (!BindRandomIdentifier(fd) || getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        int err = errno;
        close(fd);
        throw EIcmpEchoError(std::string("cannot bind the ICMP socket: ") + std::strerror(err));
    }
    SetSocketInt(fd, IPPROTO_IP, IP_RECVERR, 1); // error answers arrive on the error queue
    SetSocketInt(fd, IPPROTO_IP, IP_RECVTTL, 1);
    SetSocketInt(fd, IPPROTO_IP, IP_RECVTOS, 1);
    return ntohs(local.sin_port);
}

void KeepOwnEchoReplies(int fd, std::uint16_t identifier, bool ipHeader) {
    const std::uint8_t replyType = ipHeader ? IcmpEchoReplyType : 129; // ICMPv6 echo reply
    sock_filter program[]{
        // X is where the ICMP message begins: past the IPv4 header (its length from the first byte), or 0.
        ipHeader ? sock_filter BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0)
                 : sock_filter BPF_STMT(BPF_LDX | BPF_W | BPF_IMM, 0),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),                 // the type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, replyType, 0, 2),  // not an echo reply: keep
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),                 // the identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, 0, 1), // another's: drop
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFFu),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    const sock_fprog filter{static_cast<unsigned short>(std::size(program)), program};
    setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter);
}

int OpenAnyIcmpSocketFd(IcmpSocketKind& kind) {
    int fd = OpenSocket(IcmpSocketKind::Datagram);
    kind = IcmpSocketKind::Datagram;
    if (fd >= 0) return fd;
    int dgramErr = errno;
    fd = OpenSocket(IcmpSocketKind::Raw);
    kind = IcmpSocketKind::Raw;
    if (fd >= 0) return fd;
    throw EIcmpEchoError(OpenFailureText(dgramErr, errno));
}

std::unique_ptr<IcmpEchoHandle> OpenIcmpSocket(IcmpSocketKind kind) {
    int fd = OpenSocket(kind);
    if (fd < 0) {
        throw EIcmpEchoError(std::string("cannot open a ") + (kind == IcmpSocketKind::Raw ? "raw" : "datagram") +
                             " ICMP socket: " + std::strerror(errno));
    }
    return std::make_unique<IcmpSocketHandle>(fd, kind);
}

std::unique_ptr<IcmpEchoHandle> IcmpCreateFile() {
    IcmpEchoOpener opener;
    {
        std::lock_guard<std::mutex> guard(OpenerLock());
        opener = Opener();
    }
    if (opener) return opener();
    IcmpSocketKind kind;
    int fd = OpenAnyIcmpSocketFd(kind);
    return std::make_unique<IcmpSocketHandle>(fd, kind);
}

void SetIcmpEchoOpener(IcmpEchoOpener opener) {
    std::lock_guard<std::mutex> guard(OpenerLock());
    Opener() = std::move(opener);
}

bool IsRefusedEchoDestination(std::uint32_t address) {
    std::uint32_t host = ntohl(address);
    return (host >> 24) == 0 || host == 0xffffffffu || (host >> 28) == 0xe;
}

std::vector<std::uint8_t> EchoPayload(const EchoProbe& probe, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> payload(data.begin(), data.end());
    StampEchoToken(payload, EchoToken(probe.Destination, probe.Identifier, probe.Sequence));
    return payload;
}

std::vector<std::uint8_t> BuildEchoRequest(const EchoProbe& probe, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> packet(IcmpHeaderSize + data.size());
    packet[0] = IcmpEchoRequestType;
    packet[4] = static_cast<std::uint8_t>(probe.Identifier >> 8);
    packet[5] = static_cast<std::uint8_t>(probe.Identifier);
    packet[6] = static_cast<std::uint8_t>(probe.Sequence >> 8);
    packet[7] = static_cast<std::uint8_t>(probe.Sequence);
    const std::vector<std::uint8_t> payload = EchoPayload(probe, data);
    std::copy(payload.begin(), payload.end(), packet.begin() + IcmpHeaderSize);
    std::uint16_t sum = InternetChecksum(packet);
    packet[2] = static_cast<std::uint8_t>(sum >> 8);
    packet[3] = static_cast<std::uint8_t>(sum);
    return packet;
}

EchoProbe PeekEchoAnswer(std::span<const std::uint8_t> packet, bool withIpHeader, std::uint32_t source) {
    EchoProbe none{};
    IpOptionInformation options;
    if (withIpHeader && !StripIpHeader(packet, source, options)) return none;
    if (packet.size() < IcmpHeaderSize) return none;
    if (packet[0] == IcmpEchoReplyType) return EchoProbe{source, Get16(packet, 4), Get16(packet, 6)};
    auto quote = packet.subspan(IcmpHeaderSize);
    if (quote.size() < IpHeaderMinSize || (quote[0] >> 4) != 4) return none;
    std::size_t ihl = (quote[0] & 0x0f) * 4u;
    if (ihl < IpHeaderMinSize || quote.size() < ihl + IcmpHeaderSize) return none;
    return EchoProbe{Get32(quote, 16), Get16(quote, ihl + 4), Get16(quote, ihl + 6)};
}

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        sum += Get16(bytes, i);
    if (bytes.size() % 2) sum += static_cast<std::uint32_t>(bytes.back()) << 8;
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

EchoMatch MatchEchoAnswer(std::span<const std::uint8_t> packet, bool withIpHeader, const EchoProbe& probe,
                          std::span<const std::uint8_t> data, std::uint32_t source) {
    EchoMatch none;
    IpOptionInformation options;
    if (withIpHeader && !StripIpHeader(packet, source, options)) return none;
    if (packet.size() < IcmpHeaderSize || InternetChecksum(packet) != 0) return none;
    EchoMatch m;
    if (packet[0] == IcmpEchoReplyType) {
        if (packet[1] != 0 || source != probe.Destination || !IsOurRequest(packet, probe, IcmpEchoReplyType) ||
            !std::ranges::equal(packet.subspan(IcmpHeaderSize), EchoPayload(probe, data))) {
            return none;
        }
        m.Matches = true;
        m.DataSize = static_cast<std::uint16_t>(packet.size() - IcmpHeaderSize);
    } else {
        m = MatchErrorAnswer(packet, probe);
    }
    m.Responder = source;
    m.Options = options;
    return m;
}

std::uint32_t SendErrorStatus(int err) {
    switch (err) {
    case ENETUNREACH:
        return IpStatus::DestNetUnreachable;
    case EHOSTUNREACH:
        return IpStatus::DestHostUnreachable;
    case EMSGSIZE:
        return IpStatus::PacketTooBig;
    default:
        return IpStatus::GeneralFailure;
    }
}
