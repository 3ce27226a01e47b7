// What each site's probes leave behind when [History] is on: the hourly and daily rollups, the
// outages and the uptime the status pages show. Written at the end of every scan and at shutdown, in a
// few gathered statements that add each site's running hour and day to its rows and open or close
// the outages; what the tables hold is read once at the first scan, so uptime and outages go on across
// a restart, even one after a kill.
#pragma once

#include "history/historysettings.h"
#include "history/outagebook.h"
#include "history/rollup.h"
#include "history/uptime.h"
#include "scan/siteresult.h"

#include <memory>
#include <set>
#include <string>
#include <unordered_map>

class HistoryStore;
class TSiteResultSink;

class SiteHistory {
public:
    SiteHistory();
    ~SiteHistory();
    SiteHistory(const SiteHistory&) = delete;
    SiteHistory& operator=(const SiteHistory&) = delete;

    /// Where the sites' uptime is shown (the status board); none: it is not shown.
    void UseBoard(TSiteResultSink* board) { m_board = board; }
    /// The maintenance windows whose seconds the uptime leaves out (none by default); it outlives this.
    void UseMaintenance(const MaintenanceSpans& maintenance);
    bool Active() const { return m_settings.Enabled; }

    /// A scan begins. The first reads [History] and what the tables hold; `node` names this daemon's
    /// rows (its Daemon ID, with its member name in a group). A failing statement is logged and the
    /// start tried again at the next scan.
    void ScanBegun(const std::string& node, int pollDelayMinutes);
    /// One probed site address; `state` is what it says of its code from now on.
    void Probed(const SiteResult& result, SiteState state);
    /// The same in a group: the outage begins at the group's first alarm row, read once it is posted.
    void ProbedInGroup(const SiteResult& result, SiteState state);
    /// A notice of the site's outage stands.
    void Noticed(const std::string& code);
    /// A scan ended: its figures and outages are written, and the status pages get the sites' uptime.
    void ScanEnded();
    /// Shutdown: what the results covered up to now is written.
    void Stop();

private:
    bool Start(const std::string& node);
    void Write(long long now);
    /// Adds figures just written to the bases.
    void Apply(const std::unordered_map<std::string, Rollup::Pending>& written);
    void NewDay(HistoryStore& store, long long now);
    void Publish(long long now);

    TSiteResultSink* m_board = nullptr;
    HistorySettings m_settings;
    NoMaintenance m_noMaintenance;
    Rollup m_rollup;
    OutageBook m_outages;
    std::unordered_map<std::string, UptimeBase> m_bases;
    std::string m_node;
    bool m_read = false;         ///< the tables' base has been read
    bool m_settingsRead = false; ///< [History] has been read
    long long m_baseDay = 0;     ///< the day the day windows were read for
    /// Codes whose notice stood before their outage was opened (a group member settles before it counts).
    std::set<std::string> m_noticedEarly;
};
