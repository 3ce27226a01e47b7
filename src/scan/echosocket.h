// One ICMP socket (or ICMPv6 socket) for a whole scan: echo requests sent without waiting, and every answer read from
// it reported with the identifier and sequence of the request it answers. Every request carries the same echo data with
// its own token; an echo reply counts only when it brings that back whole.
#pragma once

#include "platform/icmpecho.h"
#include "platform/ipaddress.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class EchoSocket {
public:
    /// One packet that answers a request of ours (matched on identifier, sequence and address).
    struct Answer {
        std::uint16_t Sequence = 0;
        IpAddress Responder;
        std::uint32_t Status = IpStatus::Success;
    };
    /// Tells whether a sequence number is waiting, and for which destination.
    using WaitingFor = std::function<bool(std::uint16_t sequence, IpAddress& destination)>;

    /// The datagram socket of `family` (AF_INET or AF_INET6) where the system allows it, else raw,
    /// sending `data` in every request; EIcmpEchoError saying why not.
    explicit EchoSocket(std::vector<std::uint8_t> data, int family = 2 /* AF_INET */);
    ~EchoSocket();
    EchoSocket(const EchoSocket&) = delete;
    EchoSocket& operator=(const EchoSocket&) = delete;

    int Fd() const { return m_fd; }
    /// Sends one request; 0 when sent, otherwise the errno of the send (EAGAIN: try again later).
    /// `ttl` > 0 gives it that time-to-live (hop limit on IPv6: a path trace), else the system's default.
    int Send(const IpAddress& destination, std::uint16_t sequence, int ttl = 0);
    /// Reads what is queued (answers and, on the datagram socket, its error queue) and calls `answer` for
    /// each packet that answers a waiting request. Foreign, malformed and unmatched packets are dropped.
    void Receive(const WaitingFor& waiting, const std::function<void(const Answer&)>& answer);

private:
    void ReadAnswers(const WaitingFor& waiting, const std::function<void(const Answer&)>& answer);
    void ReadErrorQueue(const WaitingFor& waiting, const std::function<void(const Answer&)>& answer);
    /// The answer an ICMPv6 message from `source` gives, when it answers a waiting request.
    bool Match6(std::span<const std::uint8_t> packet, const IpAddress& source, const WaitingFor& waiting,
                Answer& answer) const;
    bool V6() const { return m_family != 2; }

    int m_family;
    int m_fd = -1;
    IcmpSocketKind m_kind = IcmpSocketKind::Datagram;
    std::uint16_t m_identifier = 0;
    std::unique_ptr<std::uint8_t[]> m_buffer;
    std::vector<std::uint8_t> m_data;
};
