// Console controller: the alarm handlers of the scan and the daily purge, delegating to the monitor.
#include "daemon/tfrmmain.h"
#include "platform/datetime.h"

void TfrmMain::PostAlarm(const std::string& code) {
    m_monitor.PostAlarm(code);
}

void TfrmMain::ClearAlarms(const std::string& code, int rtt) {
    m_monitor.ClearAlarms(code, rtt);
}

void TfrmMain::DeleteOutageRows(const std::string& code) {
    m_monitor.DeleteOutageRows(code);
}

void TfrmMain::Notify(const std::string& code) {
    m_monitor.Notify(code);
}

void TfrmMain::DailyPurge() {
    m_monitor.DailyPurge([this] {
        LastPurge = Now();
        m_lastPurgeMono = GetClock().Monotonic();
    });
}
