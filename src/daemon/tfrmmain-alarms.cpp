// Console controller: alarm rows, the notification decision and its worker, the daily purge of
// old alarms and old log files.
#include "alert/notice.h"
#include "daemon/activitylog.h"
#include "daemon/groupscan.h"
#include "daemon/talertbridge.h"
#include "daemon/tfrmmain.h"
#include "daemon/tnotifythread.h"
#include "db/connstring.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "platform/msgloop.h"
#include "platform/progdir.h"
#include "platform/strutil.h"
#include "web/statusboard.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// Notify stops waiting for a worker once more than 3 whole minutes have passed (the worker's own
/// time-outs normally end it within seconds).
constexpr std::chrono::milliseconds NotifyGuard{4 * 60 * 1000};

/// A marker row "<code>MAILED" says that the outage has been notified.
std::string MarkerCode(const std::string& code) {
    return code + "MAILED";
}

std::string DateLiteral(TDateTime moment) {
    return SQLLiteral(FormatSQLDate(false, moment));
}

/// The worker hands the marker insert to this thread; it is served while we wait here.
void WaitForWorkerEnd(const TNotifyThread& worker) {
    while (!MainLoop().WaitUntil([&] { return !worker.Running(); }, NotifyGuard)) {
    }
}

/// A clock further than this from the database server's is reported once.
constexpr long long ClockSkewWarnMinutes = 5;

/// The statement that reads the database server's own clock as local time; empty where the
/// database has no clock of its own (the embedded file) or its dialect is unknown (a DSN).
std::string ServerClockSelect(TDbDialect dialect) {
    switch (dialect) {
    case TDbDialect::PostgreSQL:
        return "SELECT LOCALTIMESTAMP AS servertime";
    case TDbDialect::SqlServer:
        return "SELECT GETDATE() AS servertime";
    default:
        return "";
    }
}

