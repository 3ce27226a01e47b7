// What guards the admin port, all from section [Web] of vkt.ini: the address it listens on, the
// peers it accepts, and the HTTP Basic login every request must carry when one is set.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TWebGuardSettings {
    /// Listen: the local address to bind; empty for every address.
    std::string Listen;
    /// Allow: comma-separated addresses and CIDR blocks; empty lets anyone connect.
    std::string Allow;
    /// User and Password (a crypt(3) hash); with either set, every request needs the login.
    std::string User;
    std::string PasswordHash;

    bool LoginRequired() const { return !User.empty() || !PasswordHash.empty(); }
};

/// Reads section [Web] of `iniFile`; missing keys stay empty.
TWebGuardSettings ReadWebGuard(const std::string& iniFile);

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
/// Decodes standard base64 strictly: false on a character outside its alphabet, a wrong length,
/// padding anywhere but at the end, or padding bits that are not zero.
bool Base64Decode(const std::string& text, std::string& out);
/// Whether an Authorization header value ("Basic <base64 of user:password>") names `user` with a
/// password that `hash` (crypt(3)) accepts. An empty or unusable hash accepts nothing; credentials
/// that are not exactly base64 of user-id ":" password, or hold a control character, are refused.
bool BasicLoginMatches(const std::string& authorization, const std::string& user, const std::string& hash);
/// Whether `hash` is a hash crypt(3) can check passwords against.
bool UsableCryptHash(const std::string& hash);
