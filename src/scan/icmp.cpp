// The echo probe object and its worker thread.
#include "scan/icmp.h"

#include "platform/icmp6echo.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cerrno>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

const char* const IcmpEchoText = "VKT reachability probe - echo data follows...";
static_assert(std::char_traits<char>::length("VKT reachability probe - echo data follows...") == 45);

namespace {

/// Error numbers of a failed host lookup, as the socket layer reports them.
int LookupError(int gaiError) {
    switch (gaiError) {
    case EAI_AGAIN:
        return 11002; // temporary failure: try again
    case EAI_FAIL:
        return 11003; // non-recoverable failure
    case EAI_NODATA:
        return 11004; // the name exists but has no address
    default:
        return 11001; // host not found
    }
}

/// Request data: the echo text, cut to `size` or followed by blanks up to it.
std::vector<std::uint8_t> EchoData(int size) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size), ' ');
    std::string_view text(IcmpEchoText);
    std::copy_n(text.begin(), std::min(text.size(), data.size()), data.begin());
    return data;
}

/// Why a probe got no echo reply: an ICMP error that answered it, a name that did not resolve, the
/// time-out, or a destination that could not be sent to.
ProbeCause CauseOfNoAnswer(const TICMP& probe, int replies) {
    if (replies > 0) return CauseOfEchoStatus(probe.Reply.Status);
    if (probe.LastError == TICMP::ConnRefused) return ProbeCause::Refused;
    if (probe.LastError == TICMP::ConnTimedOut) return ProbeCause::ConnectTimedOut;
    if (!probe.Resolved)
        return probe.ResolveError == 11002 || probe.ResolveError == 11003 ? ProbeCause::NameTemporary
                                                                          : ProbeCause::NameNotFound;
    return probe.LastError == static_cast<int>(IpStatus::ReqTimedOut) ? ProbeCause::TimedOut : ProbeCause::SendError;
}

} // namespace

void IcmpDebugLine(const char* text) {
    static const bool enabled = std::getenv("VKT_DEBUG") != nullptr;
    if (enabled) std::fprintf(stderr, "%s\n", text);
}

TICMP::TICMP() {
    // The echo operations are part of the program, so there is no library to bind: only the handle
    // can fail to open.
    try {
        m_handle = IcmpCreateFile();
    } catch (const Exception& e) {
        throw TICMPException("Unable to get ping handle: " + e.Message());
    }
}

TICMP::~TICMP() = default;

void TICMP::SetAddress(const std::string& address) {
    if (address == Address) return;
    Address = address;
    Resolved = false;
}

bool TICMP::LookUp(const std::string& name, int family) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (rc != 0 || found == nullptr) {
        LastError = ResolveError = LookupError(rc);
        return false;
    }
    ResolveError = 0;
    if (family == AF_INET6)
        m_destination = IpAddress::V6(reinterpret_cast<sockaddr_in6*>(found->ai_addr)->sin6_addr.s6_addr);
    else
        m_destination = IpAddress::V4(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    HostName = found->ai_canonname ? found->ai_canonname : name;
    freeaddrinfo(found);
    return true;
}

void TICMP::ResolveAddress() {
    m_where = ProbeAddress::Parse(Address);
    m_destination = {};
    m_address = INADDR_NONE;
    if (!m_where.Literal.Empty()) {
        m_destination = m_where.Literal;
        HostName = Address;
    } else if (Family == AddressFamily::V6) {
        if (!LookUp(m_where.Host, AF_INET6)) return;
    } else if (!LookUp(m_where.Host, AF_INET)) {
        // Auto: a name without an IPv4 address is probed on its IPv6 one.
        const bool missing = ResolveError == 11001 || ResolveError == 11004;
        if (Family != AddressFamily::Auto || !missing || !LookUp(m_where.Host, AF_INET6)) return;
    }
    if (m_destination.IsV4()) m_address = m_destination.V4Value();
    HostIP = m_destination.Text();
    Resolved = true;
}

