// What one probed site comes to, whichever engine probed it: the result line, the alarm rows or the
// round-trip time, the alert rules or the group's verdict, the notification decision, the site's
// history and its line on the status board; the console's status line says what it is doing.
#pragma once

#include "alert/degradedpolicy.h"
#include "history/rollup.h"
#include "scan/siterowreader.h"
#include "scan/tcodeaddresses.h"
#include "scan/tsitebatch.h"

#include <vector>

class GroupScan;
class MonitorHandlers;
class NoticeRunner;
class SiteAlarms;
class SiteHistory;
class TAlertBridge;
class TSiteResultSink;

class SiteOutcome {
public:
    SiteOutcome(MonitorHandlers& handlers, SiteAlarms& alarms, NoticeRunner& notices, TAlertBridge& alert,
                GroupScan& group, SiteHistory& history)
        : m_handlers(handlers), m_alarms(alarms), m_notices(notices), m_alert(alert), m_group(group),
          m_history(history) {}

    /// Where each site's line is shown (the status board); none: it is not shown.
    void UseBoard(TSiteResultSink* board) { m_board = board; }

    /// A new scan: no rows expected yet.
    void ScanBegun() { m_addresses.Clear(); }
    /// Counts the rows about to be probed, so that a code with several answers only once all did.
    void Expect(const std::vector<ScanRow>& rows);
    const TCodeAddresses& Addresses() const { return m_addresses; }
    /// Whether a batch may clear the rows of the sites that answered before they are handled: not with
    /// the alert rules on, which read an answering site's outage rows (was it told?) before they go, nor
    /// in a group, whose rows follow the group's verdict.
    bool MayGather() const;

    /// Handles one probed site address, in site-list order; the "Polling" line has been written.
    /// `batch`: the gathered statements of its run, when the concurrent scan ran them (their cleared
    /// codes are done with).
    void Handle(const SiteResult& result, const TSiteBatch* batch);

private:
    void Alone(const SiteResult& result, const TSiteBatch* batch);
    /// The degraded rule's verdict on the scan of one site address (alone only).
    DegradedPolicy::Change Quality(const SiteResult& result);
    /// The notice of a change of the degraded rule's verdict; reminders and escalation of an outage.
    void Followups(const SiteResult& result, DegradedPolicy::Change change);
    /// The site's outage rows as its batch read them, while no marker stored since can have changed them.
    const NoticeRows* KnownOutage(const TSiteBatch* batch, const std::string& code) const;
    void InGroup(const SiteResult& result);
    /// What an address's result says of its code: down, up once every address answered, else unchanged.
    static SiteState StateOf(bool down, bool codeAnswered);
    /// The "Responding" or "Unable to contact" line.
    static void ResultLine(const SiteResult& result);
    /// The site's line on the status board; `groupDown` is the group's verdict (-1: alone).
    void Report(const SiteResult& result, int groupDown, int groupFailed);

    MonitorHandlers& m_handlers;
    SiteAlarms& m_alarms;
    NoticeRunner& m_notices;
    TAlertBridge& m_alert;
    GroupScan& m_group;
    SiteHistory& m_history;
    TSiteResultSink* m_board = nullptr;
    /// The rows of each code in the running scan.
    TCodeAddresses m_addresses;
};
