// Failed attempts (bad tokens, a wrong login on the status paths) per peer address and of all
// addresses together: a few go unpunished (a mistyped token), after that the address waits before
// it is heard again, twice as long after each further failure. A valid token does not clear the
// count, or one good request among the guesses would keep them free; the count is forgotten after
// a quiet while. A bound on the failures of all addresses within a minute holds a guesser that
// changes its address, and a single client that keeps failing stays far below it.
#pragma once

#include "platform/clock.h"

#include <map>
#include <mutex>
#include <string>

class TAttemptLimiter {
public:
    /// Failures an address may make before it has to wait.
    static constexpr int FreeFailures = 5;
    /// Failures all addresses together may make within a minute; past that every address waits
    /// until the minute is over.
    static constexpr int FreeFailuresOfAll = 50;
    static constexpr std::chrono::minutes AllWindow{1};
    /// The longest wait, in seconds.
    static constexpr long long MaxWaitSeconds = 60;
    /// A count without a new failure this long starts afresh.
    static constexpr std::chrono::minutes ForgetAfter{10};

    /// Seconds the address must still wait before a request of it is looked at; 0 when it may go on.
    long long WaitSeconds(const std::string& address, Clock::MonoTime now);
    /// A request of the address came without a valid token or login.
    void Failed(const std::string& address, Clock::MonoTime now);

private:
    struct Entry {
        int Failures = 0;
        Clock::MonoTime Until{};
        Clock::MonoTime Last{};
    };
    void Forget(Clock::MonoTime now);

    std::mutex m_lock;
    std::map<std::string, Entry> m_entries;
    // The minute counted for all addresses: when it began, and its failures.
    Clock::MonoTime m_windowStart{};
    int m_windowFailures = 0;
};
