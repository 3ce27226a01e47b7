// The echo probe: TICMP resolves an address and sends one echo request (ICMP or ICMPv6), or makes one
// TCP connect for a "tcp://host:port" address; TPingThread runs one probe away from the user-interface
// thread.
#pragma once

#include "platform/errors.h"
#include "platform/icmpecho.h"
#include "platform/ipaddress.h"
#include "platform/probeaddress.h"
#include "scan/siteresult.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

/// Raised when the echo object cannot be set up.
class TICMPException : public Exception {
public:
    using Exception::Exception;
};

/// The fixed text at the start of every request's echo data (45 characters).
extern const char* const IcmpEchoText;

/// One echo object per probe: an open echo handle, the address to probe and the last result.
class TICMP {
public:
    /// Opens the echo handle; raises TICMPException "Unable to get ping handle: <why>" when it cannot.
    TICMP();
    ~TICMP();
    TICMP(const TICMP&) = delete;
    TICMP& operator=(const TICMP&) = delete;

    /// Stores `address` and clears Resolved when it differs from Address (exact comparison).
    void SetAddress(const std::string& address);
    /// Resolves Address: an IPv4 or IPv6 literal is taken as it is, a host name is looked up for Family
    /// (Auto: its IPv4 address, else its IPv6 one). On failure LastError tells why and Resolved stays false.
    void ResolveAddress();
    /// Sends one echo request to Address. Returns the number of answers (0 = none) and fills Reply.
    /// An unresolvable or refused destination sends nothing, returns 0 and sets LastError 11018. A TCP
    /// address is connected to instead: 1 when the connection is accepted, else 0 with LastError
    /// ConnRefused or ConnTimedOut (or the unreachable status).
    int Ping();

    /// LastError of a TCP connect that was refused, or not accepted within Timeout.
    static constexpr int ConnRefused = 10061;
    static constexpr int ConnTimedOut = 10060;
    /// Which family a name is probed on (V4 or V6 for each half of a site probed on both).
    AddressFamily Family = AddressFamily::Auto;
    /// The address resolved, of either family.
    const IpAddress& Destination() const { return m_destination; }

    IcmpEchoReply Reply{};
    std::string Address;
    std::string HostName;
    std::string HostIP;
    int Size = 56;
    int Timeout = 4000; ///< milliseconds
    std::uint8_t TTL = 64;
    std::uint8_t Flags = 0;
    int LastError = 0;
    /// Why the last lookup failed (11001 not found, 11002 try again, 11003 failed for good, 11004 no
    /// address); 0 after one that succeeded. Ping's 11018 alone does not tell a missing name from a
    /// lookup that may work next time.
    int ResolveError = 0;
    bool Resolved = false;

private:
    bool LookUp(const std::string& name, int family);
    int Connect();
    int Ping6(std::span<const std::uint8_t> data, const IpOptionInformation& options);

    std::unique_ptr<IcmpEchoHandle> m_handle;
    std::unique_ptr<IcmpEchoHandle> m_handle6; ///< opened for the first IPv6 destination
    std::uint32_t m_address = 0xffffffffu;     ///< network order; all ones while not resolvable
    IpAddress m_destination;
    ProbeAddress m_where;
};

/// Runs one probe on its own thread. The creator polls Running()/Failed(), reads the results once the
/// worker has finished, and destroys it; destruction waits for the thread to end.
class TPingThread {
public:
    /// Status values.
    static constexpr int NotFinished = 0;
    static constexpr int Answered = 1;
    static constexpr int NoAnswer = 50;

    /// Creates the probe (TICMPException when it cannot) and starts the worker; `onFinished`, when
    /// given, is called on the worker's thread after the running flag has been cleared.
    explicit TPingThread(const std::string& address, std::function<void()> onFinished = {},
                         AddressFamily family = AddressFamily::Auto);
    ~TPingThread();
    TPingThread(const TPingThread&) = delete;
    TPingThread& operator=(const TPingThread&) = delete;

    int Status() const { return m_status.load(std::memory_order_acquire); }
    bool Running() const { return m_running.load(std::memory_order_acquire); }
    bool Failed() const { return m_error.load(std::memory_order_acquire); }
    /// Valid once Failed() is true.
    const std::string& ErrorText() const { return m_errorText; }
    /// Milliseconds; valid once Status() is Answered.
    int RoundTripTime() const { return m_rtt; }
    /// The same in microseconds.
    long long RoundTripTimeUs() const { return m_rttUs; }
    /// The probe's last error (an IpStatus code, 11018 for an unresolvable address); valid once the
    /// worker has finished.
    int LastError() const { return m_probe->LastError; }
    /// Why the site did not answer, in the words both engines use; valid once the worker has finished.
    ProbeCause Cause() const { return m_cause; }
    /// The router that answered with an ICMP error (network order), 0 when none did.
    std::uint32_t Reporter() const { return m_reporter; }
    /// The same for an IPv6 router, as text; empty when none did.
    const std::string& Reporter6() const { return m_reporter6; }
    /// The address probed, as text; empty when none was found. Valid once the worker has finished.
    std::string Probed() const { return m_probe->Destination().Text(); }

private:
    void Execute();

    std::string m_address;
    std::unique_ptr<TICMP> m_probe;
    std::function<void()> m_onFinished;
    std::string m_errorText;
    int m_rtt = 0;
    long long m_rttUs = 0;
    ProbeCause m_cause = ProbeCause::None;
    std::uint32_t m_reporter = 0;
    std::string m_reporter6;
    std::atomic<int> m_status{NotFinished};
    std::atomic<bool> m_error{false};
    std::atomic<bool> m_running{true};
    std::thread m_thread;
};

/// Writes a diagnostic line of the probe to stderr when VKT_DEBUG is set.
void IcmpDebugLine(const char* text);
