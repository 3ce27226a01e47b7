// ICMP echo over Linux sockets: open an echo handle, send one echo request and learn whether and how it
// was answered, close. The unprivileged datagram ICMP socket is used where the system allows it, else a raw one.
#pragma once

#include "platform/errors.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

/// Status of an echo, as kept in a reply and in the probe's last error (the codes of the echo API the
/// daemon was first written against, so that logged numbers keep their meaning).
namespace IpStatus {
constexpr std::uint32_t Success = 0;
constexpr std::uint32_t DestNetUnreachable = 11002;
constexpr std::uint32_t DestHostUnreachable = 11003;
constexpr std::uint32_t DestProtUnreachable = 11004;
constexpr std::uint32_t DestPortUnreachable = 11005;
constexpr std::uint32_t PacketTooBig = 11009;
constexpr std::uint32_t ReqTimedOut = 11010;
constexpr std::uint32_t BadRoute = 11012;
constexpr std::uint32_t TtlExpiredTransit = 11013;
constexpr std::uint32_t TtlExpiredReassem = 11014;
constexpr std::uint32_t ParamProblem = 11015;
constexpr std::uint32_t SourceQuench = 11016;
constexpr std::uint32_t BadDestination = 11018;
constexpr std::uint32_t GeneralFailure = 11050;
} // namespace IpStatus

/// IP header values of a request, or those read from a reply.
struct IpOptionInformation {
    std::uint8_t Ttl = 0;
    std::uint8_t Tos = 0;
    /// 0x02 asks for "don't fragment".
    std::uint8_t Flags = 0;
};
constexpr std::uint8_t IpFlagDontFragment = 0x02;

/// The first answer to an echo request.
struct IcmpEchoReply {
    /// The answering host (the target, or the router that reported an error), network order.
    std::uint32_t Address = 0;
    /// The answering host of an IPv6 echo (SendEcho6).
    std::array<std::uint8_t, 16> Address6{};
    /// IpStatus::Success for an echo reply, the matching error status for an ICMP error answer.
    std::uint32_t Status = 0;
    std::uint32_t RoundTripTime = 0;   ///< milliseconds
    std::uint64_t RoundTripTimeUs = 0; ///< the same measurement in microseconds (monotonic clock)
    std::uint16_t DataSize = 0;        ///< echo data bytes carried by the answer
    IpOptionInformation Options;       ///< TTL and TOS of the answer
};

/// The IpStatus of a send that failed with `err` (no route, too big, anything else).
std::uint32_t SendErrorStatus(int err);

/// An echo handle could not be opened; the message says why.
class EIcmpEchoError : public Exception {
public:
    using Exception::Exception;
};

/// One open echo handle. A handle sends one request at a time.
class IcmpEchoHandle {
public:
    virtual ~IcmpEchoHandle() = default;
    /// Sends one echo request carrying `data` (its last bytes replaced by the request's token, see
    /// EchoPayload) to `address` (IPv4, network order) and waits up to `timeout` for its answer. Returns
    /// the number of answers counted (0 or 1: the first answer ends the wait, so a duplicate is never
    /// counted twice) and fills `reply` with it. `lastError` gets IpStatus::Success when answered,
    /// otherwise why not (ReqTimedOut, BadDestination, a send failure...). Unusable arguments or a
    /// broken socket raise EIcmpEchoError.
    virtual unsigned SendEcho(std::uint32_t address, std::span<const std::uint8_t> data,
                              const IpOptionInformation& options, std::chrono::milliseconds timeout,
                              IcmpEchoReply& reply, std::uint32_t& lastError) = 0;
    /// The same for the IPv6 address `address`, on a handle from IcmpCreateFile6 (any other raises
    /// EIcmpEchoError). The answer's address is in reply.Address6.
    virtual unsigned SendEcho6(const std::array<std::uint8_t, 16>& address, std::span<const std::uint8_t> data,
                               const IpOptionInformation& options, std::chrono::milliseconds timeout,
                               IcmpEchoReply& reply, std::uint32_t& lastError);
};

/// Opens an echo handle through the installed opener (the socket one by default).
/// Raises EIcmpEchoError saying why when no ICMP socket can be had.
std::unique_ptr<IcmpEchoHandle> IcmpCreateFile();

