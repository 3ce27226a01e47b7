// The scan's ICMP socket: non-blocking sends, and answers matched through the waiting requests.
#include "scan/echosocket.h"

#include "platform/icmp6echo.h"

#include <cerrno>
#include <utility>
#include <cstring>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

static_assert(AF_INET == 2);

namespace {

constexpr std::size_t BufferSize = 65536;
/// Replies of thousands of requests sent in one burst must not overflow the receive queue.
constexpr int ReceiveBuffer = 4 * 1024 * 1024;

bool IsRequestOf(std::span<const std::uint8_t> icmp, std::uint8_t type, std::uint16_t identifier) {
    return icmp.size() >= 8 && icmp[0] == type && icmp[1] == 0 && ((icmp[4] << 8) | icmp[5]) == identifier;
}

/// The address of a socket address of either family.
IpAddress AddressOf(const sockaddr_storage& a) {
    if (a.ss_family == AF_INET6) return IpAddress::V6(reinterpret_cast<const sockaddr_in6&>(a).sin6_addr.s6_addr);
    return IpAddress::V4(reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr);
}

} // namespace

EchoSocket::EchoSocket(std::vector<std::uint8_t> data, int family)
    : m_family(family), m_buffer(std::make_unique_for_overwrite<std::uint8_t[]>(BufferSize)), m_data(std::move(data)) {
    if (V6()) {
        m_fd = OpenAnyIcmp6SocketFd(m_kind);
        m_identifier = ConfigureIcmp6Socket(m_fd, m_kind);
    } else {
        m_fd = OpenAnyIcmpSocketFd(m_kind);
        m_identifier = ConfigureIcmpSocket(m_fd, m_kind);
    }
    // Root may pass the system's limit; otherwise take what the limit allows.
    if (setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &ReceiveBuffer, sizeof ReceiveBuffer) != 0)
        setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &ReceiveBuffer, sizeof ReceiveBuffer);
}

EchoSocket::~EchoSocket() {
    if (m_fd >= 0) close(m_fd);
}

int EchoSocket::Send(const IpAddress& destination, std::uint16_t sequence, int ttl) {
    if (ttl > 0) {
        const int level = V6() ? IPPROTO_IPV6 : IPPROTO_IP;
        const int option = V6() ? IPV6_UNICAST_HOPS : IP_TTL;
        if (setsockopt(m_fd, level, option, &ttl, sizeof ttl) != 0) return errno;
    }
    std::vector<std::uint8_t> packet;
    sockaddr_storage to{};
    socklen_t toLen = 0;
    if (V6()) {
        packet = BuildEcho6Request(Echo6Probe{destination.Bytes, m_identifier, sequence}, m_data);
        auto& six = reinterpret_cast<sockaddr_in6&>(to);
        six.sin6_family = AF_INET6;
        std::memcpy(six.sin6_addr.s6_addr, destination.Bytes.data(), 16);
        toLen = sizeof six;
    } else {
        packet = BuildEchoRequest(EchoProbe{destination.V4Value(), m_identifier, sequence}, m_data);
        auto& four = reinterpret_cast<sockaddr_in&>(to);
        four.sin_family = AF_INET;
        four.sin_addr.s_addr = destination.V4Value();
        toLen = sizeof four;
    }
    bool again = m_kind == IcmpSocketKind::Datagram;
    for (;;) {
        if (sendto(m_fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), toLen) >= 0) return 0;
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK || errno == EAGAIN) return EAGAIN;
        // A datagram socket hands the ICMP error of an earlier request (a router's "unreachable", a hop of
        // a path trace) to the next send, which then did not go out: this request is not at fault.
        if (!std::exchange(again, false) || errno == ENOBUFS) return errno;
    }
}

void EchoSocket::Receive(const WaitingFor& waiting, const std::function<void(const Answer&)>& answer) {
    if (m_kind == IcmpSocketKind::Datagram) ReadErrorQueue(waiting, answer);
    ReadAnswers(waiting, answer);
}

