// Console controller: alarm rows, the notification decision and its worker, the daily purge of
// old alarms and old log files.
#include "daemon/activitylog.h"
#include "daemon/tfrmmain.h"
#include "daemon/tnotifythread.h"
#include "daemon/tsitebatch.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "platform/msgloop.h"
#include "platform/progdir.h"
#include "platform/strutil.h"

#include <algorithm>
#include <chrono>
#include <cmath>
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
    if (m_batch && m_batch->Cleared(code)) return; // done by the concurrent scan's gathered statements
    TDbQuery& q = DataModule()->adoQ2;
    try {
        ExecStatement(q, {"DELETE FROM alarms WHERE code = " + SQLLiteral(code) +
                          " OR code = " + SQLLiteral(MarkerCode(code)) + " "});
    } catch (const std::exception& e) {
        WriteLog("[FAILURE]", std::string("Clearing active alarms: ") + e.what());
    }
    try {
        ExecStatement(q, {"UPDATE ", "  site ", "SET LastRTT = " + SQLLiteral(IntToStr(rtt)) + " ",
                          "WHERE code = " + SQLLiteral(code) + " "});
    } catch (const std::exception& e) {
        WriteLog("[FAILURE]", std::string("Clearing active alarms: ") + e.what());
    }
}

void TfrmMain::Notify(const std::string& code) {
    if (m_batch && m_batch->Cleared(code)) return; // its rows are gone: no outage to tell of
    TDbQuery& q = DataModule()->adoAlarms;
    OpenStatement(q, {"SELECT * FROM alarms WHERE Code = " + SQLLiteral(MarkerCode(code)) + " "});
    if (!q.Eof()) return; // notified already
    OpenStatement(q, {"SELECT * FROM alarms WHERE Code = " + SQLLiteral(code) + " ORDER BY FailTime"});
    if (q.Eof()) return; // no open outage
    const TDateTime outageStart = VarToFloatDef(q.FieldByName("failtime"));
    OpenStatement(q, {"SELECT * FROM site WHERE code = " + SQLLiteral(code) + " "});
    if (q.Eof()) return;
    const long long allowedDown = VarToIntDef(q.FieldByName("downtime"));
    if (DateDiff('n', outageStart, Now()) < allowedDown) return;
    WriteLog("MAIL", "Notifying ...");
    ShowStatus("Notifying..");
    RunNotification(code);
    ShowStatus("");
}

void TfrmMain::RunNotification(const std::string& code) {
    TNotifyThread worker(DataModule()->conMain, code, [] { MainLoop().Wake(); });
    const bool settled = MainLoop().WaitUntil([&] { return worker.Error() || worker.Done(); }, NotifyGuard);
    // The worker may still be sending pop-ups after a mail error; its text is read once it has ended.
    WaitForWorkerEnd(worker);
    if (!settled) return; // past the guard: the worker was given up on
    if (worker.Error())
        WriteLog("ERROR", "Mail fail. " + worker.ErrorText());
    else
        WriteLog("MAIL", "Complete.");
}

void TfrmMain::DailyPurge() {
    WriteLog("MAINTAIN", "Performing daily purge..");
    ExecStatement(DataModule()->adoQ1, {"DELETE FROM alarms WHERE FailTime < " + DateLiteral(Now() - 1)});
    LastPurge = Now();
    m_lastPurgeMono = GetClock().Monotonic();
    WriteLog("MAINTAIN", "Check log file archive.");
    PurgeLogFiles(ProgramDir(), DataModule()->MaxLogFileAgeDays);
    WriteLog("MAINTAIN", "Purge complete.");
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
