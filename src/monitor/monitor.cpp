// The monitor's wiring, and one scan of the sites assigned to this daemon: the Daemon ID and the
// maintenance windows read again, the site rows, the alert rules' and the group's start, each site
// probed one at a time or all at once and handed to the site outcome in site-list order.
#include "monitor/monitor.h"

#include "alert/probewithretries.h"
#include "db/data.h"
#include "db/sitetags.h"
#include "history/maintenancebook.h"
#include "monitor/dailypurge.h"
#include "monitor/groupscan.h"
#include "monitor/maintenancekeeper.h"
#include "monitor/monitorhandlers.h"
#include "monitor/noticerunner.h"
#include "monitor/siteoutcome.h"
#include "monitor/siteresultsink.h"
#include "monitor/sitehistory.h"
#include "monitor/talertbridge.h"
#include "platform/activitylog.h"
#include "platform/msgloop.h"
#include "platform/profile.h"
#include "platform/strutil.h"
#include "scan/concurrentscan.h"
#include "scan/singleprobe.h"
#include "scan/siterowreader.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace {

/// Sites handed on by the concurrent scan between two rounds of pending messages: the console stays
/// responsive without a poll(2) per site.
constexpr std::size_t MessagesEvery = 32;

/// Seconds between two updates of the verdicts of the sites other members of a fleet probe, for the
/// board; and the least between two updates after the members changed, per 10,000 sites of the group.
constexpr long long OthersSitesSeconds = 120;
constexpr long long OthersSitesSecondsPer10000 = 1;
/// The rows of those sites (names and addresses) are read again after OthersSitesSeconds or one second
/// per 1,000 sites, whichever is longer, or when the group's site count changed: every member reading a
/// million rows every few minutes was most of the database server's work.
constexpr long long GroupRowsSecondsPer1000 = 1;

/// The name of this daemon's history rows: its Daemon ID, and in a group its member name as well.
std::string HistoryNode(const std::string& daemonId, const std::string& member) {
    return member.empty() ? daemonId : daemonId + "/" + member;
}

/// `codes` without `some`, which holds some of them in the same order.
TStringList Without(TStringList codes, const TStringList& some) {
    TStringList rest;
    rest.reserve(codes.size() - std::min(codes.size(), some.size()));
    std::size_t next = 0;
    for (std::string& code : codes) {
        if (next < some.size() && code == some[next])
            ++next;
        else
            rest.push_back(std::move(code));
    }
    return rest;
}

} // namespace

Monitor::Monitor(MonitorHandlers& handlers, AckInbox& acks)
    : m_handlers(handlers),
      m_notices(std::make_unique<NoticeRunner>([&handlers](const std::string& text) { handlers.ShowStatus(text); })),
      m_alert(std::make_unique<TAlertBridge>(
          *m_notices,
          [this](const std::string& address, int& rtt) { return PingSite(address, m_settings.Family, rtt); },
          [this](const std::string& code) { m_alarms.Post(code); }, acks)),
      m_purge(std::make_unique<::DailyPurge>()),
      m_group(std::make_unique<GroupScan>(handlers, m_alarms, *m_alert, *m_notices)),
      m_history(std::make_unique<SiteHistory>()),
      m_outcome(std::make_unique<SiteOutcome>(handlers, m_alarms, *m_notices, *m_alert, *m_group, *m_history)),
      m_maintenance(std::make_unique<MaintenanceKeeper>()) {
    m_notices->OnNoticeStanding = [this](const std::string& code) { m_history->Noticed(code); };
}

Monitor::~Monitor() = default;

void Monitor::UseBoard(TSiteResultSink* board) {
    m_board = board;
    m_notices->UseBoard(board);
    m_alert->Followups.UseBoard(board);
    m_history->UseBoard(board);
    m_outcome->UseBoard(board);
}

void Monitor::UseMaintenance(MaintenanceBook* book) {
    m_maintenance->Use(book);
    m_notices->HoldDuringMaintenance(book);
    if (book == nullptr) return;
    m_maintenanceSpans = std::make_unique<MaintenanceBookSpans>(*book);
    m_history->UseMaintenance(*m_maintenanceSpans);
}

void Monitor::TakeChannelOutcomes() {
    m_alert->TakeChannelOutcomes();
}

bool Monitor::HeldNoticesFreed() {
    return m_maintenance->HeldNoticesFreed();
}

