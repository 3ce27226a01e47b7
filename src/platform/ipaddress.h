// An IPv4 or IPv6 address as the probes carry it: the family and the address bytes in network order.
#pragma once

#include <array>
#include <cstdint>
#include <string>

struct IpAddress {
    /// AF_INET or AF_INET6; 0 for no address.
    int Family = 0;
    /// The address in network order: the first 4 bytes for IPv4, all 16 for IPv6.
    std::array<std::uint8_t, 16> Bytes{};

    static IpAddress V4(std::uint32_t networkOrder);
    static IpAddress V6(const std::uint8_t* bytes16);
    /// The IPv4 address in network order (0 for IPv6 or none).
    std::uint32_t V4Value() const;
    bool IsV4() const;
    bool IsV6() const;
    bool Empty() const { return Family == 0; }
    /// Dotted IPv4 or IPv6 text; empty for none.
    std::string Text() const;
    /// "v4" or "v6"; empty for none.
    const char* FamilyName() const;
    bool operator==(const IpAddress&) const = default;
};

/// Reads an address literal: dotted IPv4 the way inet_addr(3) reads it (so 255.255.255.255 is taken for a
/// name, as it always was), or IPv6 text, optionally in brackets. False for anything else (a host name).
bool ParseIpLiteral(const std::string& text, IpAddress& address);
