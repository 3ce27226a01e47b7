// Console controller: the scan timer's tick — connection check, heartbeat icon, interval, daily
// purge and one scan of the sites assigned to this daemon, one site at a time or all at once; what
// each probed site comes to is the site outcome's.
#include "alert/probewithretries.h"
#include "platform/activitylog.h"
#include "daemon/groupscan.h"
#include "daemon/maintenancekeeper.h"
#include "daemon/sitehistory.h"
#include "daemon/siteoutcome.h"
#include "daemon/talertbridge.h"
#include "daemon/tfrmmain.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "platform/msgloop.h"
#include "platform/profile.h"
#include "platform/strutil.h"
#include "scan/concurrentscan.h"
#include "scan/siterowreader.h"
#include "scan/sitefamilies.h"
#include "web/statusboard.h"

#include <utility>
#include <vector>

namespace {

/// The daily purge runs before the first scan that starts more than a day after the previous purge.
constexpr long long PurgeIntervalMs = 24LL * 60 * 60 * 1000;

/// Sites handed on by the concurrent scan between two rounds of pending messages: the console stays
/// responsive without a poll(2) per site.
constexpr std::size_t MessagesEvery = 32;

/// The name of this daemon's history rows: its Daemon ID, and in a group its member name as well.
std::string HistoryNode(const std::string& daemonId, const std::string& member) {
    return member.empty() ? daemonId : daemonId + "/" + member;
}

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
    m_alert->TakeWebhookOutcomes();
    if (m_maintenance->HeldNoticesFreed()) LastScan = 0; // a held notice goes out now if its site is still down
    ToggleIcon();
    if (!ScanDue()) return;
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
    const long long minutes = MillisecondsSince(m_lastScanMono) / 60000;
    return minutes >= DataModule()->PollDelay;
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
    if (m_scanning || !DataModule() || !DataModule()->conMain.Connected()) return; // the next scan takes them
    m_alert->Followups.TakeInbox();
}

void TfrmMain::ScanSites() {
    const ScopedLogBlocks blocks; // thousands of lines: the day's file stays open while the scan runs
    ShowStatus("Beginning scan..");
    if (SiteResults) SiteResults->ScanBegun();
    TVKTDataModule& dm = *DataModule();
    dm.VKTID = ReadDaemonId(ConfigFileName());
    m_maintenance->Reload(dm);
    TStringList codes;
    m_outcome->ScanBegun();
    LoadSiteFamilies();
    if (SiteRowReader(dm.adoQ1, LogStepError).ReadList(dm.VKTID, codes)) {
        m_alert->ScanStarted();
        if (m_group->Start()) {
            m_history->ScanBegun(HistoryNode(dm.VKTID, m_group->Node()), dm.PollDelay);
            ShowStatus("Checking sites..");
            if (ScanSettings.Concurrent())
                ScanTogether(codes);
            else
                ScanOneByOne(codes);
        }
        m_alert->ScanEnded();
    }
    LastScan = Now();
    m_lastScanMono = GetClock().Monotonic();
    m_history->ScanEnded();
    if (SiteResults) SiteResults->ScanEnded();
    ShowStatus("");
}

void TfrmMain::LoadSiteFamilies() {
    m_families = SiteFamilies();
    if (!ScanSettings.FamilyGiven) return; // without the key the scan neither makes nor reads the table
    try {
        m_families.Load(DataModule()->adoQ1, ScanSettings.Family);
    } catch (const std::exception& e) {
        LogStepError("Reading site families", e);
        m_families = SiteFamilies();
    }
}

void TfrmMain::ScanOneByOne(const TStringList& codes) {
    SiteRowReader reader(DataModule()->adoQ1, LogStepError);
    for (const std::string& code : codes) {
        std::vector<ScanRow> rows; // copied out: the probes process messages in between
        if (!reader.ReadCode(code, rows)) break;
        for (ScanRow& row : rows)
            row.Family = m_families.For(row.Code);
        m_outcome->Expect(rows);
        for (const ScanRow& row : rows)
            ProbeRow(row);
    }
}

void TfrmMain::ProbeRow(const ScanRow& row) {
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

void TfrmMain::ScanTogether(const TStringList& codes) {
    TVKTDataModule& dm = *DataModule();
    std::vector<ScanRow> rows = SiteRowReader(dm.adoQ1, LogStepError).ReadAll(codes);
    for (ScanRow& row : rows)
        row.Family = m_families.For(row.Code);
    m_outcome->Expect(rows);
    std::size_t handed = 0;
    ConcurrentScan(ScanSettings, dm.adoQ2)
        .Run(rows, m_outcome->Addresses(), m_outcome->MayGather(), [&](const SiteResult& r, const TSiteBatch& batch) {
            WriteLog("POLL", "Polling " + r.Code + " [" + r.Address + "]");
            if (!r.ErrorText.empty())
                WriteLog("ERROR", "Exception during ICMP send echo.Unable to get ping handle: " + r.ErrorText);
            if (handed++ % MessagesEvery == 0) MainLoop().ProcessMessages();
            m_outcome->Handle(r, &batch);
        });
}
