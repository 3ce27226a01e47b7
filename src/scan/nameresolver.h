// Host names resolved to IPv4 and IPv6 addresses concurrently, without a thread: c-ares queries driven by the
// caller's poll(2) loop, at most a bounded number at once.
#pragma once

#include "platform/ipaddress.h"
#include "scan/siteresult.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

struct pollfd;

class NameResolver {
public:
    /// One finished lookup: the caller's tag, and the first address of each family asked for that the
    /// name has, or why there is none.
    struct Answer {
        std::size_t Tag = 0;
        IpAddress V4, V6;
        ProbeCause Cause = ProbeCause::None;
    };

    /// At most `concurrent` lookups are in flight; later ones wait for a free place.
    explicit NameResolver(std::size_t concurrent);
    ~NameResolver();
    NameResolver(const NameResolver&) = delete;
    NameResolver& operator=(const NameResolver&) = delete;

    /// Queues a lookup of `name` for `family` (AF_INET, AF_INET6 or AF_UNSPEC for both); its answer
    /// carries `tag`.
    void Resolve(std::size_t tag, const std::string& name, int family);
    /// Appends the descriptors the resolver waits on (after `fds.size()` on entry).
    void AddPollFds(std::vector<pollfd>& fds) const;
    /// Serves the descriptors AddPollFds added from `first` on, after poll(2), and lookups whose
    /// time-outs have passed.
    void Process(const std::vector<pollfd>& fds, std::size_t first);
    /// How long the caller may wait before Process is due for the resolver's own time-outs.
    std::chrono::milliseconds NextTimeout(std::chrono::milliseconds limit) const;
    /// The lookups finished since the last call.
    std::vector<Answer> TakeAnswers();
    /// Lookups queued or in flight.
    std::size_t Pending() const { return m_waiting.size() + m_inFlight; }

private:
    struct Lookup;
    static void OnAnswer(void* arg, int status, int timeouts, struct ares_addrinfo* result);
    void StartWaiting();

    struct Channel;
    std::unique_ptr<Channel> m_channel;
    std::size_t m_concurrent;
    std::size_t m_inFlight = 0;
    struct Waiting {
        std::size_t Tag;
        std::string Name;
        int Family;
    };
    std::deque<Waiting> m_waiting;
    std::vector<Answer> m_answers;
};
