// The scan's ICMP socket: non-blocking sends, and answers matched through the waiting requests.
#include "scan/echosocket.h"

#include <cerrno>
#include <utility>
#include <cstring>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t BufferSize = 65536;
/// Replies of thousands of requests sent in one burst must not overflow the receive queue.
constexpr int ReceiveBuffer = 4 * 1024 * 1024;

bool IsRequestOf(std::span<const std::uint8_t> icmp, std::uint16_t identifier) {
    return icmp.size() >= 8 && icmp[0] == 8 && icmp[1] == 0 && ((icmp[4] << 8) | icmp[5]) == identifier;
}

} // namespace

EchoSocket::EchoSocket(std::vector<std::uint8_t> data)
    : m_buffer(std::make_unique_for_overwrite<std::uint8_t[]>(BufferSize)), m_data(std::move(data)) {
    m_fd = OpenAnyIcmpSocketFd(m_kind);
    m_identifier = ConfigureIcmpSocket(m_fd, m_kind);
    // Root may pass the system's limit; otherwise take what the limit allows.
    if (setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &ReceiveBuffer, sizeof ReceiveBuffer) != 0)
        setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &ReceiveBuffer, sizeof ReceiveBuffer);
}

EchoSocket::~EchoSocket() {
    if (m_fd >= 0) close(m_fd);
}

int EchoSocket::Send(std::uint32_t destination, std::uint16_t sequence, int ttl) {
    if (ttl > 0 && setsockopt(m_fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0) return errno;
    const std::vector<std::uint8_t> packet = BuildEchoRequest(EchoProbe{destination, m_identifier, sequence}, m_data);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    bool again = m_kind == IcmpSocketKind::Datagram;
    for (;;) {
        if (sendto(m_fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0) return 0;
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

void EchoSocket::ReadAnswers(const WaitingFor& waiting, const std::function<void(const Answer&)>& answer) {
    const bool raw = m_kind == IcmpSocketKind::Raw;
    for (;;) {
        sockaddr_in from{};
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
        const EchoProbe key = PeekEchoAnswer(packet, raw, from.sin_addr.s_addr);
        std::uint32_t destination = 0;
        if (key.Identifier != m_identifier || !waiting(key.Sequence, destination)) continue;
        const EchoMatch m = MatchEchoAnswer(packet, raw, EchoProbe{destination, m_identifier, key.Sequence}, m_data,
                                            from.sin_addr.s_addr);
        if (m.Matches) answer(Answer{key.Sequence, m.Responder, m.Status});
    }
}

/// ICMP errors about our requests, with the quoted request as data and the reporting host as offender.
void EchoSocket::ReadErrorQueue(const WaitingFor& waiting, const std::function<void(const Answer&)>& answer) {
    for (;;) {
        sockaddr_in target{};
        alignas(cmsghdr) char control[256];
        iovec iov{m_buffer.get(), BufferSize};
        msghdr msg{&target, sizeof target, &iov, 1, control, sizeof control, 0};
        const ssize_t n = recvmsg(m_fd, &msg, MSG_ERRQUEUE);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        const std::span<const std::uint8_t> quoted(m_buffer.get(), static_cast<std::size_t>(n));
        if (!IsRequestOf(quoted, m_identifier)) continue;
        const auto sequence = static_cast<std::uint16_t>((quoted[6] << 8) | quoted[7]);
        std::uint32_t destination = 0;
        if (!waiting(sequence, destination) || destination != target.sin_addr.s_addr) continue;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR) continue;
            const auto* ee = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
            if (ee->ee_origin != SO_EE_ORIGIN_ICMP) continue;
            const std::uint32_t status = IcmpErrorStatus(ee->ee_type, ee->ee_code);
            if (status == IpStatus::Success) continue;
            answer(Answer{sequence, reinterpret_cast<const sockaddr_in*>(SO_EE_OFFENDER(ee))->sin_addr.s_addr, status});
            break;
        }
    }
}
