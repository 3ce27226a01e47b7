// The daily purge: alarm and marker rows older than a day, the probes' group's old votes and claims,
// log files older than MaxLogFileAgeDays, and a check of this computer's clock against the database
// server's.
#pragma once

#include "db/dbaccess.h"

#include <functional>
#include <string>

class GroupScan;

class DailyPurge {
public:
    /// Runs the purge. `group`: the probes' group, whose old votes and claims go too while this daemon is a member.
    /// `onRowsPurged` runs once the rows are purged; old log files go even when that failed, and the
    /// failing delete is raised after them (the purge then stays due).
    void Run(GroupScan* group, const std::function<void()>& onRowsPurged);

private:
    void CheckClockAgainstServer(TDbDialect dialect);
    void PurgeLogFiles(const std::string& dir, int maxAgeDays);

    bool m_clockSkewReported = false;
};