bool EchoSocket::Match6(std::span<const std::uint8_t> packet, const IpAddress& source, const WaitingFor& waiting,
                        Answer& answer) const {
    const Echo6Probe key = PeekEcho6Answer(packet, source.Bytes);
    IpAddress destination;
    if (key.Identifier != m_identifier || !waiting(key.Sequence, destination)) return false;
    const Echo6Match m =
        MatchEcho6Answer(packet, Echo6Probe{destination.Bytes, m_identifier, key.Sequence}, m_data, source.Bytes);
    answer = Answer{key.Sequence, source, m.Status};
    return m.Matches;
}

void EchoSocket::ReadAnswers(const WaitingFor& waiting, const std::function<void(const Answer&)>& answer) {
    const bool raw = m_kind == IcmpSocketKind::Raw;
    for (;;) {
        sockaddr_storage from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n = recvfrom(m_fd, m_buffer.get(), BufferSize, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            // A datagram socket reports a pending ICMP error once through recv as well; the error
            // queue carries it.
            if (errno == EINTR || !raw) {
                if (!raw) ReadErrorQueue(waiting, answer);
                continue;
            }
            throw EIcmpEchoError(std::string("receiving from the ICMP socket failed: ") + std::strerror(errno));
        }
        const std::span<const std::uint8_t> packet(m_buffer.get(), static_cast<std::size_t>(n));
        if (V6()) {
            Answer a;
            if (Match6(packet, AddressOf(from), waiting, a)) answer(a);
            continue;
        }
        const std::uint32_t source = reinterpret_cast<const sockaddr_in&>(from).sin_addr.s_addr;
        const EchoProbe key = PeekEchoAnswer(packet, raw, source);
        IpAddress destination;
        if (key.Identifier != m_identifier || !waiting(key.Sequence, destination)) continue;
        const EchoMatch m =
            MatchEchoAnswer(packet, raw, EchoProbe{destination.V4Value(), m_identifier, key.Sequence}, m_data, source);
        if (m.Matches) answer(Answer{key.Sequence, IpAddress::V4(m.Responder), m.Status});
    }
}

/// ICMP errors about our requests, with the quoted request as data and the reporting host as offender.
void EchoSocket::ReadErrorQueue(const WaitingFor& waiting, const std::function<void(const Answer&)>& answer) {
    const int level = V6() ? IPPROTO_IPV6 : IPPROTO_IP;
    const int type = V6() ? IPV6_RECVERR : IP_RECVERR;
    for (;;) {
        sockaddr_storage target{};
        alignas(cmsghdr) char control[256];
        iovec iov{m_buffer.get(), BufferSize};
        msghdr msg{&target, sizeof target, &iov, 1, control, sizeof control, 0};
        const ssize_t n = recvmsg(m_fd, &msg, MSG_ERRQUEUE);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        const std::span<const std::uint8_t> quoted(m_buffer.get(), static_cast<std::size_t>(n));
        if (!IsRequestOf(quoted, V6() ? 128 : 8, m_identifier)) continue;
        const auto sequence = static_cast<std::uint16_t>((quoted[6] << 8) | quoted[7]);
        IpAddress destination;
        if (!waiting(sequence, destination) || destination != AddressOf(target)) continue;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != level || c->cmsg_type != type) continue;
            const auto* ee = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
            if (ee->ee_origin != (V6() ? SO_EE_ORIGIN_ICMP6 : SO_EE_ORIGIN_ICMP)) continue;
            const std::uint32_t status =
                V6() ? Icmp6ErrorStatus(ee->ee_type, ee->ee_code) : IcmpErrorStatus(ee->ee_type, ee->ee_code);
            if (status == IpStatus::Success) continue;
            sockaddr_storage offender{};
            std::memcpy(&offender, SO_EE_OFFENDER(ee), V6() ? sizeof(sockaddr_in6) : sizeof(sockaddr_in));
            answer(Answer{sequence, AddressOf(offender), status});
            break;
        }
    }
}
