// Console controller: the scan timer's tick — connection check, heartbeat icon, interval, daily
// purge and one scan of the sites assigned to this daemon, which the monitor runs.
#include "daemon/tfrmmain.h"
#include "db/data.h"
#include "platform/activitylog.h"
#include "platform/datetime.h"

#include <algorithm>

namespace {

/// The daily purge runs before the first scan that starts more than a day after the previous purge.
constexpr long long PurgeIntervalMs = 24LL * 60 * 60 * 1000;

} // namespace

void TfrmMain::timMainTimer() {
    // A command that re-enables the timer while a scan waits (Data Utilities, About) must not
    // start a second scan inside the first: the running scan re-enables the timer when it ends.
    if (m_scanning) return;
    timMain.SetEnabled(false); // no tick can start while this one runs
    m_scanning = true;
    HoldDatabaseCommands(true);
    try {
        RunTick();
    } catch (const std::exception& e) {
        LogStepError("Scan", e);
    } catch (...) {
        WriteLog("ERROR", "Scan: unexpected error"); // whatever it was, the timer runs on
    }
    m_scanning = false;
    HoldDatabaseCommands(false);
    if (m_closeDeferred) {
        Terminate(); // a shutdown asked for during the tick takes effect now
        return;
    }
    timMain.SetEnabled(true);
}

void TfrmMain::RunTick() {
    if (!CheckConnection()) return;
    m_monitor.TakeChannelOutcomes();
    if (m_monitor.HeldNoticesFreed()) LastScan = 0; // a held notice goes out now if its site is still down
    ToggleIcon();
    if (!ScanDue()) {
        // A member of the fleet came or went: the sites that moved to this one are probed now.
        if (m_monitor.MembershipChanged())
            m_monitor.ScanInherited(ScanSettings);
        else
            m_monitor.TakeGroupRows(); // the board's rows, read in the background
        return;
    }
    if (PurgeDue()) RunDailyPurge();
    if (!DataModule()->conMain.Connected()) return; // the next tick reconnects first
    ScanSites();
}

bool TfrmMain::CheckConnection() {
    TVKTDataModule* dm = DataModule();
    if (!dm) return false;
    if (dm->conMain.Connected()) return true;
    WriteLog("ERROR", "Database connection not avalaible. Attempting to re-establish connection.");
    if (dm->ActivateConnection()) return true;
    WriteLog("WARNING", "Database connection lost.");
    IconPhase = false; // the icons stand still until the connection is back
    return false;
}

bool TfrmMain::ScanDue() const {
    if (LastScan == 0) return true; // start-up and Force Scan
    // The members of a fleet begin their scans at the same moments of the clock (every PollDelay
    // minutes from midnight), so that a site's probes look at it within the same interval and a round
    // of the fleet is one interval long. Any change of interval is due, so a clock set back does not
    // hold the scans.
    if (m_monitor.InFleet() && DataModule()->PollDelay > 0) return ScanSlot() != m_scanSlot;
    const long long minutes = MillisecondsSince(m_lastScanMono) / 60000;
    return minutes >= DataModule()->PollDelay;
}

long long TfrmMain::ScanSlot() const {
    const long long interval = 60LL * std::max(DataModule()->PollDelay, 1);
    return DaysToSeconds(Now()) / interval;
}

bool TfrmMain::PurgeDue() const {
    return LastPurge == 0 || MillisecondsSince(m_lastPurgeMono) > PurgeIntervalMs;
}

void TfrmMain::RunDailyPurge() {
    try {
        DailyPurge();
    } catch (const std::exception& e) {
        LogStepError("Daily purge", e); // tried again before the next scan
    }
}

void TfrmMain::TakeAcknowledgements() {
    if (m_scanning) return; // the scan takes them itself
    m_monitor.TakeAcknowledgements();
}

void TfrmMain::ScanSites() {
    // The interval it began in: one that ran past its end (a long read for the board, say) is followed
    // by the next at once rather than an interval later.
    const long long slot = ScanSlot();
    m_monitor.ScanSites(ScanSettings, [this, slot] {
        LastScan = Now();
        m_lastScanMono = GetClock().Monotonic();
        m_scanSlot = slot;
    });
}
