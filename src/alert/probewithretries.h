// Retries before a silent site counts as not answering: one lost echo is no outage.
#pragma once

#include <functional>

/// Probes until it answers or `retries` further probes have failed too. `probeOnce` returns true with the
/// round-trip time in its argument when the site answered; so does this function. Any engine's single
/// probe fits, the one-at-a-time worker's as well as a probe of many in flight.
inline bool ProbeWithRetries(int retries, const std::function<bool(int& rtt)>& probeOnce, int& rtt) {
    for (int attempt = 0; attempt <= retries; ++attempt)
        if (probeOnce(rtt)) return true;
    return false;
}
