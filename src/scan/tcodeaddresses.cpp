// Counting a code's rows through one scan.
#include "scan/tcodeaddresses.h"

#include "scan/tsitebatch.h"

#include <unordered_map>

// Only codes with several rows are kept: a code with one row has its own result, and most codes
// have one.
void TCodeAddresses::Expect(const std::vector<std::string>& codes) {
    std::unordered_map<std::string, int> counts;
    counts.reserve(codes.size());
    for (const std::string& code : codes)
        ++counts[TSiteBatch::GroupKey(code)];
    for (const auto& [key, count] : counts) {
        auto at = m_codes.find(key);
        const bool pending = at != m_codes.end() && at->second.Left > 0;
        if (count == 1 && !pending) {
            if (at != m_codes.end()) m_codes.erase(at); // listed again, alone this time
            continue;
        }
        Rows& rows = m_codes[key];
        if (rows.Left == 0) rows = Rows(); // a code listed again starts a run of its own
        rows.Total += count;
        rows.Left += count;
    }
}

bool TCodeAddresses::Several(const std::string& code) const {
    auto at = m_codes.find(TSiteBatch::GroupKey(code));
    return at != m_codes.end() && at->second.Total > 1;
}

TCodeAddresses::Verdict TCodeAddresses::Record(const std::string& code, bool answered) {
    auto at = m_codes.find(TSiteBatch::GroupKey(code));
    if (at == m_codes.end() || at->second.Total <= 1) return answered ? Verdict::Answered : Verdict::Failed;
    Rows& rows = at->second;
    rows.AnyFailed = rows.AnyFailed || !answered;
    if (rows.Left > 0) --rows.Left;
    if (rows.AnyFailed) return Verdict::Failed;
    return rows.Left == 0 ? Verdict::Answered : Verdict::Pending;
}
