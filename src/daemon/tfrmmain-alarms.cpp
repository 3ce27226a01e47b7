// Console controller: the alarm handlers of the scan, delegating to the alarm rows, the notice
// runner and the daily purge.
#include "daemon/activitylog.h"
#include "daemon/dailypurge.h"
#include "daemon/noticerunner.h"
#include "daemon/tfrmmain.h"
#include "daemon/tsitebatch.h"
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
    if (m_batch && m_batch->Cleared(code)) return; // done by the concurrent scan's gathered statements
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
    if (m_batch && m_batch->Cleared(code)) return; // its rows are gone: no outage to tell of
    m_notices->NotifyProblem(code);
}

bool TfrmMain::NotificationDue(const std::string& code, TDateTime& outageStart) {
    return m_notices->ProblemDue(code, outageStart);
}

bool TfrmMain::RunNotification(const std::string& code, const Notice& notice) {
    return m_notices->Run(code, notice);
}

void TfrmMain::DailyPurge() {
    m_purge->Run(GroupActive() ? m_cluster.get() : nullptr, [this] {
        LastPurge = Now();
        m_lastPurgeMono = GetClock().Monotonic();
    });
}
