// One probe of one site address at a time: the echo worker runs on its own thread while the message
// loop keeps serving, under a guard against a stuck name lookup.
#pragma once

#include "platform/probeaddress.h"
#include "scan/siteresult.h"

#include <string>

/// Probes one address with all it learnt: the round trip in microseconds as well, or why it failed. A
/// name is probed on `family` (both: once on each, answering only when both did).
SiteResult ProbeOnce(const std::string& address, AddressFamily family = AddressFamily::Auto);
/// One probe of a name on one family (Auto: IPv4 when it has such an address, else IPv6).
SiteResult ProbeFamily(const std::string& address, AddressFamily family);
/// Probes one address on `family`; true when it answered, with the round-trip time in `rtt` (ms).
bool PingSite(const std::string& address, AddressFamily family, int& rtt);
