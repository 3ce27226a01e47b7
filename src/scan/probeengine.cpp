// The engine's run: a poll(2) loop over the ICMP sockets and the resolver's sockets. Requests wait in
// a queue ordered by the time they may go; answers and time-outs settle them by sequence number.
#include "scan/probeengine.h"

#include "scan/echosocket.h"
#include "scan/nameresolver.h"

#include "platform/echotoken.h"

#include <arpa/inet.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <queue>

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

ProbeCause CauseOfStatus(std::uint32_t status) {
    switch (status) {
    case IpStatus::TtlExpiredTransit:
    case IpStatus::TtlExpiredReassem:
        return ProbeCause::TimeExceeded;
    default:
        return ProbeCause::Unreachable;
    }
}

ProbeCause CauseOfSendError(int err) {
    return err == EPERM || err == EACCES ? ProbeCause::NoPermission : ProbeCause::SendError;
}

/// One site of the run.
struct Target {
    std::uint32_t Destination = 0;
    int Sent = 0, Settled = 0, Received = 0;
    long long RttSumUs = 0;
    int RttMin = 0, RttMax = 0;
    ProbeCause LastCause = ProbeCause::None;
    std::uint32_t Reporter = 0;
    bool Resolving = false, Reported = false;
    Time LookupStarted;
};

/// Sequence numbers of one socket: one identifier's 16-bit space.
constexpr std::size_t SequencesPerSocket = 65536;

/// An echo request on the wire, found again by its socket and sequence number (the key: socket
/// times SequencesPerSocket plus sequence).
struct InFlight {
    std::size_t Target = 0;
    Time Sent;
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
              const ProbeEngine::Finished& finished)
        : m_settings(s), m_clock(clock), m_addresses(addresses), m_finished(finished), m_targets(addresses.size()),
          m_debug(std::getenv("VKT_DEBUG") != nullptr) {}

    void Run(const std::atomic<bool>* stop) {
        AddSocket();
        m_resolver = std::make_unique<NameResolver>(ProbeEngine::ConcurrentLookups);
        m_nextSend = m_clock.Monotonic();
        for (std::size_t i = 0; i < m_targets.size(); ++i)
            Start(i);
        while (m_reported < m_targets.size() && !(stop && stop->load())) {
            Expire();
            SendDue();
            Wait();
        }
    }

    void FailAll(const std::string& why) {
        for (std::size_t i = 0; i < m_targets.size(); ++i) {
            if (m_targets[i].Reported) continue;
            m_targets[i].Reported = true;
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
        const std::uint32_t numeric = inet_addr(m_addresses[i].c_str());
        if (numeric != INADDR_NONE) return Resolved(i, numeric);
        m_targets[i].Resolving = true;
        m_targets[i].LookupStarted = m_clock.Monotonic();
        m_lookups.push_back(i);
        m_resolver->Resolve(i, m_addresses[i]);
        TakeAnswers();
    }

    void Resolved(std::size_t i, std::uint32_t address) {
        Target& t = m_targets[i];
        t.Resolving = false;
        t.Destination = address;
        if (IsRefusedEchoDestination(address)) return FailUnsent(i, ProbeCause::SendError);
        m_due.push(Due{m_clock.Monotonic(), m_order++, i});
    }

    /// Every echo of the site counts as sent and failed, for `cause`.
    void FailUnsent(std::size_t i, ProbeCause cause) {
        Target& t = m_targets[i];
        t.Sent = t.Settled = m_settings.Echoes;
        t.LastCause = cause;
        Report(i);
    }

    void TakeAnswers() {
        for (const NameResolver::Answer& a : m_resolver->TakeAnswers()) {
            if (!m_targets[a.Tag].Resolving) continue; // given up on at the guard
            if (a.Cause == ProbeCause::None)
                Resolved(a.Tag, a.Address);
            else
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

    int SendEcho(std::size_t i, Time now) {
        const std::size_t key = FreeKey();
        const auto sequence = static_cast<std::uint16_t>(key % SequencesPerSocket);
        Target& t = m_targets[i];
        const int err = m_sockets[key / SequencesPerSocket]->Send(t.Destination, sequence);
        if (err == EAGAIN || err == ENOBUFS) return err;
        ++t.Sent;
        if (err != 0) {
            Settle(i, CauseOfSendError(err), 0);
            return err;
        }
        m_inFlight[key] = InFlight{i, now, true};
        m_deadlines.emplace_back(key, now + ProbeEngine::EchoTimeout);
        ++m_active;
        return 0;
    }

    void Answer(std::size_t key, const EchoSocket::Answer& a) {
        InFlight& f = m_inFlight[key];
        f.Active = false;
        --m_active;
        Target& t = m_targets[f.Target];
        if (a.Status != IpStatus::Success) return Settle(f.Target, CauseOfStatus(a.Status), a.Responder);
        const auto us = std::chrono::duration_cast<Micros>(m_clock.Monotonic() - f.Sent).count();
        const int ms = static_cast<int>(us / 1000);
        t.RttMin = t.Received == 0 ? ms : std::min(t.RttMin, ms);
        t.RttMax = std::max(t.RttMax, ms);
        t.RttSumUs += us;
        ++t.Received;
        Settle(f.Target, ProbeCause::None, 0);
    }

    void Settle(std::size_t i, ProbeCause cause, std::uint32_t reporter) {
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
        ++m_reported;
        SiteResult r;
        r.Address = m_addresses[i];
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
        r.Reporter = t.Reporter;
        if (m_debug && t.LastCause != ProbeCause::None)
            std::fprintf(stderr, "Probe %s: %s\n", r.Address.c_str(), DescribeFailure(r).c_str());
        m_finished(i, std::move(r));
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
            Settle(f.Target, ProbeCause::TimedOut, 0);
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
        m_resolver->AddPollFds(fds);
        const int n = poll(fds.data(), fds.size(), WaitMs());
        if (n < 0 && errno != EINTR) throw EIcmpEchoError(std::string("poll failed: ") + std::strerror(errno));
        for (std::size_t s = 0; s < m_sockets.size(); ++s)
            if (fds[s].revents) Receive(s);
        if (m_resolver->Pending() > 0) {
            m_resolver->Process(fds, m_sockets.size());
            TakeAnswers();
        }
    }

    void Receive(std::size_t socket) {
        const std::size_t base = socket * SequencesPerSocket;
        m_sockets[socket]->Receive(
            [&](std::uint16_t sequence, std::uint32_t& destination) {
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
    std::vector<InFlight> m_inFlight;
    std::deque<std::pair<std::size_t, Time>> m_deadlines;
    std::deque<std::size_t> m_lookups; // in the order their lookups started
    std::priority_queue<Due, std::vector<Due>, std::greater<Due>> m_due;
    std::size_t m_order = 0, m_active = 0, m_reported = 0;
    std::size_t m_key = SystemRandom16(); // a blind forger must not know where the run starts
    Time m_nextSend;
    std::vector<std::unique_ptr<EchoSocket>> m_sockets;
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
                      const std::atomic<bool>* stop) {
    TScanSettings s = m_settings;
    s.Parallel = std::clamp(s.Parallel, 1, MaxParallel);
    s.Echoes = std::max(1, s.Echoes);
    EngineRun run(s, m_clock, addresses, finished);
    try {
        run.Run(stop);
    } catch (const std::exception& e) {
        run.FailAll(e.what()); // no socket, or a broken one: every site not yet reported fails
    }
}
