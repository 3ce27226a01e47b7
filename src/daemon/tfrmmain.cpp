// Console controller: start-up sequence, shutdown, menu commands and the status line.
#include "daemon/tfrmmain.h"

#include "platform/activitylog.h"
#include "monitor/dailypurge.h"
#include "monitor/groupscan.h"
#include "monitor/maintenancekeeper.h"
#include "monitor/noticerunner.h"
#include "monitor/sitehistory.h"
#include "monitor/siteoutcome.h"
#include "monitor/talertbridge.h"
#include "daemon/tfrmabout.h"
#include "history/maintenancebook.h"
#include "db/common.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "platform/errors.h"

#include <atomic>
#include <cstdio>

namespace {
std::atomic<TfrmMain*> g_frmMain{nullptr};
const char* const AppTitle = "Sentrova VKT";
} // namespace

TfrmMain* frmMain() {
    return g_frmMain;
}

TfrmMain* SetFrmMain(TfrmMain* form) {
    return g_frmMain.exchange(form);
}

TfrmMain::TfrmMain()
    : m_notices(std::make_unique<NoticeRunner>([this](const std::string& text) { ShowStatus(text); }, SiteResults)),
      m_alert(std::make_unique<TAlertBridge>(
          *m_notices, [this](const std::string& address, int& rtt) { return PingSite(address, rtt); },
          [this](const std::string& code) { PostAlarm(code); }, Acknowledgements, SiteResults)),
      m_purge(std::make_unique<::DailyPurge>()), m_group(std::make_unique<GroupScan>(*this, *m_alert, *m_notices)),
      m_history(std::make_unique<SiteHistory>(SiteResults)),
      m_outcome(std::make_unique<SiteOutcome>(*this, *m_alert, *m_group, *m_history)),
      m_maintenance(std::make_unique<MaintenanceKeeper>()) {
    m_notices->OnNoticeStanding = [this](const std::string& code) { m_history->Noticed(code); };
    timMain.OnTimer = [this] { timMainTimer(); };
    trayIcon.OnDblClick = [this] { trayIconDblClick(); };
}

void TfrmMain::UseMaintenance(MaintenanceBook* book) {
    m_maintenance->Use(book);
    m_notices->HoldDuringMaintenance(book);
    if (book == nullptr) return;
    m_maintenanceSpans = std::make_unique<MaintenanceBookSpans>(*book);
    m_history->UseMaintenance(*m_maintenanceSpans);
}

TfrmMain::~TfrmMain() {
    timMain.SetEnabled(false);
    trayIcon.SetActive(false);
}

void TfrmMain::FormShow() {
    Visible = true;
    timMain.SetEnabled(false);
    LastScan = 0;
    LastPurge = 0;
    ShutdownRequested = false;
    Caption = std::string(AppTitle) + " " + GetVersionText();
    trayIcon.SetToolTip(AppTitle);
    trayIcon.SetActive(true);
    WriteLog("SYSINIT", "VKT (Daemon Zelto System) Started.");
    ScanSettings = ReadScanSettings(ConfigFileName());
    TVKTDataModule* dm = DataModule();
    if (!dm || !dm->ActivateConnection()) {
        WriteLog("SYSINIT", "[WARNING] Unable to connect to database sytem halted.");
        mnuDataUtilities.Enabled = false;
        mnuForce.Enabled = false;
        mnuAbout.Enabled = false;
        Changed();
        return;
    }
    WriteLog("SYSINIT", "Database connection successful.");
    m_running = true;
    try {
        if (OnStartListener) OnStartListener(dm->NetPort & 0xFFFF);
    } catch (const std::exception& error) {
        WriteLog("WEBSOCK", "[ FAIL ] Failed to initialise web socket.");
        std::fprintf(stderr, "vkt: web administration port %d: %s\n", dm->NetPort & 0xFFFF, error.what());
    }
    timMain.SetInterval(1000);
    timMain.SetEnabled(true);
    Changed();
}

void TfrmMain::FormClose() {
    if (!ShutdownRequested) {
        Visible = false; // closing only hides the console; the tray icon stays
        PopupIsContextMenu = true;
        Changed();
        return;
    }
    if (m_scanning) {
        m_closeDeferred = true; // the running scan finishes first, then the program ends
        return;
    }
    Terminate();
}

void TfrmMain::Terminate() {
    timMain.SetEnabled(false);
    m_history->Stop();
    m_group->Leave();
    if (OnTerminate) OnTerminate();
}

void TfrmMain::ShutDownModule1Click() {
    ShutdownRequested = true;
    frmAbout.clear();
    FormClose();
}

void TfrmMain::mnupopShutDownClick() {
    ShutdownRequested = true;
    FormClose();
}

void TfrmMain::mnuForceClick() {
    LastScan = 0;
}

void TfrmMain::trayIconDblClick() {
    PopupIsContextMenu = false;
    DoRestore();
}

void TfrmMain::DoMinimize() {
    Visible = false;
    Changed();
}

void TfrmMain::DoRestore() {
    Visible = true;
    Changed();
}

void TfrmMain::ToggleIcon() {
    trayIcon.SetIcon(IconPhase ? "ICON_NET_ON" : "ICON_NET_OFF");
    IconPhase = !IconPhase;
}

void TfrmMain::ShowStatus(const std::string& text) {
    barStatus = text;
    trayIcon.SetToolTip(text.empty() ? AppTitle : text);
    Changed();
}

void TfrmMain::Changed() {
    if (OnChange) OnChange();
}
