// The statements of many probed sites gathered into few: the alarm rows of the sites that failed
// inserted in one statement; one read of what their rows say for their notice decisions and of which
// sites that answered have rows at all; the rows of those deleted in one and the round-trip times of
// all that answered stored in one. The rows end up as the site-by-site statements would leave them.
#pragma once

#include "scan/tcodeaddresses.h"
#include "db/alarmrows.h"
#include "db/dbaccess.h"
#include "db/lastrttrows.h"
#include "scan/siteresult.h"

#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class TSiteBatch {
public:
    /// The key under which the database matches a code (letters without regard to case, trailing blanks
    /// ignored), or empty when only the database can tell (a code with bytes beyond ASCII).
    static std::string MatchKey(const std::string& code);
    /// The key that gathers the rows of one code as the database matches them: MatchKey, or the code
    /// itself where only the database can tell.
    static std::string GroupKey(const std::string& code);

    /// Sites a batch takes at most: each kind of its statements names each code once, in one statement
    /// (SQL Server takes no more rows in one INSERT ... VALUES). Each statement that deletes or reads
    /// alarm rows by a list of codes may search the whole table, so the fewer the better.
    static constexpr std::size_t MostSites = 1000;

    /// Whether the site at `result` may join a batch holding the codes seen so far: its code (and its
    /// marker code) must be told apart from theirs, so that no statement of the batch touches its rows,
    /// and the batch must have room. Adds its keys when it may.
    bool Admit(const SiteResult& result);
    bool Empty() const { return m_keys.empty(); }

    /// Whether no statement of this batch touches a row of `other`'s codes: their keys are apart and
    /// neither holds a code only the database can match. Then either may run its statements first.
    bool Apart(const TSiteBatch& other) const;

    /// Sorts the sites of the run into the statements they get. Codes with several addresses are left
    /// to their own statements: another address of theirs may still fail in this scan. `daemonUses`:
    /// the daemon connection's count of uses now; a marker it stores after that may be missing from
    /// the rows read (OutagesReadAt).
    void Plan(std::span<const SiteResult> results, const TCodeAddresses& addresses, std::uint64_t daemonUses);
    /// Runs the planned statements: the alarm rows of the sites that failed, the read of what their rows
    /// say and of which sites that answered have rows, and the gathered statements for those. A statement
    /// that fails leaves its sites to the site-by-site statements, which report the error as they always
    /// do. Touches nothing but the batch and `query`, so it may run on a thread and connection of its
    /// own.
    void Run(TDbQuery& query, TDbDialect dialect);
    /// Whether the code's alarm rows are deleted and its round-trip time stored: nothing is left for
    /// its own clear and no outage for its notification decision.
    bool Cleared(const std::string& code) const { return m_cleared.count(code) != 0; }
    /// Whether the failed site's alarm row of this probe is posted.
    bool Posted(const std::string& code) const { return m_posted.count(code) != 0; }
    /// What the rows of a failed site whose alarm row was posted said for its notice decision, read
    /// right after the post; none when its own statements must read them.
    const NoticeRows* Outage(const std::string& code) const;
    /// The daemon connection's count of uses before the outage rows were read: a marker this process
    /// stored after it makes them stale.
    std::uint64_t OutagesReadAt() const { return m_outagesReadAt; }

private:
    std::unordered_set<std::string> m_keys;
    std::size_t m_admitted = 0;
    // What Plan sorted out for Run.
    std::vector<std::string> m_answered, m_failed, m_decidable;
    std::vector<SiteRtt> m_rtts;
    std::unordered_set<std::string> m_cleared;
    std::unordered_set<std::string> m_posted;
    std::unordered_map<std::string, NoticeRows> m_outages;
    std::uint64_t m_outagesReadAt = 0;
    bool m_alone = false;
};
