// The desktop face of the daemon: Qt application and loop, splash, wizard dialog, console window.
#pragma once

#include <memory>

class TDaemonFace;

/// Whether the daemon should show its desktop face: a display is set and VKT_HEADLESS is not 1.
bool DesktopAvailable();
/// `argc` and `argv` must outlive the face (Qt keeps them).
std::unique_ptr<TDaemonFace> CreateDesktopFace(int& argc, char** argv);
