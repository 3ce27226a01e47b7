// What the monitor asks of the console that shows it.
#pragma once

#include <string>

class MonitorHandlers {
public:
    virtual ~MonitorHandlers() = default;
    /// Puts a text on the status line and the tray's tooltip; empty restores the idle text.
    virtual void ShowStatus(const std::string& text) = 0;
};
