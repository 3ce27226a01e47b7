// System and manual clocks, and the clock in force.
#include "platform/clock.h"

#include "platform/datetime.h"

#include <atomic>
#include <ctime>
#include <sys/time.h>

TDateTime SystemClock::Now() const {
    struct timeval tv {};
    gettimeofday(&tv, nullptr);
    return DateTimeFromTimeT(tv.tv_sec) + (tv.tv_usec / 1000) / 86400000.0;
}

Clock::MonoTime SystemClock::Monotonic() const {
    return std::chrono::steady_clock::now();
}

ManualClock::ManualClock(TDateTime start) : m_now(start), m_mono(std::chrono::steady_clock::now()) {}

TDateTime ManualClock::Now() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_now;
}

Clock::MonoTime ManualClock::Monotonic() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_mono;
}

void ManualClock::Advance(std::chrono::milliseconds step) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_now += static_cast<double>(step.count()) / 86400000.0;
    m_mono += step;
}

void ManualClock::SetNow(TDateTime now) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_now = now;
}

namespace {
SystemClock g_systemClock;
std::atomic<Clock*> g_clock{&g_systemClock};
} // namespace

Clock& GetClock() {
    return *g_clock.load();
}

Clock* SetClock(Clock* clock) {
    Clock* previous = g_clock.exchange(clock ? clock : &g_systemClock);
    return previous == &g_systemClock ? nullptr : previous;
}

long long MillisecondsSince(Clock::MonoTime start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(GetClock().Monotonic() - start).count();
}
