// ICMPv6 echo over Linux sockets: the IPv6 counterparts of icmpecho.h's packet building and matching, the
// socket opening (datagram where the system allows it, else raw) and an echo handle for one request at a
// time. Neither socket kind hands over the IPv6 header, and the kernel sets and checks the checksum.
#pragma once

#include "platform/icmpecho.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

/// What one ICMPv6 echo request is waiting for.
struct Echo6Probe {
    std::array<std::uint8_t, 16> Destination{};
    std::uint16_t Identifier = 0;
    std::uint16_t Sequence = 0;
};

/// The meaning of one received ICMPv6 message for a waiting request (the responder is its source).
struct Echo6Match {
    bool Matches = false;
    std::uint32_t Status = IpStatus::Success;
    std::uint16_t DataSize = 0;
};

/// The echo data a request for `probe` carries: `data` with the request's token over its last bytes.
std::vector<std::uint8_t> Echo6Payload(const Echo6Probe& probe, std::span<const std::uint8_t> data);
/// The ICMPv6 echo request for `probe` carrying `data` with its token; the checksum is the kernel's.
std::vector<std::uint8_t> BuildEcho6Request(const Echo6Probe& probe, std::span<const std::uint8_t> data);
/// Whether the ICMPv6 message `packet` from `source` answers `probe`: an echo reply from the destination
/// with our identifier and sequence bringing the whole data back, or an error (unreachable, too big, time
/// exceeded, parameter problem) quoting our request. Lengths are checked before any field is read.
Echo6Match MatchEcho6Answer(std::span<const std::uint8_t> packet, const Echo6Probe& probe,
                            std::span<const std::uint8_t> data, const std::array<std::uint8_t, 16>& source);
/// The request a received message may answer (all zero for anything else); MatchEcho6Answer decides.
Echo6Probe PeekEcho6Answer(std::span<const std::uint8_t> packet, const std::array<std::uint8_t, 16>& source);
/// The status an ICMPv6 error of `type` and `code` gives an echo request; Success for any other type.
std::uint32_t Icmp6ErrorStatus(std::uint8_t type, std::uint8_t code);

/// Opens an ICMPv6 socket, non-blocking: datagram where allowed, else raw; `kind` tells which. Raises
/// EIcmpEchoError saying why when neither opens.
int OpenAnyIcmp6SocketFd(IcmpSocketKind& kind);
/// Sets an open ICMPv6 socket up for echo requests and returns the identifier its requests carry.
/// Closes the descriptor and raises EIcmpEchoError when it cannot.
std::uint16_t ConfigureIcmp6Socket(int fd, IcmpSocketKind kind);
/// An echo handle for IPv6 requests (SendEcho6). Raises EIcmpEchoError saying why when no ICMPv6 socket
/// can be had.
std::unique_ptr<IcmpEchoHandle> IcmpCreateFile6();
