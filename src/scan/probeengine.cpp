// The engine's run: a poll(2) loop over the ICMP sockets (one per 65,536 IPv4 requests in flight), the
// ICMPv6 socket, the TCP connects and the resolver's sockets. Requests wait in a queue ordered by the time
// they may go; answers and time-outs settle echo requests by socket and sequence number, connects by their
// socket. A site probed on both families is two targets whose results are combined.
#include "scan/probeengine.h"

#include "scan/echosocket.h"
#include "scan/nameresolver.h"

#include "platform/echotoken.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <queue>
#include <unordered_map>

namespace {

using Time = Clock::MonoTime;
using Micros = std::chrono::microseconds;

/// The echo data: the same fixed text the one-at-a-time probe sends, followed by blanks.
std::vector<std::uint8_t> EchoData() {
    static const char Text[] = "VKT reachability probe - echo data follows...";
    std::vector<std::uint8_t> data(ProbeEngine::EchoSize, ' ');
    std::copy_n(Text, std::min(sizeof Text - 1, data.size()), data.begin());
    return data;
}

ProbeCause CauseOfSendError(int err) {
    return err == EPERM || err == EACCES ? ProbeCause::NoPermission : ProbeCause::SendError;
}

/// Why a TCP connect failed, from the socket's error.
ProbeCause CauseOfConnectError(int err) {
    switch (err) {
    case ECONNREFUSED:
        return ProbeCause::Refused;
    case ETIMEDOUT:
        return ProbeCause::ConnectTimedOut;
    case EHOSTUNREACH:
    case ENETUNREACH:
        return ProbeCause::Unreachable;
    default:
        return CauseOfSendError(err);
    }
}

/// Destinations never probed: IPv6 unspecified and multicast, and those IsRefusedEchoDestination names.
bool IsRefused(const IpAddress& a) {
    if (a.IsV4()) return IsRefusedEchoDestination(a.V4Value());
    return a.Bytes[0] == 0xff || a.Bytes == std::array<std::uint8_t, 16>{};
}

/// One probe target of the run: a site, or one family of a site probed on both.
struct Target {
    std::size_t Site = 0; ///< index of the site's address
    ProbeAddress Where;
    AddressFamily Family = AddressFamily::Auto;
    IpAddress Destination;
    int Sent = 0, Settled = 0, Received = 0;
    long long RttSumUs = 0;
    int RttMin = 0, RttMax = 0;
    ProbeCause LastCause = ProbeCause::None;
    IpAddress Reporter;
    std::string Error; ///< why the target could not be probed at all (no ICMPv6 socket)
    bool Resolving = false, Reported = false, TriedV6 = false;
    bool V6Leg = false; ///< the IPv6 target of a site probed on both families
    Time LookupStarted;
};

/// The first result of a site probed on both families, waiting for the second.
struct SiteLegs {
    std::optional<SiteResult> V4, V6;
};

/// A TCP connect in progress.
struct Connect {
    int Fd = -1;
    std::size_t Target = 0;
    Time Sent;
};

/// Sequence numbers of one socket: one identifier's 16-bit space.
constexpr std::size_t SequencesPerSocket = 65536;

/// An echo request on the wire, found again by its socket and sequence number (the key: socket
/// times SequencesPerSocket plus sequence; IPv6 requests take keys of the first block only, their
/// socket's one sequence space).
struct InFlight {
    Time Sent;
    std::uint32_t Target = 0; ///< the target's index: a scan has far fewer than 2^32
    bool Active = false;
};

/// The next request a site may send, and when.
struct Due {
    Time At;
    std::size_t Order; // keeps the site-list order among requests due at the same time
    std::size_t Target;
    bool operator>(const Due& o) const { return At != o.At ? At > o.At : Order > o.Order; }
};

class EngineRun {
public:
    EngineRun(const TScanSettings& s, const Clock& clock, const std::vector<std::string>& addresses,
              const std::vector<AddressFamily>& families, const ProbeEngine::Finished& finished)
        : m_settings(s), m_clock(clock), m_addresses(addresses), m_finished(finished), m_targets(addresses.size()),
          m_left(addresses.size(), 1), m_debug(std::getenv("VKT_DEBUG") != nullptr) {
        std::size_t both = 0;
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            m_targets[i].Site = i;
            m_targets[i].Where = ProbeAddress::Parse(addresses[i]);
            m_targets[i].Family = i < families.size() ? families[i] : s.Family;
            if (m_targets[i].Family == AddressFamily::Both) ++both;
        }
        m_targets.reserve(addresses.size() + both); // a second family's target never moves the others
    }
    ~EngineRun() {
        for (const Connect& c : m_connects)
            close(c.Fd);
    }
    EngineRun(const EngineRun&) = delete;
    EngineRun& operator=(const EngineRun&) = delete;

