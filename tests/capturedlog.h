// The activity log as a test reads it: the lines WriteLog writes while a CapturedLog lives.
#pragma once

#include "platform/activitylog.h"
#include "platform/msgloop.h"
#include "platform/tmemo.h"

#include <algorithm>
#include <string>

/// Takes the log pane while it lives. Lines written on other threads reach the pane through the
/// message loop when one is installed; Text() lets the loop hand over what is waiting first.
class CapturedLog {
public:
    /// Each line as "[category] message\n", without the time stamp and the columns' padding.
    std::string Text() const {
        if (HasMainLoop() && !MainLoop().IsLoopThread()) MainLoop().RunAndWait([] {});
        std::string text;
        for (const std::string& line : m_pane.Lines()) {
            constexpr std::size_t CategoryAt = 22, CategoryWidth = 10;
            const std::size_t close = line.find(']', CategoryAt);
            if (line.size() < CategoryAt || close == std::string::npos) continue;
            const std::size_t messageAt = CategoryAt + std::max(CategoryWidth, close + 1 - CategoryAt) + 1;
            std::string message = line.size() > messageAt ? line.substr(messageAt) : std::string();
            if (!message.empty() && message.back() == ' ') message.pop_back();
            text += line.substr(CategoryAt, close + 1 - CategoryAt) + " " + message + "\n";
        }
        return text;
    }

private:
    TMemo m_pane;
    ScopedLogPane m_install{&m_pane};
};
