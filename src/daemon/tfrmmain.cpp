// Console controller: start-up sequence, shutdown, menu commands and the status line.
#include "daemon/tfrmmain.h"

#include "platform/activitylog.h"
#include "daemon/tfrmabout.h"
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

TfrmMain::TfrmMain() : m_monitor(*this, Acknowledgements) {
    timMain.OnTimer = [this] { timMainTimer(); };
    trayIcon.OnDblClick = [this] { trayIconDblClick(); };
}

void TfrmMain::UseMaintenance(MaintenanceBook* book) {
    m_monitor.UseMaintenance(book);
}

void TfrmMain::UseBoard(TSiteResultSink* board) {
    m_monitor.UseBoard(board);
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
    m_monitor.Stop();
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
