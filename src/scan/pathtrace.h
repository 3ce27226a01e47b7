// Where the path to a site ends: echo requests with time-to-live 1 to 30 sent at once from an ICMP
// socket of the scan's own kind; each router on the way answers the request whose time-to-live runs
// out at it, the site itself answers the rest. The hops that answered, with their round-trip times,
// and the last of them say where a failed site's path breaks.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// One hop: the time-to-live that ended there, who answered (empty: nobody within the time-out) and
/// the round-trip time of that answer.
struct PathHop {
    int Ttl = 0;
    std::string Address;
    int RttMs = -1;
};

struct PathTraceResult {
    std::string Target; ///< the address traced, as given
    /// Time-to-live 1 on, up to the site's own answer, or to the hop after the last that answered.
    std::vector<PathHop> Hops;
    bool Reached = false;  ///< the site itself answered
    std::string ErrorText; ///< set when no trace could be made (no socket, no address): the reason

    /// The last hop that answered; null when none did.
    const PathHop* LastAnswered() const;
    /// "192.0.2.7 (hop 2)", or "no hop answered".
    std::string PathEnd() const;
    /// {"target", "reached", "last_hop", "last_address", "hops": [{"ttl", "address", "rtt_ms"}]}.
    std::string Json() const;
};

class PathTrace {
public:
    static constexpr int MaxHops = 30;
    /// How long the trace waits for the answers of its requests, all sent at once.
    static constexpr std::chrono::milliseconds Timeout{2000};

    /// Traces the path to `address` (an IPv4 address or a name, looked up here). Blocks up to
    /// Timeout after the requests went out; meant for a thread of its own.
    static PathTraceResult Run(const std::string& address, int maxHops = MaxHops,
                               std::chrono::milliseconds timeout = Timeout);
};
