// The statements of many probed sites gathered into few: the alarm rows of every site that answered
// deleted in one statement and their round-trip times stored in one, the alarm rows of the sites that
// failed inserted in one and, with them, what their rows say for their notice decisions read in one.
// The rows end up as the site-by-site statements would leave them.
#pragma once

#include "scan/tcodeaddresses.h"
#include "db/alarmrows.h"
#include "db/dbaccess.h"
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

    /// Whether the site at `result` may join a batch holding the codes seen so far: its code (and its
    /// marker code) must be told apart from theirs, so that no statement of the batch touches its rows.
    /// Adds its keys when it may.
    bool Admit(const SiteResult& result);
    bool Empty() const { return m_keys.empty(); }

    /// Runs the gathered statements for the sites that answered, posts the alarm rows of those that
    /// failed and reads what their rows say for their notice decisions. A statement that fails leaves
    /// its sites to the site-by-site statements, which report the error as they always do. Codes with
    /// several addresses are left to them too: another address of theirs may still fail in this scan.
    void Run(TDbQuery& query, TDbDialect dialect, std::span<const SiteResult> results, const TCodeAddresses& addresses);
    /// Whether the code's alarm rows are deleted and its round-trip time stored: nothing is left for
    /// its own clear and no outage for its notification decision.
    bool Cleared(const std::string& code) const { return m_cleared.count(code) != 0; }
    /// Whether the failed site's alarm row of this probe is posted.
    bool Posted(const std::string& code) const { return m_posted.count(code) != 0; }
    /// What the rows of a failed site whose alarm row was posted said for its notice decision, read
    /// right after the post; none when its own statements must read them.
    const NoticeRows* Outage(const std::string& code) const;
    /// The connection's count of uses once the outage rows were read: a statement of this process
    /// that changed rows after it makes them stale.
    std::uint64_t OutagesReadAt() const { return m_outagesReadAt; }

private:
    /// Reads the outage rows of the codes, chunk by chunk; a chunk whose read fails, or whose rows
    /// cannot all be told apart by code, is left to the site-by-site reads.
    void ReadOutages(AlarmRows& rows, const std::vector<std::string>& codes);

    std::unordered_set<std::string> m_keys;
    std::unordered_set<std::string> m_cleared;
    std::unordered_set<std::string> m_posted;
    std::unordered_map<std::string, NoticeRows> m_outages;
    std::uint64_t m_outagesReadAt = 0;
    bool m_alone = false;
};
