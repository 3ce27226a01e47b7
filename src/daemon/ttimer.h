// A window-style timer on the message loop: Enabled, Interval (ms) and OnTimer.
#pragma once

#include "platform/msgloop.h"

#include <functional>

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
    bool m_enabled = false;
    int m_interval = 1000;
    MessageLoop::TimerId m_id = 0;
};
