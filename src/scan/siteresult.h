// What one scan learnt about one site: whether it answered, loss and round-trip times over its echo
// requests, and why the last failed one failed.
#pragma once

#include <cstdint>
#include <string>

/// Why an echo request (or the site's probe as a whole) failed.
enum class ProbeCause {
    None,            ///< nothing failed
    TimedOut,        ///< no answer within the time-out
    Unreachable,     ///< a router (Reporter) said the host or network is unreachable
    TimeExceeded,    ///< the request's time-to-live ran out on the way (Reporter)
    NameNotFound,    ///< the name does not exist or has no IPv4 address
    NameTemporary,   ///< the name lookup failed for now (server failure, time-out, stuck lookup)
    SendError,       ///< no route, a refused destination, or another local send error
    NoPermission,    ///< no ICMP socket may be opened, or the system refused to send
    Refused,         ///< a TCP site's host refused the connection
    ConnectTimedOut, ///< a TCP site's connection was not accepted within the time-out
};

/// Words for a cause, as the debug output and the pages that show results print it.
const char* ProbeCauseText(ProbeCause cause);
/// The cause of an ICMP error answer of `status` (an IpStatus): a time-to-live run out, else unreachable.
ProbeCause CauseOfEchoStatus(std::uint32_t status);

struct SiteResult {
    std::string Code;
    std::string Address;
    /// The site's name from its row, for the pages that show results.
    std::string Name;
    /// At least one echo reply came back.
    bool Answered = false;
    int Sent = 0;     ///< echo requests of this scan (including those that could not be sent)
    int Received = 0; ///< echo replies among them
    /// Milliseconds over the replies (zero when none came); RttAvg is what LastRTT stores.
    int RttMin = 0, RttAvg = 0, RttMax = 0;
    long long RttAvgUs = 0; ///< the average in microseconds, for the pages that show it
    ProbeCause LastCause = ProbeCause::None;
    /// The router that reported the last failure (network order), 0 when none did.
    std::uint32_t Reporter = 0;
    /// The router that reported the last failure of an IPv6 probe, as text; empty when none did.
    std::string Reporter6;
    /// The address probed (numeric; two, blank-separated, when a site is probed on both families); empty
    /// when none was found.
    std::string Probed;
    /// The family that failed, "v4" or "v6", when a site probed on both families answered on the other
    /// one only; "v4 v6" when both failed.
    std::string FailedFamily;
    /// Set when the probe could not run at all (no ICMP socket): the reason.
    std::string ErrorText;
    /// What the site's row held in LastRTT as the scan read it, -1 when unknown.
    int StoredRtt = -1;

    /// Percentage of echo requests without a reply.
    double LossPercent() const { return Sent == 0 ? 100.0 : 100.0 * (Sent - Received) / Sent; }
};

/// The result of a site probed on both families: it answers only when both did; the counts add up, the
/// failure is the failed family's (named in FailedFamily).
SiteResult CombineFamilies(const SiteResult& v4, const SiteResult& v6);

/// "timed out", "unreachable (reported by 192.0.2.254)", ...: the cause with its reporting router.
std::string DescribeFailure(const SiteResult& result);
