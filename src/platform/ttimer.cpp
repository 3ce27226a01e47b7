// Timer on the message loop.
#include "platform/ttimer.h"

TTimer::~TTimer() {
    m_self.reset();
    Stop();
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled == m_enabled) return;
    m_enabled = enabled;
    Restart();
}

void TTimer::SetInterval(int ms) {
    if (ms == m_interval) return;
    m_interval = ms;
    Restart();
}

// The timer is killed on the loop it was set on, and only while that loop is still installed:
// a loop that has gone took its timers with it.
void TTimer::Stop() {
    if (m_id != 0 && HasMainLoop() && &MainLoop() == m_loop) m_loop->KillTimer(m_id);
    m_id = 0;
    m_loop = nullptr;
}

void TTimer::Restart() {
    Stop();
    if (!m_enabled || m_interval <= 0) return;
    m_loop = &MainLoop();
    std::weak_ptr<TTimer*> self = m_self;
    m_id = m_loop->SetTimer(std::chrono::milliseconds(m_interval), true, [self] {
        auto alive = self.lock();
        if (!alive) return;
        TTimer& timer = **alive;
        if (timer.m_enabled && timer.OnTimer) timer.OnTimer();
    });
}