    void Run(const std::atomic<bool>* stop) {
        AddSocket();
        m_resolver = std::make_unique<NameResolver>(ProbeEngine::ConcurrentLookups);
        m_nextSend = m_clock.Monotonic();
        for (std::size_t i = 0; i < m_addresses.size(); ++i)
            Start(i);
        while (m_reported < m_addresses.size() && !(stop && stop->load())) {
            Expire();
            SendDue();
            Wait();
        }
    }

    void FailAll(const std::string& why) {
        for (std::size_t i = 0; i < m_addresses.size(); ++i) {
            if (m_left[i] == 0) continue;
            m_left[i] = 0;
            SiteResult r;
            r.Address = m_addresses[i];
            r.Sent = m_settings.Echoes;
            r.LastCause = m_sockets.empty() ? ProbeCause::NoPermission : ProbeCause::SendError;
            r.ErrorText = why;
            m_finished(i, std::move(r));
        }
    }

private:
    void Start(std::size_t i) {
        Target& t = m_targets[i];
        if (!t.Where.Literal.Empty()) return Resolved(i, t.Where.Literal); // no lookup: probed at once
        t.Resolving = true;
        t.LookupStarted = m_clock.Monotonic();
        m_lookups.push_back(i);
        // Auto asks for IPv4 first, as the probe always did, and for IPv6 only when there is none.
        const int family = t.Family == AddressFamily::V6     ? AF_INET6
                           : t.Family == AddressFamily::Both ? AF_UNSPEC
                                                             : AF_INET;
        t.TriedV6 = family == AF_INET6;
        m_resolver->Resolve(i, t.Where.Host, family);
        TakeAnswers();
    }

    void Resolved(std::size_t i, const IpAddress& address) {
        Target& t = m_targets[i];
        t.Resolving = false;
        t.Destination = address;
        if (IsRefused(address)) return FailUnsent(i, ProbeCause::SendError);
        m_due.push(Due{m_clock.Monotonic(), m_order++, i});
    }

    /// A name asked for on both families: its IPv6 address becomes a target of its own, and a family the
    /// name lacks fails as a name not found.
    void ResolvedBoth(std::size_t i, const NameResolver::Answer& a) {
        m_left[m_targets[i].Site] = 2;
        const std::size_t six = m_targets.size();
        m_targets.push_back(m_targets[i]);
        m_targets[i].Resolving = m_targets[six].Resolving = false;
        m_targets[six].V6Leg = true;
        for (const auto& [target, address] : {std::pair{i, a.V4}, std::pair{six, a.V6}}) {
            if (address.Empty())
                FailUnsent(target, ProbeCause::NameNotFound);
            else
                Resolved(target, address);
        }
    }

    /// Every echo of the target counts as sent and failed, for `cause`.
    void FailUnsent(std::size_t i, ProbeCause cause) {
        Target& t = m_targets[i];
        t.Sent = t.Settled = m_settings.Echoes;
        t.LastCause = cause;
        Report(i);
    }

