// Entry sequence and shutdown of the daemon. Headless, SIGTERM and SIGINT act as
// "Shut Down Module" and SIGUSR1 as "Force Scan"; they arrive through a signalfd
// watched by the message loop, so they are handled on the loop thread like menu commands.
#include "daemon/vktapp.h"

#include "daemon/activitylog.h"
#include "daemon/tfrmmain.h"
#include "db/data.h"
#include "platform/msgloop.h"
#include "platform/profile.h"
#include "web/webserver.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <poll.h>
#include <stdexcept>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

int BlockControlSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &set, nullptr); // before any thread starts, so all inherit it
    std::signal(SIGPIPE, SIG_IGN);
    return signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

void HandleSignals(int fd, TfrmMain& form) {
    signalfd_siginfo info{};
    while (::read(fd, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info))) {
        if (info.ssi_signo == SIGUSR1)
            form.mnuForceClick();
        else
            form.ShutDownModule1Click();
    }
}

void AskForSetup() {
    // The setup wizard needs a terminal (or the console window); without one the start goes on
    // with the settings as they are and the wizard is offered again at the next start.
    std::fprintf(stderr,
                 "vkt: setup is pending (install=1 in %s) but no terminal is attached; "
                 "starting with the current settings\n",
                 ConfigFileName().c_str());
}

// The log keeps its fixed halt line; the reason, with the connection string (password masked),
// goes to stderr so that whoever starts the daemon sees which server or file is at fault.
void ReportHalt(const TVKTDataModule& dm) {
    std::fprintf(stderr, "vkt: database connection failed: %s\nvkt: connection string: %s\n",
                 dm.LastConnectionError().c_str(), dm.ConnectionString(true).c_str());
}

} // namespace

int RunDaemon() {
    int signalFd = BlockControlSignals();
    if (signalFd < 0) throw std::runtime_error("cannot set up signal handling (signalfd failed)");
    std::unique_ptr<MessageLoop> loop = CreatePollMessageLoop();
    SetMainLoop(loop.get());
    SetLogEcho(true);

    auto dataModule = std::make_unique<TVKTDataModule>();
    SetDataModule(dataModule.get());
    dataModule->DataModuleCreate();
    auto form = std::make_unique<TfrmMain>();
    SetFrmMain(form.get());
    SetLogPane(&form->memLog);

    if (GetPrivateProfileInt("System", "install", 0, ConfigFileName()) == 1) AskForSetup();

    // The web listener: the console's start-up sequence starts it once the database is connected.
    TWebServer web;
    web.ReadLogFile = ReadLogFileSnapshot;
    form->OnStartListener = [&web](int port) { web.Start(port); };

    form->OnTerminate = [&loop] { loop->Quit(); };
    loop->WatchSocket(signalFd, POLLIN, [&](short) { HandleSignals(signalFd, *form); });
    loop->Post([&form, &dataModule] {
        form->FormShow();
        if (!form->Running()) ReportHalt(*dataModule);
    });
    loop->Run();

    SetLogPane(nullptr);
    SetFrmMain(nullptr);
    form.reset();
    SetDataModule(nullptr);
    dataModule.reset();
    SetMainLoop(nullptr);
    ::close(signalFd);
    return 0;
}
