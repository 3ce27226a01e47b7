// The path trace over one ICMP or ICMPv6 socket of its own, by the family of the address traced.
#include "scan/pathtrace.h"

#include "scan/echosocket.h"
#include "scan/siteresult.h"

#include "platform/echotoken.h"
#include "platform/json.h"
#include "platform/strutil.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>

namespace {

using Steady = std::chrono::steady_clock;

/// The address a trace goes to: a literal as it is, a name's IPv4 address, else its IPv6 one; false when
/// it has none.
bool Lookup(const std::string& address, IpAddress& out) {
    if (ParseIpLiteral(address, out)) return true;
    for (const int family : {AF_INET, AF_INET6}) {
        addrinfo hints{};
        hints.ai_family = family;
        addrinfo* found = nullptr;
        if (getaddrinfo(address.c_str(), nullptr, &hints, &found) != 0 || !found) continue;
        if (family == AF_INET)
            out = IpAddress::V4(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
        else
            out = IpAddress::V6(reinterpret_cast<const sockaddr_in6*>(found->ai_addr)->sin6_addr.s6_addr);
        freeaddrinfo(found);
        return true;
    }
    return false;
}

/// What came back for each time-to-live of one trace.
class HopBook {
public:
    HopBook(int maxHops, std::uint16_t firstSequence)
        : m_hops(static_cast<std::size_t>(maxHops)), m_first(firstSequence) {}

    std::uint16_t Sequence(int ttl) const { return static_cast<std::uint16_t>(m_first + ttl); }
    /// The time-to-live of a sequence number of ours, 0 for a foreign one.
    int TtlOf(std::uint16_t sequence) const {
        const int ttl = static_cast<std::uint16_t>(sequence - m_first);
        return ttl >= 1 && ttl <= static_cast<int>(m_hops.size()) ? ttl : 0;
    }
    void Sent(int ttl, Steady::time_point at) { Hop(ttl).Sent = at; }
    bool Waiting(int ttl) const { return !Hop(ttl).Answered; }

    void Answered(int ttl, const IpAddress& responder, bool final) {
        Entry& hop = Hop(ttl);
        hop.Answered = true;
        hop.Responder = responder;
        hop.Final = final;
        hop.RttMs =
            static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - hop.Sent).count());
    }

    /// Every hop up to the first final answer has answered: nothing more can come that matters.
    bool Complete() const {
        for (const Entry& hop : m_hops) {
            if (!hop.Answered) return false;
            if (hop.Final) return true;
        }
        return true;
    }

    void Fill(PathTraceResult& result, const IpAddress& target) const {
        int last = 0, end = static_cast<int>(m_hops.size());
        for (int ttl = 1; ttl <= end; ++ttl) {
            const Entry& hop = Hop(ttl);
            if (!hop.Answered) continue;
            last = ttl;
            if (hop.Final) {
                end = ttl;
                result.Reached = hop.Responder == target;
            }
        }
        const int shown = std::min(end, last + 1); // the hop after the last answer shows where silence begins
        for (int ttl = 1; ttl <= shown; ++ttl) {
            const Entry& hop = Hop(ttl);
            result.Hops.push_back(hop.Answered ? PathHop{ttl, hop.Responder.Text(), hop.RttMs} : PathHop{ttl, {}, -1});
        }
    }

private:
    struct Entry {
        Steady::time_point Sent;
        bool Answered = false, Final = false;
        IpAddress Responder;
        int RttMs = -1;
    };
    Entry& Hop(int ttl) { return m_hops[static_cast<std::size_t>(ttl - 1)]; }
    const Entry& Hop(int ttl) const { return m_hops[static_cast<std::size_t>(ttl - 1)]; }

    std::vector<Entry> m_hops;
    std::uint16_t m_first;
};

void Trace(EchoSocket& socket, const IpAddress& target, HopBook& book, int maxHops, std::chrono::milliseconds timeout) {
    for (int ttl = 1; ttl <= maxHops; ++ttl) {
        book.Sent(ttl, Steady::now());
        socket.Send(target, book.Sequence(ttl), ttl); // one that cannot go simply stays unanswered
    }
    const auto end = Steady::now() + timeout;
    while (!book.Complete()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Steady::now()).count();
        if (left <= 0) break;
        pollfd fd{socket.Fd(), POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left)) < 0 && errno != EINTR) break;
        socket.Receive(
            [&](std::uint16_t sequence, IpAddress& destination) {
                destination = target;
                const int ttl = book.TtlOf(sequence);
                return ttl > 0 && book.Waiting(ttl);
            },
            [&](const EchoSocket::Answer& a) {
                const bool passedOn = CauseOfEchoStatus(a.Status) == ProbeCause::TimeExceeded;
                book.Answered(book.TtlOf(a.Sequence), a.Responder.Empty() ? target : a.Responder, !passedOn);
            });
    }
}

} // namespace

const PathHop* PathTraceResult::LastAnswered() const {
    for (auto hop = Hops.rbegin(); hop != Hops.rend(); ++hop)
        if (!hop->Address.empty()) return &*hop;
    return nullptr;
}

std::string PathTraceResult::PathEnd() const {
    const PathHop* last = LastAnswered();
    return last ? last->Address + " (hop " + IntToStr(last->Ttl) + ")" : "no hop answered";
}

std::string PathTraceResult::Json() const {
    const PathHop* last = LastAnswered();
    ::Json hops = ::Json::array();
    for (const PathHop& hop : Hops) {
        const bool answered = !hop.Address.empty();
        hops.push_back({{"ttl", hop.Ttl},
                        {"address", answered ? ::Json(hop.Address) : ::Json()},
                        {"rtt_ms", answered ? ::Json(hop.RttMs) : ::Json()}});
    }
    ::Json out;
    out["target"] = Target;
    out["reached"] = Reached;
    out["last_hop"] = last ? ::Json(last->Ttl) : ::Json();
    out["last_address"] = last ? ::Json(last->Address) : ::Json();
    out["hops"] = std::move(hops);
    return JsonText(out);
}

PathTraceResult PathTrace::Run(const std::string& address, int maxHops, std::chrono::milliseconds timeout) {
    PathTraceResult result;
    result.Target = address;
    IpAddress target;
    if (!Lookup(address, target)) {
        result.ErrorText = "no address";
        return result;
    }
    maxHops = std::clamp(maxHops, 1, MaxHops);
    try {
        static const std::vector<std::uint8_t> Data(32, ' ');
        EchoSocket socket(Data, target.Family);
        HopBook book(maxHops, SystemRandom16());
        Trace(socket, target, book, maxHops, timeout);
        book.Fill(result, target);
    } catch (const std::exception& e) {
        result.ErrorText = e.what();
    }
    return result;
}
