// Failed token attempts per peer address: a few go unpunished (a mistyped token), after that the
// address waits before it is heard again, twice as long after each further failure.
#pragma once

#include "platform/clock.h"

#include <map>
#include <mutex>
#include <string>

class TAttemptLimiter {
public:
    /// Failures an address may make before it has to wait.
    static constexpr int FreeFailures = 5;
    /// The longest wait, in seconds.
    static constexpr long long MaxWaitSeconds = 60;

    /// Seconds the address must still wait before a request of it is looked at; 0 when it may go on.
    long long WaitSeconds(const std::string& address, Clock::MonoTime now);
    /// A request of the address came without a valid token.
    void Failed(const std::string& address, Clock::MonoTime now);
    /// A valid token: the address starts afresh.
    void Succeeded(const std::string& address);

private:
    struct Entry {
        int Failures = 0;
        Clock::MonoTime Until{};
        Clock::MonoTime Last{};
    };
    void Forget(Clock::MonoTime now);

    std::mutex m_lock;
    std::map<std::string, Entry> m_entries;
};
