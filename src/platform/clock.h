// The one clock every timed behaviour reads: local wall-clock time as a date-time value
// (for what is stored and shown) and a monotonic clock (for intervals and time guards).
#pragma once

#include "platform/scopedinstall.h"

#include <chrono>
#include <mutex>

/// Date-time value: days since 30 December 1899, midnight, local time; the fraction is the time of day.
using TDateTime = double;

class Clock {
public:
    using MonoTime = std::chrono::steady_clock::time_point;
    virtual ~Clock() = default;
    /// Current local date and time.
    virtual TDateTime Now() const = 0;
    /// Monotonic time: never jumps with the wall clock.
    virtual MonoTime Monotonic() const = 0;
};

/// The operating system's clocks.
class SystemClock : public Clock {
public:
    TDateTime Now() const override;
    MonoTime Monotonic() const override;
};

/// A clock that tests set and advance; both faces move together.
class ManualClock : public Clock {
public:
    explicit ManualClock(TDateTime start);
    TDateTime Now() const override;
    MonoTime Monotonic() const override;
    /// Moves both the wall clock and the monotonic clock forward.
    void Advance(std::chrono::milliseconds step);
    /// Sets the wall clock only (a wall-clock jump); the monotonic clock stays.
    void SetNow(TDateTime now);

private:
    mutable std::mutex m_lock;
    TDateTime m_now;
    MonoTime m_mono;
};

/// The clock in force (the system clock unless a test installed another).
Clock& GetClock();
/// Installs a clock; nullptr goes back to the system clock. The caller keeps ownership.
/// Returns the clock it replaced (nullptr for the system clock). Prefer ScopedClock.
Clock* SetClock(Clock* clock);
/// Installs a clock for the guard's lifetime.
using ScopedClock = ScopedInstall<Clock, &SetClock>;

/// Milliseconds elapsed on the monotonic clock since `start`.
long long MillisecondsSince(Clock::MonoTime start);
