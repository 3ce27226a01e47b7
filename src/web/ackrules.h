// What an acknowledgement must be, wherever it comes from (the status page's form, the API): a
// usable code and comment, and a site whose outage is open on the board.
#pragma once

#include "web/boardsnapshot.h"

#include <string>

/// Whether the code (1 to 30 bytes) and the comment (at most 255) can be stored: UTF-8 text without
/// control characters.
bool AckTextUsable(const std::string& code, const std::string& comment);
/// The board's code of a site whose outage may be acknowledged (silent, or down by the group's
/// verdict) and whose code is `code` in any case; empty when there is none.
std::string OpenOutageCode(const TBoardSnapshot& board, const std::string& code);
