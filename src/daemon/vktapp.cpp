// Entry sequence and shutdown of the daemon. Headless, SIGTERM, SIGINT and SIGHUP (a closed
// terminal or SSH session) act as "Shut Down Module" and SIGUSR1 as "Force Scan"; they arrive through a signalfd
// watched by the message loop, so they are handled on the loop thread like menu commands.
#include "daemon/vktapp.h"

#include "api/apiserver.h"
#include "platform/activitylog.h"
#include "daemon/tdaemonface.h"
#include "daemon/tfrminstall.h"
#include "daemon/tfrmmain.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "history/maintenancebook.h"
#include "platform/msgloop.h"
#include "platform/profile.h"
#include "web/statusboard.h"
#include "web/webserver.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <poll.h>
#include <stdexcept>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

struct FileDescriptor {
    explicit FileDescriptor(int descriptor) : fd(descriptor) {}
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int fd;
};

int BlockControlSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &set, nullptr); // before any thread starts, so all inherit it
    std::signal(SIGPIPE, SIG_IGN);
    return signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

// SIGUSR1 is the menu's "Force Scan", so it does what the menu item does: nothing while the
// item is disabled (no database at start), which is said on stderr rather than passed over.
void ForceScan(TfrmMain& form) {
    if (form.mnuForce.Enabled)
        form.mnuForceClick();
    else
        std::fprintf(stderr, "vkt: SIGUSR1 ignored: Force Scan is disabled (no database connection)\n");
}

// While the setup questions wait on the terminal no loop reads the signals: SIGINT, SIGTERM and SIGHUP
// keep their default action then, so Ctrl-C at a question ends the program at once (nothing of
// the wizard is written; it writes only after the last answer) instead of being held back and
// acting after the user has gone through every question.
class ScopedDefaultStopSignals {
public:
    ScopedDefaultStopSignals() {
        sigemptyset(&m_set);
        sigaddset(&m_set, SIGTERM);
        sigaddset(&m_set, SIGINT);
        sigaddset(&m_set, SIGHUP);
        pthread_sigmask(SIG_UNBLOCK, &m_set, nullptr);
    }
    ~ScopedDefaultStopSignals() { pthread_sigmask(SIG_BLOCK, &m_set, nullptr); }
    ScopedDefaultStopSignals(const ScopedDefaultStopSignals&) = delete;
    ScopedDefaultStopSignals& operator=(const ScopedDefaultStopSignals&) = delete;

private:
    sigset_t m_set;
};

void HandleSignals(int fd, TfrmMain& form) {
    signalfd_siginfo info{};
    while (::read(fd, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info))) {
        if (info.ssi_signo == SIGUSR1)
            ForceScan(form);
        else
            form.ShutDownModule1Click();
    }
}

class THeadlessFace final : public TDaemonFace {
public:
    std::unique_ptr<MessageLoop> CreateLoop() override { return CreatePollMessageLoop(); }
    bool EchoLog() const override { return true; }
    bool RunSetup(TfrmInstall& wizard) override {
        if (isatty(STDIN_FILENO)) {
            ScopedDefaultStopSignals stoppable;
            RunTerminalSetup(wizard, std::cin, std::cout);
            return true;
        }
        // Without a terminal the start goes on with the settings as they are, and the wizard
        // is offered again at the next start.
        std::fprintf(stderr,
                     "vkt: setup is pending (install=1 in %s) but no terminal is attached; "
                     "starting with the current settings\n",
                     wizard.ConfigFile().c_str());
        return false;
    }
    void ShowMessage(const std::string& text) override { std::printf("%s\n", text.c_str()); }
};

// Entry steps 5 to 7: the first-run wizard when the configuration asks for it.
void RunFirstRunSetup(TDaemonFace& face) {
    if (GetPrivateProfileInt("System", "install", 0, ConfigFileName()) != 1) return;
    face.HideSplash();
    TfrmInstall wizard;
    if (face.RunSetup(wizard)) face.ShowMessage(MsgRestart);
}

// The log keeps its fixed halt line; the reason, with the connection string (password masked),
// goes to stderr so that whoever starts the daemon sees which server or file is at fault.
void ReportHalt(const TVKTDataModule& dm) {
    std::fprintf(stderr, "vkt: database connection failed: %s\nvkt: connection string: %s\n",
                 dm.LastConnectionError().c_str(), dm.ConnectionString(true).c_str());
}

} // namespace

std::unique_ptr<TDaemonFace> CreateHeadlessFace() {
    return std::make_unique<THeadlessFace>();
}

int RunDaemon() {
    return RunDaemon(*CreateHeadlessFace());
}

// Every install below is undone in reverse order on the way out, each guard before the object it
// names: the console goes before the data module, the data module before the loop.
int RunDaemon(TDaemonFace& face) {
    FileDescriptor signalFd(BlockControlSignals());
    if (signalFd.fd < 0) throw std::runtime_error("cannot set up signal handling (signalfd failed)");
    std::unique_ptr<MessageLoop> loop = face.CreateLoop();
    ScopedMainLoop installLoop(loop.get());
    // An exception that escapes a handler on the loop thread is logged, and the loop goes on.
    ScopedLoopErrorReporter reporter([](const std::string& message) { WriteLog("ERROR", message); });
    SetLogEcho(face.EchoLog());
    face.ShowSplash();

    auto dataModule = std::make_unique<TVKTDataModule>();
    ScopedDataModule installDataModule(dataModule.get());
    dataModule->DataModuleCreate();
    auto form = std::make_unique<TfrmMain>();
    ScopedFrmMain installForm(form.get());
    ScopedLogPane installPane(&form->memLog);

    RunFirstRunSetup(face);
    face.HideSplash();
    face.AttachConsole(*form);

    // The web listener: the console's start-up sequence starts it once the database is connected.
    // The status board outlives the listener whose threads read it.
    TStatusBoard board;
    form->UseBoard(&board);
    MaintenanceBook maintenance;
    form->UseMaintenance(&maintenance);
    TWebServer web;
    web.ReadLogFile = ReadLogFileSnapshot;
    web.Board = &board;
    web.Maintenance = &maintenance;
    web.DatabaseUp = [] { return DataModule() != nullptr && DataModule()->conMain.Connected(); };
    web.Acknowledge = [&board, form = form.get(), loop = loop.get()](const std::string& code, const std::string& by,
                                                                     const std::string& comment) {
        form->Acknowledgements.Add({code, by, comment});
        board.Acknowledged(code, by, comment, Now()); // shown at once; stored by the loop thread
        loop->Post([form] { form->TakeAcknowledgements(); });
    };
    // The API ([Api], off by default) starts with it, on a connection of its own, whatever the
    // admin port's fate.
    TApiServer api;
    api.Board = &board;
    api.DatabaseUp = web.DatabaseUp;
    api.Maintenance = &maintenance;
    api.Acknowledge = web.Acknowledge;
    form->OnStartListener = [&web, &api, &dataModule](int port) {
        api.Start(dataModule->ConnectionString(), dataModule->Dialect(), dataModule->PollDelay);
        web.Start(port);
    };

    form->OnTerminate = [&loop] { loop->Quit(); };
    ScopedSocketWatch signals(*loop, signalFd.fd, POLLIN, [&](short) { HandleSignals(signalFd.fd, *form); });
    loop->Post([&form, &dataModule] {
        form->FormShow();
        if (!form->Running()) ReportHalt(*dataModule);
    });
    loop->Run();

    face.DetachConsole();
    return 0;
}
