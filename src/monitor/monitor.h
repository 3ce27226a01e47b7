// What a probed site comes to, wired once: the notice runner, the alert rules, the daily purge, the
// probes' group, the site history, the site outcome and the maintenance keeper are made and handed
// to each other here, and a scan of the sites assigned to this daemon runs through them. The console
// that shows it implements its handlers. On the user-interface thread.
#pragma once

#include "db/common.h"
#include "db/dbaccess.h"
#include "platform/clock.h"
#include "monitor/sitealarms.h"
#include "scan/scansettings.h"
#include "scan/grouprowsread.h"
#include "scan/sitefamilies.h"
#include "scan/siterowreader.h"

#include <functional>
#include <memory>
#include <string>

class AckInbox;
class DailyPurge;
class GroupScan;
class MaintenanceBook;
class MaintenanceKeeper;
class MaintenanceSpans;
class MonitorHandlers;
class NoticeRunner;
class SiteHistory;
class SiteOutcome;
class TAlertBridge;
class TSiteResultSink;
class TVKTDataModule;
struct ScanRow;

class Monitor {
public:
    /// `acks`: the acknowledgements the web and API threads hand in; both outlive the monitor.
    Monitor(MonitorHandlers& handlers, AckInbox& acks);
    ~Monitor();
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    /// Where the scans report results, notices and history (the status board); none: nothing is shown.
    void UseBoard(TSiteResultSink* board);
    /// The maintenance windows that hold notices, shared with the status page; none by default.
    void UseMaintenance(MaintenanceBook* book);

    /// One scan of the sites assigned to this daemon, one at a time or all at once as `settings` say;
    /// `onSitesDone` runs once every site was handled, before the history is written.
    void ScanSites(const TScanSettings& settings, const std::function<void()>& onSitesDone);
    /// Whether the fleet's live members changed since the last scan ([Cluster] Copies).
    bool MembershipChanged() const;
    /// Whether the last scan was a fleet member's ([Cluster] Copies).
    bool InFleet() const;
    /// A scan of only the sites this member took over since the last scan (none when it handed sites
    /// back only), at once rather than at the next poll.
    void ScanInherited(const TScanSettings& settings);
    /// Between scans: the group's rows read in the background for the board, once they are in; whether
    /// they came.
    bool TakeGroupRows();
    /// Counts what the webhook and the channels did since the last call.
    void TakeChannelOutcomes();
    /// Whether a maintenance window that held a notice has ended since the last call.
    bool HeldNoticesFreed();
    /// Stores the acknowledgements waiting in the inbox (not during a scan, which takes them itself).
    void TakeAcknowledgements();

    void PostAlarm(const std::string& code) { m_alarms.Post(code); }
    void ClearAlarms(const std::string& code, int rtt) { m_alarms.Clear(code, rtt); }
    void DeleteOutageRows(const std::string& code) { m_alarms.DeleteOutageRows(code); }
    /// The site's problem notice when it is due. Statement errors are raised.
    void Notify(const std::string& code);
    /// Old alarm rows, the group's old rows and log files; `onRowsPurged` runs once the rows went.
    void DailyPurge(const std::function<void()>& onRowsPurged);
    /// An orderly shutdown: the history covered so far is written and the group left.
    void Stop();

private:
    /// One scan of this member's sites, or of only those it took over.
    void Scan(const TScanSettings& settings, const std::function<void()>& onSitesDone, bool inheritedOnly);
    /// Reads table sitefamily when [Scan] Family is given; a failure is logged and every site is probed
    /// on the scan's Family.
    void LoadSiteFamilies();
    void LoadSiteTags(TVKTDataModule& dm);
    /// Whether the fleet's members changed while a whole scan runs, and the sites this member took
    /// over are to be probed now.
    bool TakeoverDue() const;
    /// In the middle of a scan of the group's `m_groupCodes`: probes what this member took over at
    /// once (only those sites, which the running scan does not hold), then goes back to the scan.
    void TakeOver();
    /// The codes listed for this daemon, kept between scans of a fleet while they do not change; false,
    /// the failure told, when they cannot be read.
    bool ReadSiteList(TVKTDataModule& dm, TStringList& codes);
    /// In a fleet, the sites other members probe and their verdicts, on the board: worked out again every
    /// few minutes, when the members changed (`shares`), and while verdicts are not known yet; `codes`:
    /// how many codes the group lists (a change reads their rows again, in the background).
    void ShowOthersSites(const std::vector<std::pair<std::string, long long>>& shares, std::size_t codes);
    /// The other members' sites as the rows last read show them.
    void ShowGroupSites();
    /// Probes `codes`, all at once or one by one as [Scan] says.
    void Probe(const TStringList& codes);
    /// Reads and probes each code's rows in turn, one probe at a time.
    void ScanOneByOne(const TStringList& codes);
    void ProbeRow(const ScanRow& row);
    /// Reads every row first, then probes them all at once ([Scan] Parallel).
    void ScanTogether(const TStringList& codes);
    /// The query on the second connection that a scan on a database server runs its gathered
    /// statements on, opened when missing; none on an embedded file or when it cannot be opened (the
    /// daemon's own connection runs them then).
    TDbQuery* AsideStatements();

