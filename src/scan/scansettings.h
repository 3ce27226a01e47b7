// The [Scan] section of vkt.ini: whether a scan probes one site at a time or keeps many echo
// requests in flight, and how it paces them.
#pragma once

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

    bool Concurrent() const { return Parallel > 0; }
};

/// The most echo requests one scan keeps in flight: each carries its own 16-bit sequence number.
constexpr int MaxParallel = 65535;

/// Reads [Scan] of `iniFile`. A missing key, or a value that is not a number or is out of range, reads
/// as the default; Parallel above MaxParallel reads as MaxParallel.
TScanSettings ReadScanSettings(const std::string& iniFile);
