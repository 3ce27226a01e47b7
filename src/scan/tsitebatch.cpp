// Gathered alarm and round-trip-time statements of a run of probed sites.
#include "scan/tsitebatch.h"

#include "db/data.h"
#include "platform/strutil.h"

#include <map>

namespace {

/// Codes per statement: keeps each statement's text to a few kilobytes.
constexpr std::size_t CodesPerStatement = 400;

std::string InList(const std::vector<std::string>& codes, std::size_t from, std::size_t to, bool withMarkers) {
    std::string list;
    for (std::size_t i = from; i < to; ++i) {
        list += (list.empty() ? "" : ", ") + SQLLiteral(codes[i]);
        if (withMarkers) list += ", " + SQLLiteral(codes[i] + "MAILED");
    }
    return "(" + list + ")";
}

/// Runs `statement` over the codes in chunks; false when any chunk fails.
template <typename Make> bool RunChunked(TDbQuery& query, const std::vector<std::string>& codes, Make make) {
    bool ok = true;
    for (std::size_t from = 0; from < codes.size(); from += CodesPerStatement) {
        try {
            ExecStatement(query, {make(from, std::min(codes.size(), from + CodesPerStatement))});
        } catch (const std::exception&) {
            ok = false;
        }
    }
    return ok;
}

} // namespace

std::string TSiteBatch::MatchKey(const std::string& code) {
    std::string key = code;
    while (!key.empty() && key.back() == ' ')
        key.pop_back();
    for (char& c : key) {
        if (static_cast<unsigned char>(c) >= 0x80) return {};
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return key;
}

bool TSiteBatch::Admit(const SiteResult& result) {
    if (m_alone) return false;
    const std::string key = MatchKey(result.Code);
    if (key.empty()) { // only the database can match it: it stays alone in its batch
        if (!Empty()) return false;
        m_alone = true;
        m_keys.insert(result.Code);
        return true;
    }
    const std::string marker = key + "MAILED";
    if (m_keys.count(key) || m_keys.count(marker)) return false;
    m_keys.insert(key);
    m_keys.insert(marker);
    return true;
}

void TSiteBatch::Run(TDbQuery& query, const std::vector<SiteResult>& results, const TCodeAddresses& addresses) {
    std::vector<std::string> answered;
    std::map<int, std::vector<std::string>> byRtt;
    for (const SiteResult& r : results) {
        if (!r.Answered || MatchKey(r.Code).empty() || addresses.Several(r.Code)) continue;
        answered.push_back(r.Code);
        byRtt[r.RttAvg].push_back(r.Code);
    }
    if (answered.empty()) return;
    bool ok = RunChunked(query, answered, [&](std::size_t from, std::size_t to) {
        return "DELETE FROM alarms WHERE code IN " + InList(answered, from, to, true) + " ";
    });
    for (const auto& [rtt, codes] : byRtt) {
        ok = RunChunked(query, codes,
                        [&](std::size_t from, std::size_t to) {
                            return "UPDATE site SET LastRTT = " + SQLLiteral(IntToStr(rtt)) + " WHERE code IN " +
                                   InList(codes, from, to, false) + " ";
                        }) &&
             ok;
    }
    // Any failure: every site of the batch runs its own statements again (they are idempotent).
    if (ok) m_cleared.insert(answered.begin(), answered.end());
}
