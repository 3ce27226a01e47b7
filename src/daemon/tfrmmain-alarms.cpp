// Console controller: the alarm handlers of the scan, delegating to the alarm rows, the notice
// runner and the daily purge.
#include "platform/activitylog.h"
#include "monitor/dailypurge.h"
#include "monitor/groupscan.h"
#include "monitor/noticerunner.h"
#include "daemon/tfrmmain.h"
#include "db/alarmrows.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "platform/strutil.h"

#include <exception>

void TfrmMain::PostAlarm(const std::string& code) {
    try {
        AlarmRows(*DataModule()).Post(code, Now());
    } catch (const std::exception& e) {
        WriteLog("[FAILURE]", std::string("Posting alarm: ") + e.what());
    }
}

void TfrmMain::ClearAlarms(const std::string& code, int rtt) {
    DeleteOutageRows(code);
    try {
        ExecStatement(DataModule()->adoQ2, {"UPDATE ", "  site ", "SET LastRTT = " + SQLLiteral(IntToStr(rtt)) + " ",
                                            "WHERE code = " + SQLLiteral(code) + " "});
    } catch (const std::exception& e) {
        WriteLog("[FAILURE]", std::string("Clearing active alarms: ") + e.what());
    }
}

void TfrmMain::DeleteOutageRows(const std::string& code) {
    try {
        AlarmRows(*DataModule()).Clear(code);
    } catch (const std::exception& e) {
        WriteLog("[FAILURE]", std::string("Clearing active alarms: ") + e.what());
    }
}

void TfrmMain::Notify(const std::string& code) {
    m_notices->NotifyProblem(code);
}

void TfrmMain::DailyPurge() {
    m_purge->Run(m_group.get(), [this] {
        LastPurge = Now();
        m_lastPurgeMono = GetClock().Monotonic();
    });
}