int TICMP::Connect() {
    sockaddr_storage to{};
    socklen_t toLen = 0;
    if (m_destination.IsV6()) {
        auto& six = reinterpret_cast<sockaddr_in6&>(to);
        six.sin6_family = AF_INET6;
        six.sin6_port = htons(static_cast<std::uint16_t>(m_where.Port));
        std::copy(m_destination.Bytes.begin(), m_destination.Bytes.end(), six.sin6_addr.s6_addr);
        toLen = sizeof six;
    } else {
        auto& four = reinterpret_cast<sockaddr_in&>(to);
        four.sin_family = AF_INET;
        four.sin_port = htons(static_cast<std::uint16_t>(m_where.Port));
        four.sin_addr.s_addr = m_address;
        toLen = sizeof four;
    }
    const int fd = socket(to.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) throw TICMPException(std::string("Unable to open a TCP socket: ") + std::strerror(errno));
    const auto sent = std::chrono::steady_clock::now();
    int err = connect(fd, reinterpret_cast<sockaddr*>(&to), toLen) == 0 ? 0 : errno;
    if (err == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int n;
        while ((n = poll(&p, 1, Timeout)) < 0 && errno == EINTR) {
        }
        socklen_t len = sizeof err;
        if (n <= 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = ETIMEDOUT;
    }
    close(fd);
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - sent);
    Reply.RoundTripTimeUs = static_cast<std::uint64_t>(us.count());
    Reply.RoundTripTime = static_cast<std::uint32_t>(us.count() / 1000);
    Reply.Address = m_address;
    Reply.Address6 = m_destination.Bytes;
    Reply.Status = IpStatus::Success;
    switch (err) {
    case 0:
        return 1;
    case ECONNREFUSED:
        LastError = ConnRefused;
        return 0;
    case ETIMEDOUT:
        LastError = ConnTimedOut;
        return 0;
    case EHOSTUNREACH:
    case ENETUNREACH:
        Reply.Status = err == EHOSTUNREACH ? IpStatus::DestHostUnreachable : IpStatus::DestNetUnreachable;
        return 1; // answered, but by a router saying the host cannot be reached
    default:
        LastError = static_cast<int>(IpStatus::GeneralFailure);
        return 0;
    }
}

int TICMP::Ping6(std::span<const std::uint8_t> data, const IpOptionInformation& options) {
    if (!m_handle6) {
        try {
            m_handle6 = IcmpCreateFile6();
        } catch (const Exception& e) {
            throw TICMPException("Unable to get ping handle: " + e.Message());
        }
    }
    std::uint32_t error = 0;
    const unsigned replies =
        m_handle6->SendEcho6(m_destination.Bytes, data, options, std::chrono::milliseconds(Timeout), Reply, error);
    LastError = static_cast<int>(error);
    return static_cast<int>(replies);
}

int TICMP::Ping() {
    LastError = 0;
    if (!Resolved) ResolveAddress();
    if (m_destination.Empty()) {
        LastError = 11018;
        return 0;
    }
    if (m_where.Tcp()) return Connect();
    if (Size < 0) throw TICMPException("Invalid echo data size " + std::to_string(Size));
    std::vector<std::uint8_t> data = EchoData(Size);
    IpOptionInformation options{TTL, 0, Flags};
    if (m_destination.IsV6()) return Ping6(data, options);
    std::uint32_t error = 0;
    unsigned replies = m_handle->SendEcho(m_address, data, options, std::chrono::milliseconds(Timeout), Reply, error);
    LastError = static_cast<int>(error);
    return static_cast<int>(replies);
}

TPingThread::TPingThread(const std::string& address, std::function<void()> onFinished, AddressFamily family)
    : m_address(address), m_onFinished(std::move(onFinished)) {
    IcmpDebugLine("Ping Thread Create.");
    m_probe = std::make_unique<TICMP>();
    m_probe->Family = family;
    m_thread = std::thread([this] { Execute(); });
    IcmpDebugLine("Ping Thread started.");
}

TPingThread::~TPingThread() {
    IcmpDebugLine("Ping Thread: Free Thread");
    if (m_thread.joinable()) m_thread.join();
}

void TPingThread::Execute() {
    try {
        IcmpDebugLine("Ping Thread: Setting address");
        m_probe->SetAddress(m_address);
        IcmpDebugLine("Ping Thread: Pinging address");
        // An ICMP error (a router saying the host is unreachable) answers the request but says the site
        // is down: only an echo reply makes the site answer.
        const int replies = m_probe->Ping();
        if (replies == 0 || m_probe->Reply.Status != IpStatus::Success) {
            m_cause = CauseOfNoAnswer(*m_probe, replies);
            m_reporter = replies > 0 ? m_probe->Reply.Address : 0;
            if (replies > 0 && m_probe->Destination().IsV6()) {
                m_reporter = 0;
                m_reporter6 = IpAddress::V6(m_probe->Reply.Address6.data()).Text();
            }
            m_status.store(NoAnswer, std::memory_order_release);
        } else {
            m_rtt = static_cast<int>(m_probe->Reply.RoundTripTime);
            m_rttUs = static_cast<long long>(m_probe->Reply.RoundTripTimeUs);
            m_status.store(Answered, std::memory_order_release);
        }
        IcmpDebugLine("Ping Thread: Finished pinging");
    } catch (const std::exception& e) {
        m_cause = ProbeCause::SendError; // the socket broke: as the engine reports a socket it lost
        m_errorText = e.what();
        m_error.store(true, std::memory_order_release);
    }
    m_running.store(false, std::memory_order_release);
    if (m_onFinished) m_onFinished();
}
