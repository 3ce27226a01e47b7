// The daily purge of old alarm rows and old log files, with the clock check that tells why a shared
// table is purged by the database server's clock.
#include "monitor/dailypurge.h"

#include "monitor/groupscan.h"
#include "platform/activitylog.h"
#include "db/alarmrows.h"
#include "db/common.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "platform/progdir.h"
#include "platform/strutil.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

/// A clock further than this from the database server's is reported once.
constexpr long long ClockSkewWarnMinutes = 5;

/// The statement that reads the database server's own clock as local time; empty where the
/// database has no clock of its own (the embedded file) or its dialect is unknown (a DSN).
std::string ServerClockSelect(TDbDialect dialect) {
    const std::string clock = ServerClock(dialect);
    return clock.empty() ? "" : "SELECT " + clock + " AS servertime";
}

bool EndsWithLog(const std::string& name) {
    return name.size() > 4 && SameText(name.substr(name.size() - 4), ".log");
}

/// The last-write time of a file that can be opened for reading, at two-second resolution; false
/// for anything else (a file that cannot be opened is skipped, as is anything but a plain file).
bool LastWriteTime(const std::string& path, TDateTime& when) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (ok) when = DateTimeFromTimeT(st.st_mtime - st.st_mtime % 2);
    return ok;
}

std::vector<std::string> LogFilesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (EndsWithLog(e->d_name)) names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

void DailyPurge::Run(GroupScan* group, const std::function<void()>& onRowsPurged) {
    WriteLog("MAINTAIN", "Performing daily purge..");
    // The two steps are independent: old log files go even when the alarm delete fails, and that
    // failure (logged by the caller) leaves the purge due, so both run again before the next scan.
    std::exception_ptr alarmsFailed;
    try {
        TVKTDataModule& dm = *DataModule();
        const TDbDialect dialect = dm.Dialect();
        CheckClockAgainstServer(dialect);
        AlarmRows(dm).PurgeDayOld(dialect, Now());
        if (group) group->Purge();
        onRowsPurged();
    } catch (const std::exception&) {
        alarmsFailed = std::current_exception();
    }
    WriteLog("MAINTAIN", "Check log file archive.");
    PurgeLogFiles(ProgramDir(), DataModule()->MaxLogFileAgeDays);
    if (alarmsFailed) std::rethrow_exception(alarmsFailed);
    WriteLog("MAINTAIN", "Purge complete.");
}

// Said once per run: the alarm times this daemon stores come from its own clock, so a skew shows
// up as outages that seem too old or too young.
void DailyPurge::CheckClockAgainstServer(TDbDialect dialect) {
    const std::string select = ServerClockSelect(dialect);
    if (m_clockSkewReported || select.empty()) return;
    TDbQuery& q = DataModule()->adoQ1;
    try {
        OpenStatement(q, {select});
        const TDateTime server = VarToFloatDef(q.FieldByName("servertime"));
        const long long minutes = std::llround((Now() - server) * 24 * 60);
        if (server == 0 || std::llabs(minutes) <= ClockSkewWarnMinutes) return;
        m_clockSkewReported = true;
        WriteLog("MAINTAIN", Format("[WARNING] This computer's clock is %lld minutes %s the database server's; "
                                    "alarms are purged by the server's clock.",
                                    std::llabs(minutes), minutes > 0 ? "ahead of" : "behind"));
    } catch (const std::exception& e) {
        WriteLog("MAINTAIN", std::string("[WARNING] Reading the database server's clock: ") + e.what());
    }
}

void DailyPurge::PurgeLogFiles(const std::string& dir, int maxAgeDays) {
    for (const std::string& name : LogFilesIn(dir)) {
        TDateTime written = 0;
        if (!LastWriteTime(dir + name, written)) continue;
        // Compared in whole milliseconds: a file exactly maxAgeDays old is kept whatever the rounding.
        const long long ageMs = DaysToMilliseconds(std::fabs(Now() - written));
        if (maxAgeDays <= 0 || ageMs <= maxAgeDays * MillisecondsPerDay) continue;
        WriteLog("MAINTAIN", "Deleteting " + name);
        ::unlink((dir + name).c_str());
    }
}