void Monitor::TakeAcknowledgements() {
    if (!DataModule() || !DataModule()->conMain.Connected()) return; // the next scan takes them
    m_alert->Followups.TakeInbox();
}

void Monitor::Notify(const std::string& code) {
    m_notices->NotifyProblem(code);
}

void Monitor::DailyPurge(const std::function<void()>& onRowsPurged) {
    m_purge->Run(m_group.get(), onRowsPurged);
}

void Monitor::Stop() {
    m_history->Stop();
    m_group->Leave();
}

void Monitor::ScanSites(const TScanSettings& settings, const std::function<void()>& onSitesDone) {
    Scan(settings, onSitesDone, false);
}

bool Monitor::InFleet() const {
    return m_group->InFleet();
}

bool Monitor::MembershipChanged() const {
    return m_group->MembershipChanged();
}

void Monitor::ScanInherited(const TScanSettings& settings) {
    Scan(
        settings, [] {}, true);
}

void Monitor::Scan(const TScanSettings& settings, const std::function<void()>& onSitesDone, bool inheritedOnly) {
    const ScopedLogBlocks blocks; // thousands of lines: the day's file stays open while the scan runs
    m_settings = settings;
    m_handlers.ShowStatus("Beginning scan..");
    TSiteResultSink* const board = inheritedOnly ? nullptr : m_board; // a part of a scan is no scan of its own
    if (board) board->ScanBegun();
    if (inheritedOnly && m_board) m_board->PartialScan(true);
    TVKTDataModule& dm = *DataModule();
    dm.VKTID = ReadDaemonId(ConfigFileName());
    m_maintenance->Reload(dm);
    LoadSiteTags(dm);
    TStringList codes;
    m_outcome->ScanBegun();
    LoadSiteFamilies();
    if (ReadSiteList(dm, codes)) {
        m_alert->ScanStarted();
        if (m_group->Start()) {
            TStringList mine = m_group->Share(codes, inheritedOnly, m_listVersion);
            std::vector<std::pair<std::string, long long>> shares;
            if (board) {
                shares = m_group->Shares(codes, m_listVersion);
                if (!shares.empty()) board->FleetShown(shares);
            }
            m_history->ScanBegun(HistoryNode(dm.VKTID, m_group->Node()), dm.PollDelay);
            m_handlers.ShowStatus("Checking sites..");
            m_groupCodes = inheritedOnly ? nullptr : &codes;
            m_takeoverFailed = false;
            // Sites that moved to this member as the scan began are probed before the rest of its share:
            // a member that died a moment ago is not left waiting for the read and the probes of a whole
            // share of hundreds of thousands of sites.
            const TStringList moved = m_group->TakeInherited();
            if (!moved.empty()) {
                Probe(moved);
                mine = Without(std::move(mine), moved);
            }
            Probe(mine);
            m_groupCodes = nullptr;
            m_group->EndScan(!inheritedOnly);
            if (!shares.empty()) ShowOthersSites(shares, codes.size());
        }
        m_alert->ScanEnded();
    }
    onSitesDone();
    m_history->ScanEnded();
    if (board) board->ScanEnded();
    if (inheritedOnly && m_board) m_board->PartialScan(false);
    m_handlers.ShowStatus("");
}

// In a fleet on a database server the list is kept from scan to scan while the server's fingerprint of
// it stays the same: each member reading a million codes at every scan was a large part of a round.
bool Monitor::ReadSiteList(TVKTDataModule& dm, TStringList& codes) {
    SiteRowReader reader(dm.adoQ1, LogStepError);
    std::string print;
    if (!m_group->InFleet() || !reader.ListFingerprint(dm.VKTID, dm.Dialect(), print)) {
        m_listVersion = 0;
        m_listCodes.clear();
        return reader.ReadList(dm.VKTID, codes);
    }
    if (m_listVersion != 0 && print == m_listPrint && dm.VKTID == m_listDaemon) {
        codes = m_listCodes;
        return true;
    }
    m_listVersion = 0;
    if (!reader.ReadList(dm.VKTID, codes)) return false;
    m_listCodes = codes;
    m_listPrint = print;
    m_listDaemon = dm.VKTID;
    m_listVersion = ++m_listsRead;
    return true;
}

