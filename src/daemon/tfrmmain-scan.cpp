// Console controller: the scan timer's tick — connection check, heartbeat icon, interval, daily
// purge and one scan of the sites assigned to this daemon.
#include "daemon/activitylog.h"
#include "daemon/talertbridge.h"
#include "daemon/tfrmmain.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "platform/msgloop.h"
#include "platform/profile.h"
#include "platform/strutil.h"
#include "scan/siteresults.h"
#include "web/statusboard.h"

#include <utility>
#include <vector>

namespace {

/// The daily purge runs before the first scan that starts more than a day after the previous purge.
constexpr long long PurgeIntervalMs = 24LL * 60 * 60 * 1000;

struct SiteAddress {
    std::string Code;
    std::string Address;
    std::string Name;
};

// The site's name for the status board; a site table without the column still scans.
std::string SiteName(const TDbQuery& q) {
    const Variant* name = q.FindField("sitename");
    return name == nullptr ? std::string() : VarToStrTrim(*name);
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

void TfrmMain::ScanSites() {
    ShowStatus("Beginning scan..");
    if (SiteResults) SiteResults->ScanBegun();
    TVKTDataModule& dm = *DataModule();
    dm.VKTID = Trim(TIniFile(ConfigFileName()).ReadString("System", "VKTID", ""));
    TStringList codes;
    m_codeAddresses.Clear();
    if (ReadSiteList(codes)) {
        m_alert->ScanStarted();
        if (StartGroupScan()) {
            ShowStatus("Checking sites..");
            if (ScanSettings.Concurrent())
                ScanSitesTogether(codes);
            else
                for (const std::string& code : codes)
                    if (!ScanSite(code)) break;
        }
        m_alert->ScanEnded();
    }
    LastScan = Now();
    m_lastScanMono = GetClock().Monotonic();
    if (SiteResults) SiteResults->ScanEnded();
    ShowStatus("");
}

bool TfrmMain::ReadSiteList(TStringList& codes) {
    TVKTDataModule& dm = *DataModule();
    std::vector<std::string> lines{"SELECT VKT.sitecode FROM ", "  VKT "};
    if (!dm.VKTID.empty()) {
        lines.push_back("WHERE ");
        lines.push_back("  VKTID = " + SQLLiteral(dm.VKTID) + " ");
    }
    try {
        OpenStatement(dm.adoQ1, lines);
        for (; !dm.adoQ1.Eof(); dm.adoQ1.Next())
            codes.push_back(VarToStrTrim(dm.adoQ1.FieldByName("sitecode")));
        return true;
    } catch (const std::exception& e) {
        LogStepError("Reading the site list", e);
        return false;
    }
}

// False when the connection is gone: the rest of the scan would only fail the same way.
bool TfrmMain::ScanSite(const std::string& code) {
    TVKTDataModule& dm = *DataModule();
    if (!dm.conMain.Connected()) return false;
    std::vector<SiteAddress> rows; // copied out: the loop below processes messages between probes
    try {
        OpenStatement(dm.adoQ1, {"SELECT * FROM ", "  site ", "WHERE ", "  code = " + SQLLiteral(code) + " "});
        for (; !dm.adoQ1.Eof(); dm.adoQ1.Next())
            rows.push_back({VarToStrTrim(dm.adoQ1.FieldByName("Code")), VarToStrTrim(dm.adoQ1.FieldByName("IPaddr")),
                            SiteName(dm.adoQ1)});
    } catch (const std::exception& e) {
        LogStepError("Reading site " + code, e);
        return dm.conMain.Connected();
    }
    std::vector<std::string> rowCodes;
    for (const SiteAddress& row : rows)
        rowCodes.push_back(row.Code);
    m_codeAddresses.Expect(rowCodes);
    for (const SiteAddress& row : rows)
        ProbeSite(row.Code, row.Address, row.Name);
    return true;
}

void TfrmMain::ProbeSite(const std::string& code, const std::string& address, const std::string& name) {
    WriteLog("POLL", "Polling " + code + " [" + address + "]");
    MainLoop().ProcessMessages();
    SiteResult result;
    result.Code = code;
    result.Address = address;
    result.Name = name;
    result.Sent = 1;
    int rtt = 0;
    if (m_alert->Probe(address, rtt)) {
        result.Answered = true;
        result.Received = 1;
        result.RttMin = result.RttAvg = result.RttMax = rtt;
        result.RttAvgUs = m_probeRttUs;
    }
    SiteProbed(result);
}

void TfrmMain::ReportSite(const SiteResult& result, int groupDown, int groupFailed) {
    if (!SiteResults) return;
    // The one-at-a-time probe names its failure itself; the concurrent engine's result carries it.
    const std::string cause = result.Answered                        ? std::string()
                              : result.LastCause != ProbeCause::None ? DescribeFailure(result)
                                                                     : m_probeCause;
    SiteResults->SiteProbed({result.Code, result.Name, result.Address, result.Answered, result.RttAvg, cause, groupDown,
                             groupFailed, result.RttAvgUs});
}

void TfrmMain::SiteProbed(const SiteResult& result) {
    LatestSiteResults().Put(result);
    m_alert->TakeWebhookOutcomes();
    if (GroupActive()) {
        SiteProbedInGroup(result);
        return;
    }
    ReportSite(result, -1, 0);
    const std::string& code = result.Code;
    AlertPolicy& alert = m_alert->Policy;
    // A code with several addresses answers once all of them did; one silent address keeps its outage.
    const bool codeAnswered = m_codeAddresses.Record(code, result.Answered) == TCodeAddresses::Verdict::Answered;
    if (result.Answered) {
        if (codeAnswered) {
            alert.Answering(code);
            ClearAlarms(code, result.RttAvg);
        }
        WriteLog("POLL", code + " Responding (" + IntToStr(result.RttAvg) + " ms)");
        if (!codeAnswered) return; // nothing to tell of an address that answers
    } else {
        if (!alert.HoldsAlarms()) PostAlarm(code);
        WriteLog("AWOL", "Unable to contact " + code + " [" + result.Address + "]");
    }
    ShowStatus("sending notifications..");
    try {
        if (alert.Active())
            alert.SiteDone(code, result.Answered);
        else
            Notify(code);
    } catch (const std::exception& e) {
        LogStepError("Notifying " + code, e);
        ShowStatus("");
    }
}
