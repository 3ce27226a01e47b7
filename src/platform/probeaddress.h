// What a site's address asks to be probed: an ICMP echo to a literal or a name, or a TCP connect
// ("tcp://host:port"), and which address families a name is probed on.
#pragma once

#include "platform/ipaddress.h"

#include <string>

/// Which addresses of a site's name are probed. Auto: the IPv4 one whenever the name has one, else IPv6.
/// Both: one of each, and the site answers only when both do.
enum class AddressFamily { Auto, V4, V6, Both };

/// Reads "auto", "v4", "v6" or "both" (letters in any case, blanks around ignored); false for anything else.
bool ParseAddressFamily(const std::string& text, AddressFamily& family);
const char* AddressFamilyText(AddressFamily family);

struct ProbeAddress {
    /// The host to probe: a name or an address literal (brackets of an IPv6 literal removed).
    std::string Host;
    /// The TCP port of a "tcp://host:port" address; 0 for an echo.
    int Port = 0;
    /// Set when Host is an address literal: probed at once, without a lookup.
    IpAddress Literal;

    bool Tcp() const { return Port != 0; }
    /// Splits a site address. "tcp://" followed by anything but a host and a port 1-65535 keeps the whole
    /// text as the host, which no lookup finds.
    static ProbeAddress Parse(const std::string& address);
};
