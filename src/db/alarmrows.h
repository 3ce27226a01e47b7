// The rows of table alarms: one alarm row per failed probe of a site, whose earliest marks the start of
// its open outage, and the marker row "<code>MAILED" that says the outage has been notified. Every
// statement on the table is written here; errors are raised to the caller, which logs them.
#pragma once

#include "db/dbaccess.h"
#include "platform/datetime.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class TVKTDataModule;

/// What a site's rows say for its notice decision.
struct NoticeRows {
    /// The time of the marker row; none when the outage has not been notified.
    std::optional<TDateTime> Marker;
    /// The time of the earliest alarm row; none when the site has no open outage.
    std::optional<TDateTime> Start;
    /// The site row's `downtime` in minutes; none without a site row.
    std::optional<long long> AllowedDown;
};

/// What the rows say of a site's problem notice.
struct NoticeDue {
    /// The marker row exists: the contacts were told of this outage.
    bool Notified = false;
    /// The open outage has lasted the site's allowed down time.
    bool Due = false;
    /// The outage's start (its earliest alarm row); 0 when the site has no open outage.
    TDateTime Since = 0;
};

/// What one read of many sites' rows says (AlarmRows::RowsOf).
struct GatheredRows {
    /// By code: what the rows say for the site's notice decision.
    std::unordered_map<std::string, NoticeRows> Outages;
    /// The other codes that have alarm or marker rows.
    std::unordered_set<std::string> WithRows;
};

class AlarmRows {
public:
    /// Each statement on the data module's query the console has always run it on: writes on adoQ2,
    /// the outage reads on adoAlarms, the daily purge on adoQ1.
    explicit AlarmRows(TVKTDataModule& dm);
    /// Every statement on `query` (a notification worker's or the probes' group's own query).
    explicit AlarmRows(TDbQuery& query);

    /// The code of a site's marker row.
    static std::string MarkerCode(const std::string& code);

    /// Records one failed probe at `when` (two in the same second collide on the table's unique index).
    void Post(const std::string& code, TDateTime when);
    /// One row for each of the codes, all at `when`, in one statement: all of them or none.
    void Post(const std::vector<std::string>& codes, TDateTime when);
    /// Records a failed probe at `when` unless an alarm row of the site is at least as young as `since`:
    /// one row for a group scan, whichever member posts it.
    void PostIfAbsent(const std::string& code, TDateTime when, TDateTime since, TDbDialect dialect);
    /// Whether an alarm row of the site is at least as young as `since`.
    bool PostedSince(const std::string& code, TDateTime since);
    /// Removes the site's alarm rows and its marker: its next failure starts a new outage.
    void Clear(const std::string& code);
    /// The same for many sites in one statement.
    void Clear(const std::vector<std::string>& codes);

    /// Stores the site's marker row at `when`.
    void StoreMarker(const std::string& code, TDateTime when);
    /// Stores the marker row unless one exists (members of a group may store it at the same moment).
    void StoreMarkerIfAbsent(const std::string& code, TDateTime when, TDbDialect dialect);
    /// The time of the site's marker row; none when the outage has not been notified.
    std::optional<TDateTime> Marker(const std::string& code);
    /// The time of the site's earliest alarm row; none when it has no open outage.
    std::optional<TDateTime> OutageStart(const std::string& code);
    /// Whether the site's problem notice is due at `now`: no marker, and an open outage at least the
    /// site row's `downtime` minutes old (no site row: never due).
    NoticeDue ProblemDue(const std::string& code, TDateTime now);
    /// The same decision from rows already read.
    static NoticeDue Decide(const NoticeRows& rows, TDateTime now);
    /// What the rows of many sites say for their notice decisions, by code: one read of their alarm
    /// and marker rows, one of their site rows (each code must have at most one). The codes and their
    /// marker codes must have distinct, non-empty keys (SiteCodeKey); none when a row read has no key
    /// of theirs (only the database could tell whose it is).
    std::optional<std::unordered_map<std::string, NoticeRows>> OutagesOf(const std::vector<std::string>& codes);
    /// The same, with `others` in the same read of alarm and marker rows: which of them have any (a
    /// site that answered needs its rows deleted only then). Their keys must be apart from those of
    /// `codes` too.
    std::optional<GatheredRows> RowsOf(const std::vector<std::string>& codes, const std::vector<std::string>& others);
    /// The keys (SiteCodeKey) of every code that has a row, markers' codes among them: one read where a
    /// scan would otherwise ask site by site. A code with bytes beyond ASCII has the empty key.
    std::unordered_set<std::string> CodeKeys();

    /// Deletes alarm and marker rows older than a day. A shared table is purged by the database
    /// server's clock, so one daemon with a wrong clock cannot delete every other daemon's alarms;
    /// `now` is the cutoff's base only for the embedded file (and a data source of unknown kind).
    void PurgeDayOld(TDbDialect dialect, TDateTime now);

private:
    TDbQuery& m_writes;
    TDbQuery& m_reads;
    TDbQuery& m_purge;
};
