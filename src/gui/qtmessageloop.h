// The message loop on Qt's event loop, for the desktop face: the same contract as the poll
// loop (posted jobs, run-and-wait, timers, socket watches, waiting while events flow).
#pragma once

#include "platform/msgloop.h"

#include <memory>

/// Needs a QCoreApplication (or QApplication) on the calling thread, which becomes the loop thread.
std::unique_ptr<MessageLoop> CreateQtMessageLoop();
