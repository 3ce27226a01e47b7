// The console controller: log pane, status bar, menus, tray icon, scan timer and the commands
// of the console window. It holds what a window would show; a view (Qt) renders it, and
// headless it runs on its own. What the scan's sites come to is its monitor's.
#pragma once

#include "alert/ackinbox.h"
#include "platform/tmemo.h"
#include "daemon/ttimer.h"
#include "daemon/ttrayicon.h"
#include "db/common.h"
#include "db/dbaccess.h"
#include "monitor/monitor.h"
#include "monitor/monitorhandlers.h"
#include "platform/clock.h"
#include "platform/scopedinstall.h"
#include "scan/scansettings.h"
#include "scan/sitefamilies.h"
#include "scan/siteresult.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TfrmAbout;
class MaintenanceBook;
class TSiteResultSink;

struct TMenuItem {
    std::string Caption;
    bool Enabled = true;
};

class TfrmMain : public MonitorHandlers {
public:
    TfrmMain();
    ~TfrmMain();
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;

    // Window state.
    std::string Caption = "VKT";
    bool Visible = false;
    TMemo memLog;
    std::string barStatus; // the status bar's simple text
    TTimer timMain;
    TTrayIcon trayIcon;

    // Menus.
    TMenuItem mnuSystem{"System"};
    TMenuItem mnuForce{"Force Scan"};
    TMenuItem mnuDataUtilities{"Data Utilties"};
    TMenuItem ShutDownModule1{"Shut Down Module"};
    TMenuItem mnuAbout{"About"};
    TMenuItem mnuHelp{"Sentrova Help"};
    TMenuItem mnuAboutNR{"About Sentrova"};
    TMenuItem mnu{"Show Console"};
    TMenuItem mnupopShutDown{"Shut Down Module"};

    // Start-up and shutdown state.
    bool ShutdownRequested = false;
    TDateTime LastScan = 0;
    TDateTime LastPurge = 0;
    /// Which icon the next ToggleIcon shows (false: "ICON_NET_OFF").
    bool IconPhase = false;
    /// True while a scan (one tick of the scan timer) runs.
    bool Scanning() const { return m_scanning; }
    /// True once the database connection was made at start-up.
    bool Running() const { return m_running; }

    /// The start-up sequence, run when the console is first shown.
    void FormShow();
    /// Closing the window: ends the program when shutdown was requested, otherwise only hides it.
    void FormClose();
    void ShutDownModule1Click();
    void mnupopShutDownClick();
    void mnuForceClick();
    void trayIconDblClick();
    void DoMinimize();
    void DoRestore();
    /// "Data Utilties": the scan timer stops while the window is open.
    void mnuDataUtilitiesClick();
    /// "About Sentrova": a new About window on each command.
    void mnuAboutClick();
    /// "Sentrova Help".
    void mnuHelpClick();
    /// One tick of the scan timer.
    void timMainTimer();
    void ToggleIcon();
    /// Status bar text and tray tooltip; empty restores the tooltip "Sentrova VKT".
    void ShowStatus(const std::string& text) override;
    /// Probes one address; true when it answered, with the round-trip time in `rtt` (ms).
    bool PingSite(const std::string& address, int& rtt);
    /// The same probe with all it learnt: the round trip in microseconds as well, or why it failed. A
    /// name is probed on `family` (both: once on each, answering only when both did).
    SiteResult ProbeOnce(const std::string& address, AddressFamily family = AddressFamily::Auto);
    /// One probe of a name on one family (Auto: IPv4 when it has such an address, else IPv6).
    SiteResult ProbeFamily(const std::string& address, AddressFamily family);

    // Alarm bookkeeping and notification, on the user-interface thread.
    /// Records one failed probe of the site.
    void PostAlarm(const std::string& code);
    /// Removes the site's alarms and marker and stores its round-trip time.
    void ClearAlarms(const std::string& code, int rtt);
    /// Removes the site's alarm and marker rows (the first step of ClearAlarms); a failure is logged.
    void DeleteOutageRows(const std::string& code);
    /// Notifies the site's contacts once its outage has lasted its down time; waits for the worker.
    /// Statement errors are raised to the caller.
    void Notify(const std::string& code);

    /// The [Scan] settings, read at start-up.
    TScanSettings ScanSettings;

    /// Deletes alarm rows older than a day and log files older than MaxLogFileAgeDays.
    /// A failing delete is raised to the caller (the last purge time then stays as it was).
    void DailyPurge();

    /// Called when the program is to end (the application's terminate); the entry sequence
    /// quits the message loop from it.
    std::function<void()> OnTerminate;
    /// Starts the web listener; a failure is raised as an exception.
    std::function<void(int port)> OnStartListener;
    /// Shows the Data Utilities window modally and returns when it is closed.
    std::function<void()> OnDataUtilities;
    /// A new About window was made; the view shows it.
    std::function<void(TfrmAbout& about)> OnAboutCreated;
    /// Shows a help topic of a help file.
    std::function<void(const std::string& helpFile, const std::string& topic)> OnHelp;
    /// Called after the window state (visibility, caption, status, menus) changed.
    std::function<void()> OnChange;

    /// About windows made by "About Sentrova"; "OK" only hides them, so they stay until shutdown.
    std::vector<std::unique_ptr<TfrmAbout>> frmAbout;
    /// Whether the console's context menu is the tray menu (set while the console is hidden).
    bool PopupIsContextMenu = false;
    /// Where each scan reports its per-site results (the status board); none: not reported.
    void UseBoard(TSiteResultSink* board);
    /// Acknowledgements from the web port, stored by the next scan or, between scans, at once.
    AckInbox Acknowledgements;
    /// Stores the acknowledgements waiting, unless a scan runs (it takes them itself). On the loop thread.
    void TakeAcknowledgements();
    /// The maintenance windows that hold notices, shared with the status page; none by default.
    void UseMaintenance(MaintenanceBook* book);

private:
    void Terminate();
    void Changed();
    /// Runs a command with the scan timer stopped; the timer runs again after it only if it ran
    /// before, so a command given during a scan never lets a second scan start inside it.
    void WithTimerStopped(const std::function<void()>& command);
    /// Re-establishes a lost database connection, logging the attempt; true when connected.
    bool CheckConnection();
    void RunTick();
    bool ScanDue() const;
    bool PurgeDue() const;
    /// The poll interval of the clock it is now in.
    long long ScanSlot() const;
    void RunDailyPurge();
    void ScanSites();
    void HoldDatabaseCommands(bool hold);

    bool m_scanning = false;
    // The enabled states of Data Utilities and About from before a scan held them.
    bool m_heldDataUtilities = false;
    bool m_heldAbout = false;
    // Intervals run on the monotonic clock, so that a wall-clock jump never stops scanning or purging.
    Clock::MonoTime m_lastScanMono{};
    /// In a fleet: the poll interval of the clock (counted from midnight) the last scan began in.
    long long m_scanSlot = -1;
    Clock::MonoTime m_lastPurgeMono{};
    bool m_running = false;
    bool m_closeDeferred = false;
    /// What the scan's sites come to: alarm rows, alert rules, notices, group, history, purge.
    Monitor m_monitor;
};

/// The application's console (created by the entry sequence).
TfrmMain* frmMain();
/// Installs the application's console and returns the one it replaced. Prefer ScopedFrmMain.
TfrmMain* SetFrmMain(TfrmMain* form);
using ScopedFrmMain = ScopedInstall<TfrmMain, &SetFrmMain>;
