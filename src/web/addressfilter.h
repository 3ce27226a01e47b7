// The [Web] Allow list: which peers may connect to the admin port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// The Allow list: IPv4 addresses and CIDR blocks.
class TAddressFilter {
public:
    /// Takes the list; entries that are neither an address nor a block are left out and named in
    /// `rejected`. A list that was given stays in force even when no entry of it was usable.
    void Parse(const std::string& list, std::vector<std::string>& rejected);
    /// Whether a peer with this dotted address may connect.
    bool Allows(const std::string& dotted) const;
    bool Active() const { return m_active; }

private:
    struct Block {
        std::uint32_t network, mask; // host order
    };
    std::vector<Block> m_blocks;
    bool m_active = false;
};

/// Parses a dotted IPv4 address into host order; false when it is not one.
bool ParseIPv4(const std::string& text, std::uint32_t& address);
