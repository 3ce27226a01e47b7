// vkt: the network reachability monitor daemon. It reads no arguments; with a desktop it shows
// its console window and tray icon, otherwise (or with VKT_HEADLESS=1) it runs headless.
#include "daemon/tdaemonface.h"
#include "daemon/vktapp.h"
#ifdef VKT_HAVE_DESKTOP_FACE
#include "gui/guiface.h"
#endif

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    try {
#ifdef VKT_HAVE_DESKTOP_FACE
        if (DesktopAvailable()) return RunDaemon(*CreateDesktopFace(argc, argv));
#endif
        (void)argc;
        (void)argv;
        return RunDaemon();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vkt: %s\n", e.what());
        return 1;
    }
}
