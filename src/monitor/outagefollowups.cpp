// Reminders, escalation and acknowledgements of notified outages.
#include "monitor/outagefollowups.h"

#include "alert/ackinbox.h"
#include "cluster/clustermember.h"
#include "platform/activitylog.h"
#include "monitor/noticerunner.h"
#include "db/ackrows.h"
#include "db/alarmrows.h"
#include "platform/datetime.h"
#include "db/claimrows.h"
#include "db/data.h"
#include "platform/strutil.h"
#include "monitor/siteresultsink.h"

namespace {

/// Rounds of outages long over (the site answered while no daemon was running) are kept this long.
constexpr long long RoundKeepSeconds = 2 * SecondsPerDay;

ClaimRows Claims() {
    return ClaimRows(DataModule()->adoQ2, DataModule()->Dialect());
}

} // namespace

OutageFollowups::OutageFollowups(NoticeRunner& notices, AckInbox& inbox) : m_notices(notices), m_inbox(inbox) {
    m_notices.UseAcknowledgements([this](const std::string& code, TDateTime since) { return AckOf(code, since); });
}

void OutageFollowups::ScanStarted(const AlertSettings& settings) {
    m_settings = settings;
    m_reminders.Configure(settings);
    if (m_board) m_board->AcceptsAcknowledgements(settings.FollowsUp());
    if (!settings.FollowsUp()) return;
    try {
        EnsureTables();
        AckRows rows(DataModule()->adoQ2);
        std::vector<AckRecord> all;
        for (const AckRow& row : rows.ReadAll())
            all.push_back({row.Code, row.Since, {row.By, row.Comment, row.At}});
        m_acks.Replace(all);
        for (const AckRecord& record : all)
            Show(record.Code, record.Ack); // those of the group's other members too
    } catch (const std::exception& e) {
        LogStepError("Reading the acknowledgements", e); // those of the last scan stay
    }
    TakeInbox();
}

// The web or API thread stored and logged the acknowledgement before it answered; here it joins those
// in memory. An outage that ended meanwhile (its site answered before the daemon knew of the row) has
// the row removed, so it cannot stand for the site's next outage.
void OutageFollowups::TakeInbox() {
    for (const AckRequest& request : m_inbox.Take()) {
        try {
            const std::optional<TDateTime> since = AlarmRows(*DataModule()).OutageStart(request.Code);
            if (!since) {
                AckRows(DataModule()->adoQ2).Clear(request.Code);
                continue;
            }
            const AckRecord record = m_acks.Make(request.Code, *since, request.By, request.Comment);
            m_acks.Add(record);
            Show(record.Code, record.Ack);
            Notice told;
            told.Kind = NoticeKind::Acknowledged;
            told.Since = *since;
            told.Ack = record.Ack;
            m_notices.TellChannels(request.Code, told);
        } catch (const std::exception& e) {
            LogStepError("Taking the acknowledgement of " + request.Code, e);
        }
    }
}

void OutageFollowups::EnsureTables() {
    if (m_tableMade) return;
    AckRows(DataModule()->adoQ2).EnsureTable();
    ClaimRows claims = Claims();
    claims.EnsureTable();
    claims.PurgeRounds(RoundKeepSeconds);
    m_tableMade = true;
}

void OutageFollowups::SiteDown(const std::string& code, ClusterMember* group) {
    if (!m_settings.FollowsUp()) return;
    AlarmRows rows(*DataModule());
    const std::optional<TDateTime> told = rows.Marker(code);
    if (!told) return; // not notified (yet): nothing to remind of
    if (!group) m_followedAlone.insert(SiteCodeKey(code));
    const TDateTime since = rows.OutageStart(code).value_or(*told);
    const FollowupDue due = m_reminders.Due(code, since, *told, m_acks.Of(code, since).At != 0);
    if (due.Reminder != 0 && Send(code, NoticeKind::Reminder, since, due.Reminder, group))
        m_reminders.Reminded(code, due.Reminder);
    for (int step : due.Steps)
        if (Send(code, NoticeKind::Escalation, since, step, group)) m_reminders.Escalated(code, step);
}

bool OutageFollowups::Send(const std::string& code, NoticeKind kind, TDateTime since, int round, ClusterMember* group) {
    NoticeClaim claim;
    const std::string roundKind = ClaimRows::RoundKind(kind == NoticeKind::Reminder, round);
    if (group) {
        claim = group->ClaimRound(code, kind == NoticeKind::Reminder ? ClaimKind::Reminder : ClaimKind::Escalation,
                                  since, round);
        if (!claim.Held()) return true; // another member sends it, or has
    } else {
        EnsureTables();
        if (Claims().Sent(code, roundKind, since)) return true; // sent before this daemon was restarted
    }
    Notice notice;
    notice.Kind = kind;
    notice.Since = since;
    notice.Round = round;
    const bool delivered = kind == NoticeKind::Reminder
                               ? m_notices.NotifyWith(code, notice)
                               : m_notices.Escalate(code, notice, m_settings.Escalate[std::size_t(round - 1)].Address);
    if (group) {
        if (delivered)
            group->MarkSent(claim);
        else
            group->Release(claim); // tried again at a later scan, by any member
    } else if (delivered) {
        try {
            Claims().StoreSent(code, roundKind, since, DataModule()->VKTID);
        } catch (const std::exception& e) {
            LogStepError("Storing the " + std::string(NoticeKindName(kind)) + " of " + code, e); // sent all the same
        }
    }
    return delivered;
}

void OutageFollowups::SiteAnswers(const std::string& code) {
    m_reminders.Ended(code);
    if (m_followedAlone.erase(SiteCodeKey(code)) != 0) Claims().ClearRounds(code);
    if (!m_acks.Knows(code)) return;
    m_acks.Ended(code);
    AckRows(DataModule()->adoQ2).Clear(code);
}

void OutageFollowups::Show(const std::string& code, const Acknowledgement& ack) {
    if (m_board) m_board->Acknowledged(code, ack.By, ack.Comment, ack.At);
}