// The board and the windows of a tag see the same tags, read once per scan; a failed read keeps the last.
void Monitor::LoadSiteTags(TVKTDataModule& dm) {
    std::shared_ptr<const SiteTagMap> tags;
    try {
        tags = std::make_shared<const SiteTagMap>(SiteTags(dm.adoQ2).All());
    } catch (const std::exception& e) {
        LogStepError("Reading site tags", e);
        return;
    }
    if (m_board) m_board->SiteTagsRead(tags);
    m_maintenance->UseTags(tags);
}

void Monitor::LoadSiteFamilies() {
    m_families = SiteFamilies();
    if (!m_settings.FamilyGiven) return; // without the key the scan neither makes nor reads the table
    try {
        m_families.Load(DataModule()->adoQ1, m_settings.Family);
    } catch (const std::exception& e) {
        LogStepError("Reading site families", e);
        m_families = SiteFamilies();
    }
}

void Monitor::ShowOthersSites(const std::vector<std::pair<std::string, long long>>& shares, std::size_t codes) {
    long long sites = 0;
    for (const auto& share : shares)
        sites += share.second;
    const long long least = sites / 10000 * OthersSitesSecondsPer10000 * 1000;
    const long long since = m_othersShownUnder.empty() ? -1 : MillisecondsSince(m_othersShownAt);
    const bool changed = shares != m_othersShownUnder || m_othersUnknown;
    if (since >= 0 && since < std::max(least, changed ? 0 : OthersSitesSeconds * 1000)) return;
    m_othersShownAt = GetClock().Monotonic();
    m_othersShownUnder = shares; // a read that failed is not tried again at once either
    // A read that failed is tried again after OthersSitesSeconds, not after every scan: at a million
    // sites each try is a read of a million rows.
    const long long rowsAge = m_groupRowsTried ? MillisecondsSince(m_groupRowsReadAt) : -1;
    const long long rowsKept = m_groupRowsRead
                                   ? std::max(OthersSitesSeconds * 1000, sites / 1000 * GroupRowsSecondsPer1000 * 1000)
                                   : OthersSitesSeconds * 1000;
    if (!m_groupRead && (rowsAge < 0 || rowsAge >= rowsKept || codes != m_groupRowsCodes)) {
        const TVKTDataModule& dm = *DataModule();
        m_groupRowsReadAt = GetClock().Monotonic();
        m_groupRowsTried = true;
        m_groupRowsCodes = codes;
        m_groupRead = std::make_unique<GroupRowsRead>(GroupRowsRead::Source{
            dm.conMain.ConnectionString, dm.conMain.ConnectionTimeout, dm.conMain.CommandTimeout, dm.VKTID});
    }
    if (!TakeGroupRows()) ShowGroupSites();
}

bool Monitor::TakeGroupRows() {
    if (!m_groupRead || !m_groupRead->Done()) return false;
    const std::unique_ptr<GroupRowsRead> read = std::move(m_groupRead);
    try {
        m_groupRows = std::make_shared<const std::vector<ScanRow>>(read->Take());
        m_groupRowsRead = true;
    } catch (const std::exception& e) {
        LogStepError("Reading the group's sites", e);
        return false;
    }
    ShowGroupSites();
    return true;
}

void Monitor::ShowGroupSites() {
    if (!m_groupRowsRead || !m_board) return;
    GroupSites others = m_group->OthersSites(m_groupRows);
    m_othersUnknown = std::any_of(others.Sites.begin(), others.Sites.end(),
                                  [](const GroupSites::Site& s) { return s.GroupDown == SiteVerdict::GroupUnknown; });
    m_board->GroupSitesShown(std::move(others));
}

bool Monitor::TakeoverDue() const {
    return m_groupCodes && !m_takingOver && !m_takeoverFailed && m_group->TakeoverDue();
}

// The running scan's sites and those taken over are apart: a site is never probed twice at once, and
// its notices stay claimed as ever. The running scan leaves the sites it handed back meanwhile.
void Monitor::TakeOver() {
    m_takingOver = true;
    const TStringList& codes = *m_groupCodes;
    if (m_group->Start()) {
        Probe(m_group->Share(codes, true, m_listVersion));
        // Its votes on every site it now holds are current; the shares are counted once they are.
        m_group->EndScan(false);
        if (m_board) m_board->FleetShown(m_group->Shares(codes, m_listVersion));
    } else {
        m_takeoverFailed = true; // the tick after the scan tries again
    }
    m_takingOver = false;
}