    MonitorHandlers& m_handlers;
    SiteAlarms m_alarms;
    TSiteResultSink* m_board = nullptr;
    /// The running scan's settings; the alert rules' probes follow its Family.
    TScanSettings m_settings;
    /// The per-site family choice, read at the start of each scan.
    SiteFamilies m_families;
    /// The notification worker, the channels' outbox and the administrator's notices.
    std::unique_ptr<NoticeRunner> m_notices;
    /// The alert rules ([Alert], [Notify] Webhook, [Mail] Admin); inactive while their keys are absent.
    std::unique_ptr<TAlertBridge> m_alert;
    /// Old alarm rows and log files, once a day.
    std::unique_ptr<::DailyPurge> m_purge;
    /// This daemon as a member of the probes' group ([Cluster]).
    std::unique_ptr<GroupScan> m_group;
    /// What the probes leave behind ([History]): rollups, outages, uptime.
    std::unique_ptr<MaintenanceSpans> m_maintenanceSpans; // what the history leaves out; outlives it
    std::unique_ptr<SiteHistory> m_history;
    /// What each probed site comes to.
    std::unique_ptr<SiteOutcome> m_outcome;
    /// The maintenance windows' table and the notices they held.
    std::unique_ptr<MaintenanceKeeper> m_maintenance;
    /// The group's codes while a whole scan runs (none otherwise), and whether a takeover in its middle
    /// runs or failed to read the members (it is left to the end of the scan then).
    const TStringList* m_groupCodes = nullptr;
    bool m_takingOver = false;
    bool m_takeoverFailed = false;
    /// When the board last got the sites other members probe, under which members, and whether some
    /// verdicts were not known yet (they are read again after the next scan).
    Clock::MonoTime m_othersShownAt{};
    std::vector<std::pair<std::string, long long>> m_othersShownUnder;
    bool m_othersUnknown = false;
    /// The group's site rows as last read for the board, and when: their verdicts are worked out again
    /// from them after each scan, the rows themselves are read again far less often.
    std::shared_ptr<const std::vector<ScanRow>> m_groupRows;
    Clock::MonoTime m_groupRowsReadAt{};
    bool m_groupRowsRead = false, m_groupRowsTried = false;
    std::size_t m_groupRowsCodes = 0;           ///< the group's code count when they were read
    std::unique_ptr<GroupRowsRead> m_groupRead; ///< the read under way, if any
    /// The site list kept between a fleet's scans: the codes, the server's fingerprint and Daemon ID
    /// they were read under, and its version (0 while none is kept; a new one at each read).
    TStringList m_listCodes;
    std::string m_listPrint, m_listDaemon;
    long long m_listVersion = 0;
    long long m_listsRead = 0;
    /// A concurrent scan's second connection to the database server, kept from scan to scan.
    TDbConnection m_asideConnection;
    TDbQuery m_aside{m_asideConnection};
};
