// Console commands that open other windows: Data Utilities, About and Help.
#include "daemon/tfrmabout.h"
#include "daemon/tfrmmain.h"

void TfrmMain::WithTimerStopped(const std::function<void()>& command) {
    // During a scan the tick has already stopped the timer and starts it again when the scan
    // ends; restarting it here would let a tick begin a second scan inside the first.
    const bool wasEnabled = timMain.Enabled();
    timMain.SetEnabled(false);
    try {
        command();
    } catch (...) {
        timMain.SetEnabled(wasEnabled);
        throw;
    }
    timMain.SetEnabled(wasEnabled);
}

// The scan and its notification worker run statements on the one database connection, which
// serves one caller at a time: Data Utilities (and About, opened over it) wait until the scan ends.
void TfrmMain::HoldDatabaseCommands(bool hold) {
    if (hold) {
        m_heldDataUtilities = mnuDataUtilities.Enabled;
        m_heldAbout = mnuAbout.Enabled;
    }
    mnuDataUtilities.Enabled = !hold && m_heldDataUtilities;
    mnuAbout.Enabled = !hold && m_heldAbout;
    Changed();
}

void TfrmMain::mnuDataUtilitiesClick() {
    if (m_scanning) return;
    WithTimerStopped([this] {
        if (OnDataUtilities) OnDataUtilities();
    });
}

void TfrmMain::mnuAboutClick() {
    if (m_scanning) return;
    WithTimerStopped([this] {
        frmAbout.push_back(std::make_unique<TfrmAbout>());
        TfrmAbout& about = *frmAbout.back();
        if (OnAboutCreated) OnAboutCreated(about);
        about.Show();
    });
}

void TfrmMain::mnuHelpClick() {
    if (OnHelp) OnHelp("sentrova.hlp", "VKT");
}
