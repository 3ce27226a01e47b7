// The one timer of the message loop: Enabled, Interval (ms) and OnTimer, as a window timer has.
// The daemon's scan timer and the socket layer's ticks use it.
#pragma once

#include "platform/msgloop.h"

#include <functional>
#include <memory>

/// A periodic timer on the application's message loop; OnTimer runs on the loop thread. It ticks
/// while enabled with a positive interval. An exception thrown by OnTimer is reported by the loop
/// (ReportLoopException) and the timer keeps ticking. Use it from the loop thread.
class TTimer {
public:
    TTimer() = default;
    ~TTimer();
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool enabled);
    int Interval() const { return m_interval; }
    /// Changing the interval of a running timer restarts its count.
    void SetInterval(int ms);
    std::function<void()> OnTimer;

private:
    void Restart();
    void Stop();
    bool m_enabled = false;
    int m_interval = 1000;
    MessageLoop* m_loop = nullptr;
    MessageLoop::TimerId m_id = 0;
    // The loop's job holds a weak reference: a tick still queued when the timer is gone does nothing.
    std::shared_ptr<TTimer*> m_self = std::make_shared<TTimer*>(this);
};
