// Counting a code's rows through one scan.
#include "scan/tcodeaddresses.h"

#include "scan/tsitebatch.h"

namespace {

/// Rows of one code as the database matches them (case and trailing blanks aside).
std::string KeyOf(const std::string& code) {
    const std::string key = TSiteBatch::MatchKey(code);
    return key.empty() ? code : key;
}

} // namespace

void TCodeAddresses::Expect(const std::vector<std::string>& codes) {
    for (const std::string& code : codes) {
        Rows& rows = m_codes[KeyOf(code)];
        if (rows.Left == 0) rows = Rows(); // a code listed again starts a run of its own
        ++rows.Total;
        ++rows.Left;
    }
}

bool TCodeAddresses::Several(const std::string& code) const {
    auto at = m_codes.find(KeyOf(code));
    return at != m_codes.end() && at->second.Total > 1;
}

TCodeAddresses::Verdict TCodeAddresses::Record(const std::string& code, bool answered) {
    auto at = m_codes.find(KeyOf(code));
    if (at == m_codes.end() || at->second.Total <= 1) return answered ? Verdict::Answered : Verdict::Failed;
    Rows& rows = at->second;
    rows.AnyFailed = rows.AnyFailed || !answered;
    if (rows.Left > 0) --rows.Left;
    if (rows.AnyFailed) return Verdict::Failed;
    return rows.Left == 0 ? Verdict::Answered : Verdict::Pending;
}
