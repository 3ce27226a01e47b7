// Gathered alarm and round-trip-time statements of a run of probed sites.
#include "scan/tsitebatch.h"

#include "db/alarmrows.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "platform/strutil.h"

namespace {

/// Codes per statement: one statement of each kind for a whole batch.
constexpr std::size_t CodesPerStatement = TSiteBatch::MostSites;

/// Runs one statement per chunk of the items; false when any chunk fails. `done` gets each chunk
/// whose statement ran.
template <typename T, typename Run, typename Done = void (*)(const std::vector<T>&)>
bool RunChunked(
    const std::vector<T>& items, Run run, Done done = [](const std::vector<T>&) {}) {
    bool ok = true;
    for (std::size_t from = 0; from < items.size(); from += CodesPerStatement) {
        const auto to = static_cast<std::ptrdiff_t>(std::min(items.size(), from + CodesPerStatement));
        const std::vector<T> chunk(items.begin() + static_cast<std::ptrdiff_t>(from), items.begin() + to);
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
    if (m_alone || m_admitted == MostSites) return false;
    const std::string key = MatchKey(result.Code);
    if (key.empty()) { // only the database can match it: it stays alone in its batch
        if (!Empty()) return false;
        m_alone = true;
        m_keys.insert(result.Code);
        ++m_admitted;
        return true;
    }
    const std::string marker = SiteCodeKey(AlarmRows::MarkerCode(key));
    if (m_keys.count(key) || m_keys.count(marker)) return false;
    m_keys.insert(key);
    m_keys.insert(marker);
    ++m_admitted;
    return true;
}

const NoticeRows* TSiteBatch::Outage(const std::string& code) const {
    const auto found = m_outages.find(code);
    return found == m_outages.end() ? nullptr : &found->second;
}

bool TSiteBatch::Apart(const TSiteBatch& other) const {
    if (m_alone || other.m_alone) return false;
    for (const std::string& key : m_keys)
        if (other.m_keys.count(key)) return false;
    return true;
}

void TSiteBatch::Plan(std::span<const SiteResult> results, const TCodeAddresses& addresses, std::uint64_t daemonUses) {
    for (const SiteResult& r : results) {
        if (MatchKey(r.Code).empty()) continue;
        const bool several = addresses.Several(r.Code);
        if (!r.Answered) {
            m_failed.push_back(r.Code);
            if (!several) m_decidable.push_back(r.Code); // which site row would it read?
            continue;
        }
        if (several) continue;
        m_answered.push_back(r.Code);
        m_rtts.push_back({r.Code, r.RttAvg});
    }
    m_outagesReadAt = daemonUses;
}

void TSiteBatch::Run(TDbQuery& query, TDbDialect dialect) {
    AlarmRows rows(query);
    // Each statement compiles the table's triggers once, however many rows it inserts.
    const TDateTime now = Now();
    const std::unordered_set<std::string> decidable(m_decidable.begin(), m_decidable.end());
    std::vector<std::string> decided; // failed sites whose notice decision reads the rows read here
    RunChunked(
        m_failed, [&](const std::vector<std::string>& chunk) { rows.Post(chunk, now); },
        [&](const std::vector<std::string>& chunk) {
            m_posted.insert(chunk.begin(), chunk.end());
            for (const std::string& code : chunk)
                if (decidable.count(code)) decided.push_back(code);
        });
    // One read for both: the failed sites' rows for their notice decisions, and which sites that
    // answered have rows to delete at all (none known: all of them are deleted).
    std::optional<GatheredRows> read;
    try {
        read = rows.RowsOf(decided, m_answered);
    } catch (const std::exception&) {
        // the failed sites read their own rows; every answered site's rows are deleted
    }
    if (read) m_outages = std::move(read->Outages);
    if (m_answered.empty()) return;
    std::vector<std::string> clear;
    for (const std::string& code : m_answered)
        if (!read || read->WithRows.count(code)) clear.push_back(code);
    bool ok = RunChunked(clear, [&](const std::vector<std::string>& chunk) { rows.Clear(chunk); });
    ok = RunChunked(m_rtts,
                    [&](const std::vector<SiteRtt>& chunk) {
                        for (const std::string& statement : LastRttStatements(dialect, chunk))
                            ExecStatement(query, {statement});
                    }) &&
         ok;
    // Any failure: every site of the batch runs its own statements again (they are idempotent).
    if (ok) m_cleared.insert(m_answered.begin(), m_answered.end());
}
