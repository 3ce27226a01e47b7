// The apprise channel: Debian's `apprise` command run with the channel's URLs, without a shell, for
// at most a bounded time.
#pragma once

#include "alert/webhookchannel.h"

#include <atomic>
#include <string>
#include <vector>

/// Runs `program -t title -b body url...`; delivered when it exits with 0 within `seconds` (it is
/// killed after that, or once `stop` turns true). The error names the exit status and the last line
/// the command wrote.
WebhookChannel::Attempt RunApprise(const std::vector<std::string>& urls, const std::string& title,
                                   const std::string& body, int seconds, const std::atomic<bool>* stop = nullptr,
                                   const std::string& program = "apprise");
