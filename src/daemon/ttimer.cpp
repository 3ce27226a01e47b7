// Timer on the message loop.
#include "daemon/ttimer.h"

TTimer::~TTimer() {
    SetEnabled(false);
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

void TTimer::Restart() {
    if (m_id) MainLoop().KillTimer(m_id);
    m_id = 0;
    if (!m_enabled || m_interval <= 0) return;
    m_id = MainLoop().SetTimer(std::chrono::milliseconds(m_interval), true, [this] {
        if (m_enabled && OnTimer) OnTimer();
    });
}
