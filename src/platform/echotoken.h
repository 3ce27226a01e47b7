// What keeps a forged echo reply from counting. Identifiers and first sequence numbers come from the
// system's random source, and every request carries a token: SipHash-2-4, keyed with a secret drawn once
// per run, over the request's destination, identifier and sequence. A reply counts only when it brings
// the request's data back whole, token included, so a sender that cannot see our requests has to guess
// 64 bits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

/// Characters of the token in the echo data: 64 bits written as 11 characters of the URL-safe base64
/// alphabet, so that the data stays printable ASCII.
constexpr std::size_t EchoTokenChars = 11;

/// Fills `out` from the system's random source (getrandom).
void SystemRandomBytes(std::span<std::uint8_t> out);
/// A 16-bit value from the system's random source.
std::uint16_t SystemRandom16();
/// The identifier of the next raw-socket handle. Raw sockets see every ICMP packet of the host, so each
/// handle takes its own identifier; handles of this process count up from a random start, which keeps two
/// processes of ours apart as well.
std::uint16_t NextRawIdentifier();

/// The 16-bit field in network order at `at` of a packet.
inline std::uint16_t Get16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

/// SipHash-2-4 of `data` under the 128-bit `key`.
std::uint64_t SipHash24(const std::array<std::uint8_t, 16>& key, std::span<const std::uint8_t> data);

/// The token of the request to `destination` (IPv4, network order) with `identifier` and `sequence`,
/// under this run's secret.
std::uint64_t EchoToken(std::uint32_t destination, std::uint16_t identifier, std::uint16_t sequence);
/// The same for a request to the IPv6 address `destination`.
std::uint64_t EchoToken6(const std::array<std::uint8_t, 16>& destination, std::uint16_t identifier,
                         std::uint16_t sequence);

/// Writes the token over the last EchoTokenChars bytes of `data` (over all of it when shorter: a short
/// request carries as many of the token's characters as fit).
void StampEchoToken(std::span<std::uint8_t> data, std::uint64_t token);
