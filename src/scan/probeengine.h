// The scan's probes, all at once: ICMP sockets (one per 65,536 requests in flight, and one ICMPv6 socket
// once an IPv6 site is due), up to Parallel echo requests or TCP connects in flight paced by SendInterval,
// names resolved concurrently, each site's result reported as soon as it is known.
#pragma once

#include "platform/clock.h"
#include "scan/scansettings.h"
#include "scan/siteresult.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class ProbeEngine {
public:
    /// Called on the engine's thread with the index of a finished site and its result (Code empty).
    using Finished = std::function<void(std::size_t index, SiteResult result)>;

    /// Each echo waits this long for its answer.
    static constexpr std::chrono::milliseconds EchoTimeout{4000};
    /// A name whose lookup has not ended after this counts as not answering.
    static constexpr std::chrono::milliseconds LookupGuard{21000};
    /// Echo data bytes of each request.
    static constexpr std::size_t EchoSize = 56;
    /// Name lookups in flight at once.
    static constexpr std::size_t ConcurrentLookups = 256;

    /// `clock`'s monotonic face times the echoes, the pacing and the lookup guard: the operating
    /// system's unless a test brings one it advances.
    explicit ProbeEngine(const TScanSettings& settings, const Clock& clock = OwnClock())
        : m_settings(settings), m_clock(clock) {}

    /// Probes every address and returns once each one's result has been reported through `finished`.
    /// When no ICMP socket can be had every site fails at once with the reason in ErrorText. Setting
    /// `stop` ends the run early (results not yet reported are dropped). `families` chooses the address
    /// family of each site by index (the settings' Family for the sites beyond it).
    void Run(const std::vector<std::string>& addresses, const Finished& finished,
             const std::atomic<bool>* stop = nullptr, const std::vector<AddressFamily>& families = {});

private:
    static const Clock& OwnClock();
    TScanSettings m_settings;
    const Clock& m_clock;
};
