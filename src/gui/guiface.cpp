// Desktop face: the entry sequence's windows on Qt.
#include "gui/guiface.h"

#include "daemon/tdaemonface.h"
#include "daemon/tfrmmain.h"
#include "daemon/tfrmsplash.h"
#include "gui/dialogs.h"
#include "gui/qtmessageloop.h"
#include "gui/resources.h"
#include "gui/tfrminstallview.h"
#include "gui/tfrmmainview.h"
#include "gui/tfrmsplashview.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

namespace {

class TDesktopFace final : public TDaemonFace {
public:
    TDesktopFace(int& argc, char** argv) : m_argc(argc), m_argv(argv) {}
    ~TDesktopFace() override {
        m_console.reset();
        m_splash.reset();
    }

    std::unique_ptr<MessageLoop> CreateLoop() override {
        m_app = std::make_unique<QApplication>(m_argc, m_argv);
        QApplication::setApplicationName(QStringLiteral("Sentrova VKT"));
        QApplication::setQuitOnLastWindowClosed(false); // closing the console only hides it
        QApplication::setWindowIcon(ResourceIcon("MAINICON"));
        return CreateQtMessageLoop();
    }

    bool EchoLog() const override { return false; }

    void ShowSplash() override {
        m_splash = std::make_unique<TfrmSplashView>();
        m_splash->show();
        m_splash->repaint();
        // The splash stays up for its minimum time while the window system keeps being served.
        MainLoop().WaitUntil([] { return false; }, std::chrono::milliseconds(TfrmSplash::MinimumShowMs));
    }

    void HideSplash() override { m_splash.reset(); }

    bool RunSetup(TfrmInstall& wizard) override {
        TfrmInstallView view(wizard);
        view.exec();
        return true;
    }

    void ShowMessage(const std::string& text) override { Dialogs().Info(nullptr, QString::fromStdString(text)); }

    void AttachConsole(TfrmMain& form) override { m_console = std::make_unique<TfrmMainView>(form); }
    void DetachConsole() override { m_console.reset(); }

private:
    int& m_argc;
    char** m_argv;
    std::unique_ptr<QApplication> m_app;
    std::unique_ptr<TfrmSplashView> m_splash;
    std::unique_ptr<TfrmMainView> m_console;
};

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// Whether the X server named by DISPLAY answers. Qt ends the process when it cannot open its
// display, so the daemon asks first (through the X client library Qt itself loads) and runs
// headless instead of dying on a stale DISPLAY.
bool XServerAnswers() {
    void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!xcb) return true; // cannot tell; let Qt try
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
    auto hasError = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
    auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
    bool answers = true;
    if (connect && hasError && disconnect) {
        void* c = connect(nullptr, nullptr);
        answers = c && hasError(c) == 0;
        if (c) disconnect(c);
    }
    dlclose(xcb);
    return answers;
}

} // namespace

bool DesktopAvailable() {
    const char* headless = std::getenv("VKT_HEADLESS");
    if (headless && std::strcmp(headless, "1") == 0) return false;
    if (Set("WAYLAND_DISPLAY")) return true;
    if (!Set("DISPLAY")) return false;
    if (XServerAnswers()) return true;
    std::fprintf(stderr, "vkt: cannot open the display %s; running headless\n", std::getenv("DISPLAY"));
    return false;
}

std::unique_ptr<TDaemonFace> CreateDesktopFace(int& argc, char** argv) {
    return std::make_unique<TDesktopFace>(argc, argv);
}