    void TakeAnswers() {
        // A lookup started here (a name's IPv6 address after its IPv4 one) may answer at once.
        for (std::vector<NameResolver::Answer> answers; !(answers = m_resolver->TakeAnswers()).empty();)
            for (const NameResolver::Answer& a : answers)
                TakeAnswer(a);
    }

    void TakeAnswer(const NameResolver::Answer& a) {
        Target& t = m_targets[a.Tag];
        if (!t.Resolving) return; // given up on at the guard
        if (t.Family == AddressFamily::Both && a.Cause == ProbeCause::None) {
            ResolvedBoth(a.Tag, a);
        } else if (a.Cause == ProbeCause::None) {
            Resolved(a.Tag, a.V4.Empty() ? a.V6 : a.V4);
        } else if (a.Cause == ProbeCause::NameNotFound && t.Family == AddressFamily::Auto && !t.TriedV6) {
            t.TriedV6 = true; // no IPv4 address: the name's IPv6 one, if it has one
            m_resolver->Resolve(a.Tag, t.Where.Host, AF_INET6);
        } else {
            FailUnsent(a.Tag, a.Cause);
        }
    }

    void SendDue() {
        // A burst ends after a while so that answers are read before the receive queue fills.
        for (int burst = 0; burst < 256 && !m_due.empty(); ++burst) {
            const Time now = m_clock.Monotonic();
            if (m_active >= static_cast<std::size_t>(m_settings.Parallel) || m_due.top().At > now || m_nextSend > now)
                return;
            const std::size_t i = m_due.top().Target;
            const int err = SendEcho(i, now);
            if (err == EAGAIN || err == ENOBUFS) return; // the socket takes it once its queue drains
            m_due.pop();
            Target& t = m_targets[i];
            if (t.Sent < m_settings.Echoes)
                m_due.push(Due{now + std::chrono::milliseconds(m_settings.EchoInterval), m_order++, i});
            Pace(now);
        }
    }

    void Pace(Time now) {
        // Sends keep to the interval on average: a wake-up that comes late is made up for, within 1 ms.
        m_nextSend += Micros(m_settings.SendInterval);
        if (m_nextSend < now - std::chrono::milliseconds(1)) m_nextSend = now;
    }

    /// The ICMPv6 socket, opened when the first IPv6 target is due; null, with the reason in the
    /// target, when it cannot be had.
    EchoSocket* Socket6For(Target& t) {
        if (!m_socket6 && m_socket6Error.empty()) {
            try {
                m_socket6 = std::make_unique<EchoSocket>(EchoData(), AF_INET6);
            } catch (const std::exception& e) {
                m_socket6Error = e.what();
            }
        }
        if (!m_socket6) t.Error = m_socket6Error;
        return m_socket6.get();
    }

    /// One socket more once every sequence number of the open ones is in flight: thousands of sites
    /// beyond 65,536 keep their requests in flight together.
    void AddSocket() {
        m_sockets.push_back(std::make_unique<EchoSocket>(EchoData()));
        m_inFlight.resize(m_sockets.size() * SequencesPerSocket);
    }

    std::size_t FreeKey() {
        if (m_active >= m_inFlight.size()) AddSocket();
        while (m_inFlight[m_key % m_inFlight.size()].Active)
            ++m_key;
        return m_key++ % m_inFlight.size();
    }

    /// A free key of the first block for the ICMPv6 socket; none while all its sequences are in flight.
    std::optional<std::size_t> FreeKey6() {
        for (std::size_t n = 0; n < SequencesPerSocket; ++n, ++m_key6)
            if (!m_inFlight[m_key6 % SequencesPerSocket].Active) return m_key6++ % SequencesPerSocket;
        return std::nullopt;
    }

