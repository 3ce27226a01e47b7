// Console controller: this daemon as one member of a group of probes ([Cluster]). Each member logs
// its own probe's lines; the alarm rows, the clearing and the notices follow the group's verdict, and
// a notice goes out only from the member that claimed it.
#include "alert/notice.h"
#include "cluster/clustermember.h"
#include "daemon/activitylog.h"
#include "daemon/talertbridge.h"
#include "daemon/tfrmmain.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "platform/progdir.h"
#include "platform/strutil.h"

namespace {

/// What the rows say of a site's outage: whether its contacts were told, and since when it is down
/// (the earliest alarm row, else the marker's time), read the same way by every member.
OutageRows GroupOutage(const std::string& code) {
    TDbQuery& q = DataModule()->adoAlarms;
    OutageRows rows;
    OpenStatement(q, {"SELECT * FROM alarms WHERE Code = " + SQLLiteral(code + "MAILED") + " "});
    rows.Notified = !q.Eof();
    if (!rows.Notified) return rows;
    const TDateTime marked = VarToFloatDef(q.FieldByName("failtime"));
    OpenStatement(q, {"SELECT * FROM alarms WHERE Code = " + SQLLiteral(code) + " ORDER BY FailTime"});
    rows.Since = q.Eof() ? marked : VarToFloatDef(q.FieldByName("failtime"));
    return rows;
}

} // namespace

bool TfrmMain::GroupActive() const {
    return m_cluster && m_cluster->Active();
}

bool TfrmMain::StartGroupScan() {
    TVKTDataModule& dm = *DataModule();
    const ClusterSettings settings = ClusterSettings::Read(ConfigFileName(), ComputerName());
    if (!settings.Active() && !m_cluster) return true;
    if (!m_cluster) m_cluster = std::make_unique<ClusterMember>(dm.conMain, dm.Dialect());
    m_cluster->Configure(settings, dm.VKTID, dm.PollDelay);
    if (!settings.Active()) return true;
    const AlertSettings& rules = m_alert->Policy.Settings();
    if (!m_groupRulesWarned && (rules.Flapping() || rules.IsolationPercent > 0 || rules.Dependencies)) {
        m_groupRulesWarned = true;
        WriteLog("WARNING",
                 "[Alert] flapping, isolation and dependencies are not applied while [Cluster] Quorum is set.");
    }
    try {
        const std::string lowered = m_cluster->BeginScan();
        if (!lowered.empty()) WriteLog("WARNING", lowered);
        return true;
    } catch (const std::exception& e) {
        // Alone, this member could double the group's notices: it waits for the database instead.
        LogStepError("Joining the probes' group", e);
        return false;
    }
}

void TfrmMain::SiteProbedInGroup(const SiteResult& result) {
    const std::string& code = result.Code;
    bool down = !result.Answered; // this probe's own view, while the group's cannot be read
    int failed = down ? 1 : 0;
    try {
        down = m_cluster->Vote(code, result.Address, !result.Answered);
        failed = m_cluster->LastFailedVotes();
    } catch (const std::exception& e) {
        LogStepError("Voting on " + code, e);
    }
    ReportSite(result, down ? 1 : 0, failed);
    if (result.Answered)
        WriteLog("POLL", code + " Responding (" + IntToStr(result.RttAvg) + " ms)");
    else
        WriteLog("AWOL", "Unable to contact " + code + " [" + result.Address + "]");
    ShowStatus("sending notifications..");
    try {
        if (down)
            GroupSiteDown(result);
        else
            GroupSiteAnswers(result);
    } catch (const std::exception& e) {
        LogStepError("Notifying " + code, e);
    }
    ShowStatus("");
}

void TfrmMain::GroupSiteAnswers(const SiteResult& result) {
    const std::string& code = result.Code;
    NoticeClaim recovery;
    if (m_alert->Policy.Settings().Recovery) {
        // The recovery is claimed before the rows go, so that it stays owed when this member dies.
        const OutageRows rows = GroupOutage(code);
        if (rows.Notified) {
            recovery = m_cluster->Claim(code, ClaimKind::Recovery, rows.Since);
        } else if (const TDateTime owed = m_cluster->OwedRecovery(code); owed != 0) {
            recovery = m_cluster->Claim(code, ClaimKind::Recovery, owed);
        } else if (const TDateTime unsettled = m_cluster->UnsettledProblem(code); unsettled != 0) {
            // Its sender died before it stored the marker: the problem notice may have gone out, so its
            // contacts are told that the site answers again rather than left believing it down.
            recovery = m_cluster->Claim(code, ClaimKind::Recovery, unsettled);
            if (recovery.Held()) m_cluster->DropUnsettledProblem(code, unsettled);
        }
    }
    if (result.Answered)
        ClearAlarms(code, result.RttAvg);
    else
        DeleteOutageRows(code); // the group says it answers; this member's own path to it is down
    if (!recovery.Held()) return;
    if (m_alert->NotifySite(code, NoticeKind::Recovery, recovery.Since))
        m_cluster->MarkSent(recovery);
    else
        m_cluster->Release(recovery); // owed still: any member tries again at its next scan
}

void TfrmMain::GroupSiteDown(const SiteResult& result) {
    const std::string& code = result.Code;
    std::string error;
    if (!m_cluster->PostAlarm(code, Now(), error)) WriteLog("[FAILURE]", "Posting alarm: " + error);
    // Down again before its recovery was told: for its contacts the outage goes on.
    if (m_cluster->OwedRecovery(code) != 0 && m_cluster->DropOwedRecovery(code)) m_cluster->StoreMarker(code, Now());
    Notice notice;
    if (!NotificationDue(code, notice.Since)) return;
    // No marker: a claim of this outage marked sent was of an earlier outage begun in the same second.
    const NoticeClaim claim = m_cluster->Claim(code, ClaimKind::Problem, notice.Since, true);
    if (!claim.Held()) return; // another member tells the contacts
    WriteLog("MAIL", "Notifying ...");
    ShowStatus("Notifying..");
    if (RunNotification(code, notice))
        m_cluster->MarkSent(claim);
    else
        m_cluster->Release(claim);
}

void TfrmMain::LeaveGroup() {
    if (!GroupActive() || !DataModule() || !DataModule()->conMain.Connected()) return;
    try {
        m_cluster->Leave();
    } catch (const std::exception& e) {
        LogStepError("Leaving the probes' group", e); // the others count this member out after the live window
    }
}
