// The echo probe object and its worker thread.
#include "daemon/icmp.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <netdb.h>
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

void TICMP::ResolveAddress() {
    m_address = inet_addr(Address.c_str());
    if (m_address != INADDR_NONE) {
        HostName = Address;
    } else {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_flags = AI_CANONNAME;
        addrinfo* found = nullptr;
        int rc = getaddrinfo(Address.c_str(), nullptr, &hints, &found);
        if (rc != 0 || found == nullptr) {
            LastError = ResolveError = LookupError(rc);
            return;
        }
        ResolveError = 0;
        m_address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
        HostName = found->ai_canonname ? found->ai_canonname : Address;
        freeaddrinfo(found);
    }
    in_addr a{m_address};
    char text[INET_ADDRSTRLEN];
    HostIP = inet_ntop(AF_INET, &a, text, sizeof text);
    Resolved = true;
}

int TICMP::Ping() {
    LastError = 0;
    if (!Resolved) ResolveAddress();
    if (m_address == INADDR_NONE) {
        LastError = 11018;
        return 0;
    }
    if (Size < 0) throw TICMPException("Invalid echo data size " + std::to_string(Size));
    std::vector<std::uint8_t> data = EchoData(Size);
    IpOptionInformation options{TTL, 0, Flags};
    std::uint32_t error = 0;
    unsigned replies = m_handle->SendEcho(m_address, data, options, std::chrono::milliseconds(Timeout), Reply, error);
    LastError = static_cast<int>(error);
    return static_cast<int>(replies);
}

TPingThread::TPingThread(const std::string& address, std::function<void()> onFinished)
    : m_address(address), m_onFinished(std::move(onFinished)) {
    IcmpDebugLine("Ping Thread Create.");
    m_probe = std::make_unique<TICMP>();
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