namespace {

/// A stored round-trip time is written by code: where several rows share a code, one row's time says
/// nothing of what the others hold, so theirs count as unknown.
void ForgetSharedRtts(std::vector<ScanRow>& rows) {
    std::unordered_map<std::string, int> rowsOf;
    rowsOf.reserve(rows.size());
    for (const ScanRow& row : rows)
        ++rowsOf[SiteCodeKey(row.Code)];
    for (ScanRow& row : rows)
        if (rowsOf[SiteCodeKey(row.Code)] > 1) row.StoredRtt = -1;
}

} // namespace

void Monitor::Probe(const TStringList& codes) {
    if (m_settings.Concurrent())
        ScanTogether(codes);
    else
        ScanOneByOne(codes);
}

void Monitor::ScanOneByOne(const TStringList& codes) {
    SiteRowReader reader(DataModule()->adoQ1, LogStepError);
    for (const std::string& code : codes) {
        if (TakeoverDue()) TakeOver();
        // Handed back in the middle of the scan: its new members probe it.
        if (!m_group->Holds(code)) continue;
        std::vector<ScanRow> rows; // copied out: the probes process messages in between
        if (!reader.ReadCode(code, rows)) break;
        if (m_group->InFleet()) ForgetSharedRtts(rows);
        for (ScanRow& row : rows)
            row.Family = m_families.For(row.Code);
        m_outcome->Expect(rows);
        for (const ScanRow& row : rows)
            ProbeRow(row);
    }
}

void Monitor::ProbeRow(const ScanRow& row) {
    WriteLog("POLL", "Polling " + row.Code + " [" + row.Address + "]");
    MainLoop().ProcessMessages();
    SiteResult result;
    int rtt = 0;
    ProbeWithRetries(
        m_alert->Policy.Settings().Retries,
        [&](int& r) {
            result = ProbeOnce(row.Address, row.Family);
            r = result.RttAvg;
            return result.Answered;
        },
        rtt);
    m_outcome->Handle(row.Attach(result), nullptr);
}

TDbQuery* Monitor::AsideStatements() {
    const TVKTDataModule& dm = *DataModule();
    if (dm.Dialect() != TDbDialect::PostgreSQL && dm.Dialect() != TDbDialect::SqlServer) return nullptr;
    if (m_asideConnection.Connected() && m_asideConnection.ConnectionString == dm.conMain.ConnectionString)
        return &m_aside;
    try {
        m_asideConnection.Close();
        m_asideConnection.ConnectionString = dm.conMain.ConnectionString;
        m_asideConnection.ConnectionTimeout = dm.conMain.ConnectionTimeout;
        m_asideConnection.CommandTimeout = dm.conMain.CommandTimeout;
        m_asideConnection.Open();
        return &m_aside;
    } catch (const std::exception&) {
        return nullptr; // the daemon's connection runs the statements, as it does on an embedded file
    }
}

void Monitor::ScanTogether(const TStringList& codes) {
    TVKTDataModule& dm = *DataModule();
    // Reading a share of 200,000 rows takes a while on a busy server: a member that died meanwhile has
    // its sites taken over between two of the statements, not after the whole read.
    std::vector<ScanRow> rows = SiteRowReader(dm.adoQ1, LogStepError).ReadAll(codes, [this] {
        if (TakeoverDue()) TakeOver();
    });
    if (m_group->InFleet()) ForgetSharedRtts(rows); // only a fleet's member leaves a time it holds
    for (ScanRow& row : rows)
        row.Family = m_families.For(row.Code);
    m_outcome->Expect(rows);
    std::size_t handed = 0;
    const bool gather = m_outcome->MayGather();
    ConcurrentScan scan(m_settings, dm.adoQ2, dm.Dialect(), gather ? AsideStatements() : nullptr);
    if (m_groupCodes && !m_takingOver) scan.During({[this] { return TakeoverDue(); }, [this] { TakeOver(); }});
    scan.Run(rows, m_outcome->Addresses(), gather, [&](const SiteResult& r, const TSiteBatch& batch) {
        if (!m_group->Holds(r.Code)) return; // handed back in the middle of the scan: its new members probe it
        WriteLog("POLL", "Polling " + r.Code + " [" + r.Address + "]");
        if (!r.ErrorText.empty())
            WriteLog("ERROR", "Exception during ICMP send echo.Unable to get ping handle: " + r.ErrorText);
        if (handed++ % MessagesEvery == 0) MainLoop().ProcessMessages();
        m_outcome->Handle(r, &batch);
    });
}