/// The moment before which alarm rows are purged. A shared table is purged by the database
/// server's clock, so one daemon with a wrong clock cannot delete every other daemon's alarms.
std::string PurgeCutoff(TDbDialect dialect) {
    switch (dialect) {
    case TDbDialect::PostgreSQL:
        return "LOCALTIMESTAMP - INTERVAL '1 day'";
    case TDbDialect::SqlServer:
        return "DATEADD(day, -1, GETDATE())";
    default:
        return DateLiteral(Now() - 1);
    }
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

void TfrmMain::PostAlarm(const std::string& code) {
    try {
        ExecStatement(DataModule()->adoQ2, {"INSERT INTO alarms (Code, FailTime) VALUES (" + SQLLiteral(code) + ", " +
                                            DateLiteral(Now()) + ")"});
    } catch (const std::exception& e) {
        WriteLog("[FAILURE]", std::string("Posting alarm: ") + e.what());
    }
}

void TfrmMain::ClearAlarms(const std::string& code, int rtt) {
    DeleteOutageRows(code);
    try {
        ExecStatement(DataModule()->adoQ2, {"UPDATE ", "  site ", "SET LastRTT = " + SQLLiteral(IntToStr(rtt)) + " ",
                                            "WHERE code = " + SQLLiteral(code) + " "});
    } catch (const std::exception& e) {
        WriteLog("[FAILURE]", std::string("Clearing active alarms: ") + e.what());
    }
}

void TfrmMain::DeleteOutageRows(const std::string& code) {
    try {
        ExecStatement(DataModule()->adoQ2, {"DELETE FROM alarms WHERE code = " + SQLLiteral(code) +
                                            " OR code = " + SQLLiteral(MarkerCode(code)) + " "});
    } catch (const std::exception& e) {
        WriteLog("[FAILURE]", std::string("Clearing active alarms: ") + e.what());
    }
}

void TfrmMain::Notify(const std::string& code) {
    Notice notice;
    if (!NotificationDue(code, notice.Since)) return;
    WriteLog("MAIL", "Notifying ...");
    ShowStatus("Notifying..");
    RunNotification(code, notice);
    ShowStatus("");
}

bool TfrmMain::NotificationDue(const std::string& code, TDateTime& outageStart) {
    TDbQuery& q = DataModule()->adoAlarms;
    OpenStatement(q, {"SELECT * FROM alarms WHERE Code = " + SQLLiteral(MarkerCode(code)) + " "});
    if (!q.Eof()) { // notified already
        if (SiteResults) SiteResults->NoticeStanding(code);
        return false;
    }
    OpenStatement(q, {"SELECT * FROM alarms WHERE Code = " + SQLLiteral(code) + " ORDER BY FailTime"});
    if (q.Eof()) return false; // no open outage
    outageStart = VarToFloatDef(q.FieldByName("failtime"));
    OpenStatement(q, {"SELECT * FROM site WHERE code = " + SQLLiteral(code) + " "});
    if (q.Eof()) return false;
    const long long allowedDown = VarToIntDef(q.FieldByName("downtime"));
    return DateDiff('n', outageStart, Now()) >= allowedDown;
}

bool TfrmMain::RunNotification(const std::string& code, const Notice& notice) {
    Notice told = notice;
    told.Daemon = DataModule()->VKTID;
    TNotifyThread worker(
        DataModule()->conMain, code, [] { MainLoop().Wake(); }, told);
    const bool settled = MainLoop().WaitUntil([&] { return worker.Error() || worker.Done(); }, NotifyGuard);
    // Past the guard the mail still in progress is cancelled, so the worker ends at once and the
    // scan goes on; the notification counts as failed and is tried again at the next scan.
    if (!settled) worker.Cancel();
    // The worker may still be sending pop-ups after a mail error; its text is read once it has ended.
    WaitForWorkerEnd(worker);
    CountNotice(code, worker);
    // The webhook's receiver is not waited for: its queue posts the notice after the scan has gone on.
    if (worker.Composed()) m_alert->QueueWebhook(code, worker.Told(), worker.Delivered());
    if (!settled) {
        WriteLog("ERROR", "Mail fail. Notification not finished within " + std::to_string(NotifyGuard.count() / 1000) +
                              " seconds");
        return false;
    }
    if (worker.Error()) WriteLog("ERROR", "Mail fail. " + worker.ErrorText());
    for (const std::string& failure : worker.PopupFailures())
        WriteLog("ERROR", "Mail fail. " + failure);
    // A pop-up that went nowhere must not read as done unless something else was delivered.
    if (!worker.Error() && (worker.PopupFailures().empty() || worker.Delivered())) WriteLog("MAIL", "Complete.");
    return worker.Delivered();
}

// Each channel counts what it did: a mail a server took or refused, pop-ups sent or not; a notice
// without contacts, or a mail that counts as done because no server is set, counts nothing.
void TfrmMain::CountNotice(const std::string& code, const TNotifyThread& worker) {
    if (!SiteResults) return;
    using Channel = TNotifyThread::Channel;
    if (worker.Mail() != Channel::Untried) SiteResults->NoticeSent(code, "mail", worker.Mail() == Channel::Sent);
    if (worker.Popups() != Channel::Untried) SiteResults->NoticeSent(code, "popup", worker.Popups() == Channel::Sent);
    if (worker.MarkerStored()) SiteResults->NoticeStanding(code);
}

void TfrmMain::DailyPurge() {
    WriteLog("MAINTAIN", "Performing daily purge..");
    // The two steps are independent: old log files go even when the alarm delete fails, and that
    // failure (logged by the caller) leaves the purge due, so both run again before the next scan.
    std::exception_ptr alarmsFailed;
    try {
        const TDbDialect dialect = DataModule()->Dialect();
        CheckClockAgainstServer(dialect);
        ExecStatement(DataModule()->adoQ1, {"DELETE FROM alarms WHERE FailTime < " + PurgeCutoff(dialect)});
        m_group->Purge();
        LastPurge = Now();
        m_lastPurgeMono = GetClock().Monotonic();
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
void TfrmMain::CheckClockAgainstServer(TDbDialect dialect) {
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

void TfrmMain::PurgeLogFiles(const std::string& dir, int maxAgeDays) {
    for (const std::string& name : LogFilesIn(dir)) {
        TDateTime written = 0;
        if (!LastWriteTime(dir + name, written)) continue;
        // Compared in whole milliseconds: a file exactly maxAgeDays old is kept whatever the rounding.
        const long long ageMs = std::llround(std::fabs(Now() - written) * 86400000.0);
        if (maxAgeDays <= 0 || ageMs <= maxAgeDays * 86400000LL) continue;
        WriteLog("MAINTAIN", "Deleteting " + name);
        ::unlink((dir + name).c_str());
    }
}
