// The one interface every way out of the daemon implements: deliver a notice or say why not.
#pragma once

#include "alert/notice.h"

#include <string>

class NoticeChannel {
public:
    virtual ~NoticeChannel() = default;
    /// Sends the notice; true when it was delivered, otherwise false with the reason in `error`.
    /// Blocking: run it away from the user-interface thread.
    virtual bool Deliver(const Notice& notice, std::string& error) = 0;
};