    int SendEcho(std::size_t i, Time now) {
        Target& t = m_targets[i];
        if (t.Where.Tcp()) return SendConnect(i, now);
        const bool v6 = t.Destination.IsV6();
        EchoSocket* socket = v6 ? Socket6For(t) : nullptr;
        if (v6 && !socket) {
            ++t.Sent;
            Settle(i, ProbeCause::NoPermission, {});
            return EPERM;
        }
        std::size_t key = 0;
        if (v6) {
            const std::optional<std::size_t> free = FreeKey6();
            if (!free) return EAGAIN;
            key = *free;
        } else {
            key = FreeKey();
            socket = m_sockets[key / SequencesPerSocket].get();
        }
        const auto sequence = static_cast<std::uint16_t>(key % SequencesPerSocket);
        const int err = socket->Send(t.Destination, sequence);
        if (err == EAGAIN || err == ENOBUFS) return err;
        ++t.Sent;
        if (err != 0) {
            Settle(i, CauseOfSendError(err), {});
            return err;
        }
        m_inFlight[key] = InFlight{now, static_cast<std::uint32_t>(i), true};
        m_deadlines.emplace_back(key, now + ProbeEngine::EchoTimeout);
        ++m_active;
        return 0;
    }

    /// Starts a TCP connect to the target; it answers when the connection is accepted.
    int SendConnect(std::size_t i, Time now) {
        Target& t = m_targets[i];
        sockaddr_storage to{};
        socklen_t toLen = 0;
        if (t.Destination.IsV6()) {
            auto& six = reinterpret_cast<sockaddr_in6&>(to);
            six.sin6_family = AF_INET6;
            six.sin6_port = htons(static_cast<std::uint16_t>(t.Where.Port));
            std::memcpy(six.sin6_addr.s6_addr, t.Destination.Bytes.data(), 16);
            toLen = sizeof six;
        } else {
            auto& four = reinterpret_cast<sockaddr_in&>(to);
            four.sin_family = AF_INET;
            four.sin_port = htons(static_cast<std::uint16_t>(t.Where.Port));
            four.sin_addr.s_addr = t.Destination.V4Value();
            toLen = sizeof four;
        }
        ++t.Sent;
        const int fd = socket(to.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            Settle(i, CauseOfSendError(errno), {});
            return 0;
        }
        if (connect(fd, reinterpret_cast<sockaddr*>(&to), toLen) != 0 && errno != EINPROGRESS) {
            const int err = errno;
            close(fd);
            Settle(i, CauseOfConnectError(err), {});
            return 0;
        }
        m_connects.push_back(Connect{fd, i, now});
        ++m_active;
        return 0;
    }

