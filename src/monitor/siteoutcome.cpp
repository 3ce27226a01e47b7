// One probed site: result line, rows, rules, notices and the board.
#include "monitor/siteoutcome.h"

#include "platform/activitylog.h"
#include "monitor/groupscan.h"
#include "monitor/monitorhandlers.h"
#include "monitor/noticerunner.h"
#include "monitor/sitealarms.h"
#include "monitor/sitehistory.h"
#include "monitor/talertbridge.h"
#include "platform/strutil.h"
#include "monitor/siteresultsink.h"

void SiteOutcome::Expect(const std::vector<ScanRow>& rows) {
    std::vector<std::string> codes;
    for (const ScanRow& row : rows)
        codes.push_back(row.Code);
    m_addresses.Expect(codes);
}

bool SiteOutcome::MayGather() const {
    return !m_alert.Policy.Active() && !m_group.Active();
}

void SiteOutcome::Handle(const SiteResult& result, const TSiteBatch* batch) {
    m_alert.TakeChannelOutcomes();
    if (m_group.Active())
        InGroup(result);
    else
        Alone(result, batch);
}

namespace {

std::string QualityKey(const SiteResult& result) {
    return result.Code + "|" + result.Address;
}

} // namespace

DegradedPolicy::Change SiteOutcome::Quality(const SiteResult& result) {
    DegradedPolicy& rule = m_alert.Degraded;
    if (!rule.Active()) return DegradedPolicy::Change::None;
    if (!result.Answered) {
        rule.Silent(QualityKey(result));
        return DegradedPolicy::Change::None;
    }
    return rule.Answered(QualityKey(result), result.Sent, result.Received, result.RttAvg);
}

void SiteOutcome::Followups(const SiteResult& result, DegradedPolicy::Change change) {
    if (change != DegradedPolicy::Change::None) {
        const DegradedPolicy& rule = m_alert.Degraded;
        m_alert.NotifyQuality(
            result.Code, change == DegradedPolicy::Change::Degraded ? NoticeKind::Degraded : NoticeKind::Normal,
            rule.Quality(result.Sent, result.Received, result.RttAvg), rule.Since(QualityKey(result)));
    }
    if (result.Answered)
        m_alert.Followups.SiteAnswers(result.Code);
    else
        m_alert.Followups.SiteDown(result.Code, nullptr);
}

void SiteOutcome::Alone(const SiteResult& result, const TSiteBatch* batch) {
    const DegradedPolicy::Change change = Quality(result);
    Report(result, -1, 0);
    const std::string& code = result.Code;
    AlertPolicy& alert = m_alert.Policy;
    // Rows the batch cleared leave nothing to clear and no outage to tell of.
    const bool cleared = batch && batch->Cleared(code);
    // A code with several addresses answers once all of them did; one silent address keeps its outage.
    const bool codeAnswered = m_addresses.Record(code, result.Answered) == TCodeAddresses::Verdict::Answered;
    m_history.Probed(result, StateOf(!result.Answered, codeAnswered));
    if (result.Answered && codeAnswered) {
        alert.Answering(code);
        if (!cleared) m_alarms.Clear(code, result.RttAvg);
    } else if (!result.Answered && !alert.HoldsAlarms() && !(batch && batch->Posted(code))) {
        m_alarms.Post(code);
    }
    ResultLine(result);
    if (result.Answered && !codeAnswered) return; // nothing to tell of an address that answers
    m_handlers.ShowStatus("sending notifications..");
    try {
        if (alert.Active())
            alert.SiteDone(code, result.Answered);
        else if (!cleared)
            m_notices.NotifyProblem(code, KnownOutage(batch, code));
        Followups(result, change);
    } catch (const std::exception& e) {
        LogStepError("Notifying " + code, e);
        m_handlers.ShowStatus("");
    }
}

const NoticeRows* SiteOutcome::KnownOutage(const TSiteBatch* batch, const std::string& code) const {
    const NoticeRows* known = batch ? batch->Outage(code) : nullptr;
    // A marker stored since (a notice the webhook delivered) may be this site's: its rows are read again.
    if (known && m_notices.MarkerStoredSince(batch->OutagesReadAt())) return nullptr;
    return known;
}

void SiteOutcome::InGroup(const SiteResult& result) {
    if (!m_group.Acting()) return; // counted out meanwhile: its share may be another member's now
    const GroupScan::Verdict verdict = m_group.Vote(result);
    Report(result, !verdict.Known ? SiteVerdict::GroupUnknown : verdict.Down ? 1 : 0, verdict.Failed);
    ResultLine(result);
    if (!verdict.Known) {
        m_addresses.Record(result.Code, true); // neither down nor answering: nothing moves yet
        m_history.ProbedInGroup(result, SiteState::Unchanged);
        return;
    }
    m_handlers.ShowStatus("sending notifications..");
    try {
        m_group.Settle(result, verdict.Down);
    } catch (const std::exception& e) {
        LogStepError("Notifying " + result.Code, e);
    }
    // Read after the settling, which posts the group's first alarm row of a new outage.
    const bool codeAnswered = m_addresses.Record(result.Code, !verdict.Down) == TCodeAddresses::Verdict::Answered;
    m_history.ProbedInGroup(result, StateOf(verdict.Down, codeAnswered));
    m_handlers.ShowStatus("");
}

SiteState SiteOutcome::StateOf(bool down, bool codeAnswered) {
    if (down) return SiteState::Down;
    return codeAnswered ? SiteState::Up : SiteState::Unchanged;
}

void SiteOutcome::ResultLine(const SiteResult& result) {
    if (result.Answered)
        WriteLog("POLL", result.Code + " Responding (" + IntToStr(result.RttAvg) + " ms)");
    else
        WriteLog("AWOL", "Unable to contact " + result.Code + " [" + result.Address + "]");
}

void SiteOutcome::Report(const SiteResult& result, int groupDown, int groupFailed) {
    m_alert.SiteProbed(result.Code, result.Address, result.Answered);
    if (!m_board) return;
    const DegradedPolicy& rule = m_alert.Degraded;
    const int degraded = rule.Active() && groupDown < 0 ? rule.Degraded(QualityKey(result)) : -1;
    m_board->SiteProbed(result, {groupDown, groupFailed, degraded, m_group.ProbedBy(result.Code)});
}
