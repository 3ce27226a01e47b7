// The [Scan] section of vkt.ini: whether a scan probes one site at a time or keeps many echo
// requests in flight, and how it paces them.
#pragma once

#include "platform/probeaddress.h"

#include <string>

struct TScanSettings {
    /// 0: one site at a time. N: up to N echo requests in flight at once.
    int Parallel = 0;
    /// Microseconds between two echo requests of one scan (0: as fast as the socket takes them).
    int SendInterval = 100;
    /// Echo requests per site per scan; the site answers when at least one reply comes.
    int Echoes = 1;
    /// Milliseconds between the echo requests of one site.
    int EchoInterval = 1000;
    /// Which addresses of a name are probed (Family=auto|v4|v6|both); a site's row in table sitefamily
    /// chooses for that site. An IPv6 or IPv4 literal is probed as it is.
    AddressFamily Family = AddressFamily::Auto;
    /// Whether the Family key is given: only then is table sitefamily made and read.
    bool FamilyGiven = false;

    bool Concurrent() const { return Parallel > 0; }
};

/// The most echo requests one scan keeps in flight: each socket's identifier has 65,536 sequence
/// numbers, and the engine opens one socket more whenever the ones it has are all in flight.
constexpr int MaxParallel = 1000000;

/// Reads [Scan] of `iniFile`. A missing key, or a value that is not a number or is out of range, reads
/// as the default (Family: a value other than auto, v4, v6, both reads as auto); Parallel above MaxParallel reads as
/// MaxParallel.
TScanSettings ReadScanSettings(const std::string& iniFile);
