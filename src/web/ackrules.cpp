// AckTextUsable and OpenOutageCode: the checks the page's form and the API share.
#include "web/ackrules.h"

#include "platform/codepage.h"
#include "platform/strutil.h"

namespace {

constexpr std::size_t MaxCodeLength = 30;
constexpr std::size_t MaxCommentLength = 255;

bool Printable(const std::string& text) {
    for (unsigned char c : text)
        if (c < 32 || c == 127) return false;
    return true;
}

} // namespace

bool AckTextUsable(const std::string& code, const std::string& comment) {
    return !code.empty() && code.size() <= MaxCodeLength && comment.size() <= MaxCommentLength && Printable(code) &&
           Printable(comment) && IsUtf8(code) && IsUtf8(comment);
}

std::string OpenOutageCode(const TBoardSnapshot& board, const std::string& code) {
    for (const auto& entry : board.Sites) {
        const TSiteStatus& site = entry->Status;
        const bool down = site.GroupDown >= 0 ? site.GroupDown == 1 : site.State == TSiteStatus::Down;
        if (down && SameSiteCode(site.Code, code)) return site.Code;
    }
    return {};
}
