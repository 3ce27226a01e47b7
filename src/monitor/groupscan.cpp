// The group's scan: joining, voting, and the rows and notices of the group's verdict.
#include "monitor/groupscan.h"

#include "alert/notice.h"
#include "cluster/clustermember.h"
#include "cluster/fleetmember.h"
#include "cluster/rendezvous.h"
#include "platform/activitylog.h"
#include "monitor/monitorhandlers.h"
#include "monitor/noticerunner.h"
#include "monitor/sitealarms.h"
#include "monitor/talertbridge.h"
#include "db/alarmrows.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "platform/msgloop.h"
#include "platform/progdir.h"
#include "platform/strutil.h"
#include "scan/tsitebatch.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <thread>

namespace {

/// Round-trip times stored by one statement (a fleet's answering sites).
constexpr std::size_t RttsPerStatement = 500;

/// What the rows say of a site's outage: whether its contacts were told, and since when it is down
/// (the earliest alarm row, else the marker's time), read the same way by every member.
OutageRows GroupOutage(const std::string& code) {
    AlarmRows alarms(*DataModule());
    OutageRows rows;
    const std::optional<TDateTime> marked = alarms.Marker(code);
    rows.Notified = marked.has_value();
    if (rows.Notified) rows.Since = alarms.OutageStart(code).value_or(*marked);
    return rows;
}

/// Waits `seconds` with the messages of the loop handled (the console and the web stay answered).
void AwaitOneHeartbeat(int seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
        if (HasMainLoop()) MainLoop().ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace

GroupScan::GroupScan(MonitorHandlers& handlers, SiteAlarms& alarms, TAlertBridge& alert, NoticeRunner& notices)
    : m_handlers(handlers), m_alarms(alarms), m_alert(alert), m_notices(notices) {}

GroupScan::~GroupScan() = default;

bool GroupScan::Active() const {
    return m_cluster && m_cluster->Active();
}

std::string GroupScan::Node() const {
    return Active() ? m_cluster->Settings().Node : std::string();
}

bool GroupScan::Start() {
    TVKTDataModule& dm = *DataModule();
    const ClusterSettings settings = ClusterSettings::Read(ConfigFileName(), ComputerName());
    if (!settings.Active() && !m_cluster) return true;
    if (!m_cluster) m_cluster = std::make_unique<ClusterMember>(dm.conMain, dm.Dialect());
    m_cluster->Configure(settings, dm.VKTID, dm.PollDelay);
    if (!settings.Active()) return true;
    const AlertSettings& rules = m_alert.Policy.Settings();
    if (!m_degradedWarned && rules.Degrading()) {
        m_degradedWarned = true;
        WriteLog("WARNING", "[Alert] degraded links are not applied while [Cluster] Quorum is set.");
    }
    if (!m_rulesWarned && (rules.Flapping() || rules.IsolationPercent > 0 || rules.Dependencies)) {
        m_rulesWarned = true;
        WriteLog("WARNING",
                 "[Alert] flapping, isolation and dependencies are not applied while [Cluster] Quorum is set.");
    }
    try {
        std::string said = m_cluster->BeginScan();
        if (FleetMember* fleet = Fleet(); fleet && fleet->TakeJustJoined()) {
            // Members started together see each other before the sites are first divided: one alone
            // for a moment would otherwise take every site of the group for its whole first scan.
            AwaitOneHeartbeat(settings.HeartbeatSeconds);
            said = m_cluster->BeginScan();
        }
        if (!said.empty()) WriteLog("WARNING", said);
        m_stopped = false;
        m_reshared = false;
        m_rowsKnown = false;
        if (m_cluster->Acts() && m_cluster->Fleet()) {
            m_withRows = AlarmRows(dm).CodeKeys();
            m_rowsKnown = true;
        }
        return m_cluster->Acts();
    } catch (const std::exception& e) {
        // Alone, this member could double the group's notices: it waits for the database instead.
        LogStepError("Joining the probes' group", e);
        return false;
    }
}

FleetMember* GroupScan::Fleet() const {
    return m_cluster ? m_cluster->Fleet() : nullptr;
}

TStringList GroupScan::Share(const TStringList& codes, bool inheritedOnly, long long listVersion) {
    FleetMember* fleet = Fleet();
    if (!fleet) return codes;
    m_reshared = inheritedOnly;
    FleetShare share = fleet->Share(codes, listVersion);
    if (!share.Line.empty()) WriteLog("WARNING", share.Line);
    if (inheritedOnly) return std::move(share.Inherited);
    m_inherited = std::move(share.Inherited);
    return std::move(share.Held);
}

void GroupScan::EndScan(bool whole) {
    FleetMember* fleet = Fleet();
    if (!fleet) return;
    StoreRtts();
    try {
        fleet->EndScan(whole);
    } catch (const std::exception& e) {
        LogStepError("Ending the fleet's scan", e); // its votes count once a later scan gets through
    }
}

bool GroupScan::MembershipChanged() const {
    FleetMember* fleet = Fleet();
    return fleet && fleet->MembershipChanged();
}

bool GroupScan::TakeoverDue() const {
    FleetMember* fleet = Fleet();
    return fleet && !m_stopped && fleet->Acting() && fleet->MembershipChanged();
}

bool GroupScan::Holds(const std::string& code) const {
    FleetMember* fleet = Fleet();
    return !m_reshared || !fleet || fleet->Holds(code);
}

bool GroupScan::Acting() {
    FleetMember* fleet = Fleet();
    if (!fleet || m_stopped || fleet->Acting()) return !m_stopped;
    m_stopped = true;
    WriteLog("WARNING", "Cluster: " + Node() + " missed its heartbeats; the rest of this scan is not acted on");
    return false;
}

std::vector<std::pair<std::string, long long>> GroupScan::Shares(const TStringList& codes,
                                                                 long long listVersion) const {
    FleetMember* fleet = Fleet();
    return fleet ? fleet->Shares(codes, listVersion) : std::vector<std::pair<std::string, long long>>();
}

std::vector<std::string> GroupScan::ProbedBy(const std::string& code) const {
    FleetMember* fleet = Fleet();
    return fleet ? fleet->Copies(code) : std::vector<std::string>();
}

GroupSites GroupScan::OthersSites(const std::shared_ptr<const std::vector<ScanRow>>& rows) {
    GroupSites shown;
    FleetMember* fleet = Fleet();
    if (!fleet || !rows) return shown;
    const std::vector<std::string> among = fleet->LiveNames();
    if (rows != m_othersRows) {
        m_othersKeys.clear();
        m_othersKeys.reserve(rows->size());
        for (const ScanRow& row : *rows)
            m_othersKeys.push_back(Rendezvous::Key(row.Code));
    }
    if (rows != m_othersRows || among != m_othersAmong) {
        m_othersRows = rows;
        m_othersAmong = among;
        m_othersMembers.clear();
        m_othersCopies.assign(rows->size(), NotOthers);
        // Sites held by the same members share one list of names.
        std::map<std::vector<std::uint32_t>, std::uint32_t> index;
        const Rendezvous& hrw = fleet->LiveRendezvous();
        const std::uint32_t self = static_cast<std::uint32_t>(hrw.Place(Node()));
        std::vector<std::uint32_t> places;
        for (std::size_t i = 0; i < rows->size(); ++i) {
            hrw.Pick(m_othersKeys[i], fleet->CopiesPerSite(), places);
            if (std::find(places.begin(), places.end(), self) != places.end()) continue; // on its own board
            auto at = index.find(places);
            if (at == index.end()) {
                at = index.emplace(places, static_cast<std::uint32_t>(m_othersMembers.size())).first;
                std::vector<std::string> names;
                for (const std::uint32_t place : places)
                    names.push_back(hrw.Name(place));
                m_othersMembers.push_back(std::move(names));
            }
            m_othersCopies[i] = at->second;
        }
    }
    shown.Rows = rows;
    shown.Members = m_othersMembers;
    for (std::size_t i = 0; i < rows->size(); ++i) {
        const std::uint32_t copies = m_othersCopies[i];
        if (copies == NotOthers) continue;
        const ScanRow& row = (*rows)[i];
        const FleetMember::Verdict v = fleet->Peek(row.Code, row.Address, m_othersMembers[copies]);
        shown.Sites.push_back({static_cast<std::uint32_t>(i), copies,
                               static_cast<std::int8_t>(!v.Known ? SiteVerdict::GroupUnknown
                                                        : v.Down ? 1
                                                                 : 0),
                               static_cast<std::uint16_t>(v.Failed)});
    }
    return shown;
}

GroupScan::Verdict GroupScan::Vote(const SiteResult& result) {
    Verdict verdict{!result.Answered, result.Answered ? 0 : 1}; // this probe's own view until the group's is read
    try {
        verdict.Down = m_cluster->Vote(result.Code, result.Address, !result.Answered);
        verdict.Failed = m_cluster->LastFailedVotes();
        verdict.Known = m_cluster->LastVerdictKnown();
    } catch (const std::exception& e) {
        LogStepError("Voting on " + result.Code, e);
    }
    return verdict;
}

void GroupScan::Settle(const SiteResult& result, bool down) {
    if (down)
        SiteDown(result);
    else
        SiteAnswers(result);
}

bool GroupScan::AnswersQuietly(const SiteResult& result) {
    const std::string& code = result.Code;
    if (!m_rowsKnown || TSiteBatch::MatchKey(code).empty() || m_withRows.count(SiteCodeKey(code)) ||
        m_withRows.count(SiteCodeKey(AlarmRows::MarkerCode(code))))
        return false;
    if (m_cluster->OwedRecovery(code) != 0 || m_cluster->UnsettledProblem(code) != 0) return false;
    // A time the row already holds is not written again: at a million sites that is most of them.
    if (result.Answered && result.RttAvg != result.StoredRtt &&
        (!Fleet() || Fleet()->StoresRtt(code, result.Address))) {
        // The codes of one statement must be told apart by the database.
        if (!m_rttKeys.insert(TSiteBatch::MatchKey(code)).second || m_rtts.size() >= RttsPerStatement) {
            StoreRtts();
            m_rttKeys.insert(TSiteBatch::MatchKey(code));
        }
        m_rtts.push_back({code, result.RttAvg});
    }
    m_alert.Followups.SiteAnswers(code);
    return true;
}

void GroupScan::StoreRtts() {
    std::vector<SiteRtt> rtts;
    rtts.swap(m_rtts);
    m_rttKeys.clear();
    if (rtts.empty()) return;
    try {
        for (const std::string& statement : LastRttStatements(DataModule()->Dialect(), rtts))
            ExecStatement(DataModule()->adoQ2, {statement});
    } catch (const std::exception& e) {
        WriteLog("[FAILURE]", std::string("Clearing active alarms: ") + e.what());
    }
}

void GroupScan::SiteAnswers(const SiteResult& result) {
    if (AnswersQuietly(result)) return;
    const std::string& code = result.Code;
    NoticeClaim recovery;
    if (m_alert.Policy.Settings().Recovery) {
        // The recovery is claimed before the rows go, so that it stays owed when this member dies.
        const OutageRows rows = GroupOutage(code);
        if (rows.Notified) {
            recovery = m_cluster->Claim(code, ClaimKind::Recovery, rows.Since);
        } else if (const TDateTime owed = m_cluster->OwedRecovery(code); owed != 0) {
            recovery = m_cluster->Claim(code, ClaimKind::Recovery, owed);
        } else if (const TDateTime unsettled = m_cluster->UnsettledProblem(code); unsettled != 0) {
            // Its sender died before it stored the marker: the problem notice may have gone out, so its
            // contacts are told that the site answers again rather than left believing it down.
            // Told already when another member found its marker first: then only the claim is left.
            recovery = m_cluster->Claim(code, ClaimKind::Recovery, unsettled);
            m_cluster->DropUnsettledProblem(code, unsettled);
        }
    }
    if (result.Answered)
        m_alarms.Clear(code, result.RttAvg);
    else
        m_alarms.DeleteOutageRows(code); // the group says it answers; this member's own path to it is down
    if (recovery.Held()) {
        if (m_alert.NotifySite(code, NoticeKind::Recovery, recovery.Since))
            m_cluster->MarkSent(recovery);
        else
            m_cluster->Release(recovery); // owed still: any member tries again at its next scan
    }
    m_alert.Followups.SiteAnswers(code); // its acknowledgement, which the recovery carried, ends
}

void GroupScan::SiteDown(const SiteResult& result) {
    const std::string& code = result.Code;
    std::string error;
    if (!m_cluster->PostAlarm(code, Now(), error)) WriteLog("[FAILURE]", "Posting alarm: " + error);
    // Down again before its recovery was told: for its contacts the outage goes on.
    if (m_cluster->OwedRecovery(code) != 0 && m_cluster->DropOwedRecovery(code)) m_cluster->StoreMarker(code, Now());
    m_alert.Followups.SiteDown(code, m_cluster.get()); // once per reminder and step group-wide: claimed
    Notice notice;
    if (!m_notices.ProblemDue(code, notice.Since)) return;
    // No marker: a claim of this outage marked sent was of an earlier outage begun in the same second.
    const NoticeClaim claim = m_cluster->Claim(code, ClaimKind::Problem, notice.Since, true);
    if (!claim.Held()) return; // another member tells the contacts
    // The verdict was read before this member posted, claimed and read the outage: a member that has
    // found the site answering since may already have told of its recovery. Telling of the outage
    // now would leave the contacts believing it down.
    try {
        if (!m_cluster->StillDown(code, result.Address)) {
            m_cluster->Release(claim);
            return;
        }
    } catch (const std::exception& e) {
        LogStepError("Voting on " + code, e);
    }
    WriteLog("MAIL", "Notifying ...");
    m_handlers.ShowStatus("Notifying..");
    if (m_notices.Run(code, notice))
        m_cluster->MarkSent(claim);
    else
        m_cluster->Release(claim);
}

void GroupScan::Purge() {
    if (Active()) m_cluster->Purge();
}

void GroupScan::Leave() {
    if (!Active() || !DataModule() || !DataModule()->conMain.Connected()) return;
    try {
        m_cluster->Leave();
    } catch (const std::exception& e) {
        LogStepError("Leaving the probes' group", e); // the others count this member out after the live window
    }
}
