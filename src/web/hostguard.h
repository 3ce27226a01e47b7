// Which Host a request may name: a browser tricked by a hostile name that resolves to this machine
// (DNS rebinding) sends that name as Host, so only this machine's own names and addresses, and
// the names an administrator lists for a reverse proxy, get an answer.
#pragma once

#include <mutex>
#include <string>
#include <vector>

class THostGuard {
public:
    /// Learns this machine's name (with and without its domain) and adds the names of `extra`
    /// (comma-separated, as in `[Web] Hosts`).
    void Load(const std::string& extra);
    /// Whether a Host header value names this machine: "localhost", a loopback address, an address
    /// of one of its interfaces, its name or a listed name; the port is not looked at.
    bool Accepts(const std::string& hostHeader) const;

private:
    bool KnownName(const std::string& host) const;
    bool IsCanonicalName(const std::string& host) const;

    std::vector<std::string> m_names; // lower case, without trailing dot
    std::string m_hostName;
    // The resolver is asked for the fully qualified name only when a request first needs it, so a
    // slow resolver never holds the start.
    mutable std::once_flag m_canonicalOnce;
    mutable std::string m_canonical;
};
