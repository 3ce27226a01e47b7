// What a mail says about where and when it was made: this host's mail name, the sender to use when
// none is configured, the Date value and fresh message identifiers.
#pragma once

#include "platform/clock.h"

#include <functional>
#include <string>

/// This host's name as mail gives it: the host name when it is fully qualified, else the resolver's
/// canonical name for it when that is, else the bare host name ("localhost" when it has none).
std::string MailHostName();
/// `configured` when it is not empty; else "vkt@" and MailHostName(), so that no mail leaves with the
/// null sender (which relays take for a bounce and refuse or drop).
std::string SenderOrDefault(const std::string& configured);
/// A local date-time as a mail Date value with its numeric zone: "Wed, 09 Dec 2026 10:15:02 +0100"
/// (day and month names in English whatever the locale).
std::string MailDate(TDateTime value);
/// A fresh message identifier: "<", 32 random hexadecimal digits, "@", MailHostName(), ">".
std::string NewMessageId();
/// Replaces the identifier generator (tests use it for reproducible renderings); an empty function
/// restores the generator.
void SetMessageIdSource(std::function<std::string()> source);