    /// Settles the connects whose sockets poll(2) reported on (`fds` from `first` on, in m_connects
    /// order) and those past the time-out.
    void ServeConnects(const std::vector<pollfd>& fds, std::size_t first) {
        const Time now = m_clock.Monotonic();
        std::vector<Connect> open;
        for (std::size_t k = 0; k < m_connects.size(); ++k) {
            const Connect& c = m_connects[k];
            const bool ready = first + k < fds.size() && fds[first + k].revents != 0;
            const bool late = c.Sent + ProbeEngine::EchoTimeout <= now;
            if (!ready && !late) {
                open.push_back(c);
                continue;
            }
            int err = ETIMEDOUT;
            socklen_t len = sizeof err;
            if (ready && getsockopt(c.Fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
            close(c.Fd);
            --m_active;
            if (err == 0)
                Answered(c.Target, c.Sent);
            else
                Settle(c.Target, CauseOfConnectError(err), {});
        }
        m_connects.swap(open);
    }

    void Answer(std::size_t key, const EchoSocket::Answer& a) {
        InFlight& f = m_inFlight[key];
        f.Active = false;
        --m_active;
        if (a.Status != IpStatus::Success) return Settle(f.Target, CauseOfEchoStatus(a.Status), a.Responder);
        Answered(f.Target, f.Sent);
    }

    void Answered(std::size_t i, Time sent) {
        Target& t = m_targets[i];
        const auto us = std::chrono::duration_cast<Micros>(m_clock.Monotonic() - sent).count();
        const int ms = static_cast<int>(us / 1000);
        t.RttMin = t.Received == 0 ? ms : std::min(t.RttMin, ms);
        t.RttMax = std::max(t.RttMax, ms);
        t.RttSumUs += us;
        ++t.Received;
        Settle(i, ProbeCause::None, {});
    }

    void Settle(std::size_t i, ProbeCause cause, const IpAddress& reporter) {
        Target& t = m_targets[i];
        ++t.Settled;
        if (cause != ProbeCause::None) {
            t.LastCause = cause;
            t.Reporter = reporter;
        }
        if (t.Settled == m_settings.Echoes) Report(i);
    }

    void Report(std::size_t i) {
        Target& t = m_targets[i];
        if (t.Reported) return;
        t.Reported = true;
        SiteResult r;
        r.Address = m_addresses[t.Site];
        r.Probed = t.Destination.Text();
        r.ErrorText = t.Error;
        r.Answered = t.Received > 0;
        r.Sent = t.Sent;
        r.Received = t.Received;
        if (t.Received > 0) {
            r.RttMin = t.RttMin;
            r.RttMax = t.RttMax;
            r.RttAvgUs = t.RttSumUs / t.Received;
            r.RttAvg = static_cast<int>(r.RttAvgUs / 1000);
        }
        r.LastCause = t.LastCause;
        r.Reporter = t.Reporter.V4Value();
        if (t.Reporter.IsV6()) r.Reporter6 = t.Reporter.Text();
        if (m_debug && t.LastCause != ProbeCause::None)
            std::fprintf(stderr, "Probe %s: %s\n", r.Address.c_str(), DescribeFailure(r).c_str());
        Deliver(t.Site, t.V6Leg || t.Destination.IsV6(), std::move(r));
    }

    /// Hands a site's result on; a site probed on both families once both are in.
    void Deliver(std::size_t site, bool v6, SiteResult r) {
        if (m_left[site] == 0) return;
        if (--m_left[site] > 0) {
            SiteLegs& legs = m_waiting[site];
            (v6 ? legs.V6 : legs.V4) = std::move(r);
            return;
        }
        ++m_reported;
        const auto waiting = m_waiting.find(site);
        if (waiting == m_waiting.end()) return m_finished(site, std::move(r));
        SiteLegs legs = std::move(waiting->second);
        m_waiting.erase(waiting);
        (v6 ? legs.V6 : legs.V4) = std::move(r);
        m_finished(site, CombineFamilies(*legs.V4, *legs.V6));
    }

    void Expire() {
        const Time now = m_clock.Monotonic();
        // Every echo has the same time-out, so deadlines come in the order the requests went out.
        while (!m_deadlines.empty() && m_deadlines.front().second <= now) {
            const auto [key, deadline] = m_deadlines.front();
            m_deadlines.pop_front();
            InFlight& f = m_inFlight[key];
            if (!f.Active || f.Sent + ProbeEngine::EchoTimeout != deadline) continue; // answered already
            f.Active = false;
            --m_active;
            Settle(f.Target, ProbeCause::TimedOut, {});
        }
        while (!m_lookups.empty() && !m_targets[m_lookups.front()].Resolving)
            m_lookups.pop_front();
        while (!m_lookups.empty() && m_targets[m_lookups.front()].LookupStarted + ProbeEngine::LookupGuard <= now) {
            const std::size_t i = m_lookups.front();
            m_lookups.pop_front();
            if (!m_targets[i].Resolving) continue;
            m_targets[i].Resolving = false;
            FailUnsent(i, ProbeCause::NameTemporary);
        }
    }

    /// How long poll may sleep: until the next deadline, the next request that may go, or the
    /// resolver's next time-out.
    int WaitMs() const {
        const Time now = m_clock.Monotonic();
        Time until = now + std::chrono::seconds(1);
        if (!m_deadlines.empty()) until = std::min(until, m_deadlines.front().second);
        for (const Connect& c : m_connects)
            until = std::min(until, c.Sent + ProbeEngine::EchoTimeout);
        if (!m_lookups.empty())
            until = std::min(until, m_targets[m_lookups.front()].LookupStarted + ProbeEngine::LookupGuard);
        if (!m_due.empty() && m_active < static_cast<std::size_t>(m_settings.Parallel))
            until = std::min(until, std::max(m_due.top().At, m_nextSend));
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        ms = m_resolver->NextTimeout(ms);
        return static_cast<int>(std::max<long long>(0, ms.count()));
    }

    void Wait() {
        std::vector<pollfd> fds;
        for (const auto& socket : m_sockets)
            fds.push_back(pollfd{socket->Fd(), POLLIN, 0});
        const std::size_t six = fds.size();
        if (m_socket6) fds.push_back(pollfd{m_socket6->Fd(), POLLIN, 0});
        const std::size_t connects = fds.size();
        for (const Connect& c : m_connects)
            fds.push_back(pollfd{c.Fd, POLLOUT, 0});
        const std::size_t resolver = fds.size();
        m_resolver->AddPollFds(fds);
        const int n = poll(fds.data(), fds.size(), WaitMs());
        if (n < 0 && errno != EINTR) throw EIcmpEchoError(std::string("poll failed: ") + std::strerror(errno));
        for (std::size_t s = 0; s < m_sockets.size(); ++s)
            if (fds[s].revents) Receive(*m_sockets[s], s * SequencesPerSocket);
        if (m_socket6 && fds[six].revents) Receive(*m_socket6, 0);
        ServeConnects(fds, connects);
        if (m_resolver->Pending() > 0) {
            m_resolver->Process(fds, resolver);
            TakeAnswers();
        }
    }

    void Receive(EchoSocket& socket, std::size_t base) {
        socket.Receive(
            [&](std::uint16_t sequence, IpAddress& destination) {
                const InFlight& f = m_inFlight[base + sequence];
                destination = m_targets[f.Target].Destination;
                return f.Active;
            },
            [&](const EchoSocket::Answer& a) { Answer(base + a.Sequence, a); });
    }

    const TScanSettings& m_settings;
    const Clock& m_clock;
    const std::vector<std::string>& m_addresses;
    const ProbeEngine::Finished& m_finished;
    std::vector<Target> m_targets;
    std::vector<std::uint8_t> m_left; ///< results each site still waits for: 2 for both families
    std::unordered_map<std::size_t, SiteLegs> m_waiting;
    std::vector<InFlight> m_inFlight;
    std::vector<Connect> m_connects;
    std::deque<std::pair<std::size_t, Time>> m_deadlines;
    std::deque<std::size_t> m_lookups; // in the order their lookups started
    std::priority_queue<Due, std::vector<Due>, std::greater<Due>> m_due;
    std::size_t m_order = 0, m_active = 0, m_reported = 0;
    std::size_t m_key = SystemRandom16(); // a blind forger must not know where the run starts
    Time m_nextSend;
    std::vector<std::unique_ptr<EchoSocket>> m_sockets;
    std::unique_ptr<EchoSocket> m_socket6;
    std::string m_socket6Error;
    std::size_t m_key6 = SystemRandom16();
    std::unique_ptr<NameResolver> m_resolver; // after the sockets: a site may fail as soon as it starts
    bool m_debug;
};

} // namespace

const Clock& ProbeEngine::OwnClock() {
    // Not the clock in force: a test that sets the wall clock still has its echoes timed for real.
    static const SystemClock system;
    return system;
}

void ProbeEngine::Run(const std::vector<std::string>& addresses, const Finished& finished,
                      const std::atomic<bool>* stop, const std::vector<AddressFamily>& families) {
    TScanSettings s = m_settings;
    s.Parallel = std::clamp(s.Parallel, 1, MaxParallel);
    s.Echoes = std::max(1, s.Echoes);
    EngineRun run(s, m_clock, addresses, families, finished);
    try {
        run.Run(stop);
    } catch (const std::exception& e) {
        run.FailAll(e.what()); // no socket, or a broken one: every site not yet reported fails
    }
}
