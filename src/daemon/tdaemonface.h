// What the entry sequence asks of the face the daemon shows: headless (stdout and the
// terminal) or the desktop (the Qt windows of src/gui). The sequence itself is the same.
#pragma once

#include "platform/msgloop.h"

#include <memory>
#include <string>

class TfrmInstall;
class TfrmMain;

class TDaemonFace {
public:
    virtual ~TDaemonFace() = default;
    /// The message loop that drives the program (made first: windows need it).
    virtual std::unique_ptr<MessageLoop> CreateLoop() = 0;
    /// Whether log lines are echoed to stdout.
    virtual bool EchoLog() const = 0;
    /// Shows the splash screen for its minimum time.
    virtual void ShowSplash() {}
    virtual void HideSplash() {}
    /// Runs the setup wizard modally; false when no wizard could be shown at all.
    virtual bool RunSetup(TfrmInstall& wizard) = 0;
    /// A message box (or its terminal equivalent).
    virtual void ShowMessage(const std::string& text) = 0;
    /// Gives the console its windows; DetachConsole removes them before the console goes.
    virtual void AttachConsole(TfrmMain&) {}
    virtual void DetachConsole() {}
};

/// The headless face: poll loop, log on stdout, the wizard on a terminal when stdin is one.
std::unique_ptr<TDaemonFace> CreateHeadlessFace();
