// Gathered alarm and round-trip-time statements of a run of probed sites.
#include "scan/tsitebatch.h"

#include "db/alarmrows.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "platform/strutil.h"

#include <map>

namespace {

/// Codes per statement: keeps each statement's text to a few kilobytes.
constexpr std::size_t CodesPerStatement = 400;

std::string InList(const std::vector<std::string>& codes) {
    std::string list;
    for (const std::string& code : codes)
        list += (list.empty() ? "" : ", ") + SQLLiteral(code);
    return "(" + list + ")";
}

/// Runs one statement per chunk of the codes; false when any chunk fails. `done` gets each chunk
/// whose statement ran.
template <typename Run, typename Done = void (*)(const std::vector<std::string>&)>
bool RunChunked(
    const std::vector<std::string>& codes, Run run, Done done = [](const std::vector<std::string>&) {}) {
    bool ok = true;
    for (std::size_t from = 0; from < codes.size(); from += CodesPerStatement) {
        const auto to = static_cast<std::ptrdiff_t>(std::min(codes.size(), from + CodesPerStatement));
        const std::vector<std::string> chunk(codes.begin() + static_cast<std::ptrdiff_t>(from), codes.begin() + to);
        try {
            run(chunk);
            done(chunk);
        } catch (const std::exception&) {
            ok = false;
        }
    }
    return ok;
}

} // namespace

std::string TSiteBatch::MatchKey(const std::string& code) {
    for (char c : code)
        if (static_cast<unsigned char>(c) >= 0x80) return {};
    return SiteCodeKey(code);
}

std::string TSiteBatch::GroupKey(const std::string& code) {
    const std::string key = MatchKey(code);
    return key.empty() ? code : key;
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
    const std::string marker = SiteCodeKey(AlarmRows::MarkerCode(key));
    if (m_keys.count(key) || m_keys.count(marker)) return false;
    m_keys.insert(key);
    m_keys.insert(marker);
    return true;
}

void TSiteBatch::Run(TDbQuery& query, std::span<const SiteResult> results, const TCodeAddresses& addresses) {
    std::vector<std::string> answered, failed;
    std::map<int, std::vector<std::string>> byRtt;
    for (const SiteResult& r : results) {
        if (MatchKey(r.Code).empty()) continue;
        if (!r.Answered) {
            failed.push_back(r.Code);
            continue;
        }
        if (addresses.Several(r.Code)) continue;
        answered.push_back(r.Code);
        byRtt[r.RttAvg].push_back(r.Code);
    }
    AlarmRows rows(query);
    // Each statement compiles the table's triggers once, however many rows it inserts.
    const TDateTime now = Now();
    RunChunked(
        failed, [&](const std::vector<std::string>& chunk) { rows.Post(chunk, now); },
        [&](const std::vector<std::string>& chunk) { m_posted.insert(chunk.begin(), chunk.end()); });
    if (answered.empty()) return;
    bool ok = RunChunked(answered, [&](const std::vector<std::string>& chunk) { rows.Clear(chunk); });
    for (const auto& [rtt, codes] : byRtt) {
        ok = RunChunked(codes,
                        [&](const std::vector<std::string>& chunk) {
                            ExecStatement(query, {"UPDATE site SET LastRTT = " + SQLLiteral(IntToStr(rtt)) +
                                                  " WHERE code IN " + InList(chunk) + " "});
                        }) &&
             ok;
    }
    // Any failure: every site of the batch runs its own statements again (they are idempotent).
    if (ok) m_cleared.insert(answered.begin(), answered.end());
}