using IcmpEchoOpener = std::function<std::unique_ptr<IcmpEchoHandle>()>;
/// Replaces how echo handles are opened (tests); an empty opener restores the sockets.
void SetIcmpEchoOpener(IcmpEchoOpener opener);

/// The socket kinds an echo handle may use.
enum class IcmpSocketKind { Datagram, Raw };
/// Opens a handle on one socket kind only; raises EIcmpEchoError when the kind cannot be opened.
std::unique_ptr<IcmpEchoHandle> OpenIcmpSocket(IcmpSocketKind kind);

/// Destinations an echo is never sent to: 0.0.0.0/8 (Linux would answer it from the local host),
/// the limited broadcast 255.255.255.255 and multicast 224.0.0.0/4. `address` in network order.
bool IsRefusedEchoDestination(std::uint32_t address);

/// What one echo request is waiting for.
struct EchoProbe {
    std::uint32_t Destination = 0; ///< network order
    std::uint16_t Identifier = 0;
    std::uint16_t Sequence = 0;
};

/// The meaning of one received packet for a waiting echo request.
struct EchoMatch {
    bool Matches = false;
    std::uint32_t Responder = 0; ///< source of the packet, network order
    std::uint32_t Status = IpStatus::Success;
    std::uint16_t DataSize = 0;
    IpOptionInformation Options;
};

/// Decodes a received ICMP packet (with its IP header on a raw socket, without it on a datagram socket,
/// where `source` tells the sender) and tells whether it answers `probe`, sent with `data`: an echo reply
/// from the destination with our identifier and sequence that brings back the request's whole data
/// (EchoPayload: the token included, nothing cut or added), or an ICMP error (unreachable, time exceeded,
/// parameter problem, source quench) quoting our request. Lengths are checked before any field is read;
/// a packet whose checksum is wrong never matches.
EchoMatch MatchEchoAnswer(std::span<const std::uint8_t> packet, bool withIpHeader, const EchoProbe& probe,
                          std::span<const std::uint8_t> data, std::uint32_t source = 0);

/// The echo data a request for `probe` carries: `data` with the request's token over its last bytes
/// (see echotoken.h). An echo reply must bring exactly these bytes back.
std::vector<std::uint8_t> EchoPayload(const EchoProbe& probe, std::span<const std::uint8_t> data);

/// The echo request for `probe` carrying `data` with its token (EchoPayload), checksum set.
std::vector<std::uint8_t> BuildEchoRequest(const EchoProbe& probe, std::span<const std::uint8_t> data);

/// The request a received packet may answer: for an echo reply its sender, identifier and sequence, for
/// an ICMP error the destination, identifier and sequence of the request it quotes; all zero for anything
/// else. Only a first look to find the waiting request: MatchEchoAnswer then decides.
EchoProbe PeekEchoAnswer(std::span<const std::uint8_t> packet, bool withIpHeader, std::uint32_t source = 0);

/// The status an ICMP error of `type` and `code` gives an echo request; Success for a type that does
/// not answer one (a redirect, say).
std::uint32_t IcmpErrorStatus(std::uint8_t type, std::uint8_t code);

/// Opens an ICMP socket, non-blocking: the datagram kind where the system allows it, else raw. `kind`
/// tells which. Raises EIcmpEchoError saying why (permission hints included) when neither opens.
int OpenAnyIcmpSocketFd(IcmpSocketKind& kind);
/// Sets an open ICMP socket up for echo requests (the raw kind's type filter; the datagram kind bound,
/// with errors on its error queue and TTL and TOS of answers) and returns the identifier its requests
/// carry. Closes the descriptor and raises EIcmpEchoError when it cannot.
std::uint16_t ConfigureIcmpSocket(int fd, IcmpSocketKind kind);
/// Has the kernel drop, before they are queued, the echo replies of other identifiers that a raw socket
/// sees: every ping of the host, other probes of ours on the same host included, which would otherwise
/// be copied to this process and crowd its own answers out of the receive queue. The messages of other
/// types that pass the type filter still arrive. `ipHeader`: the packets begin with the IPv4 header
/// (the IPv4 raw socket; an ICMPv6 raw socket gets the ICMPv6 message alone). Best effort: without the
/// filter, the identifier is still checked on each answer read.
void KeepOwnEchoReplies(int fd, std::uint16_t identifier, bool ipHeader);

/// The Internet checksum (one's complement sum of 16-bit words) over `bytes`.
std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes);
