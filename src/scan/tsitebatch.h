// The statements of many probed sites gathered into few: the alarm rows of every site that answered
// deleted in one statement, their round-trip times stored in one statement per value, and the alarm
// rows of the sites that failed inserted in one statement. The rows end up as the site-by-site
// statements would leave them.
#pragma once

#include "scan/tcodeaddresses.h"
#include "db/dbaccess.h"
#include "scan/siteresult.h"

#include <span>
#include <string>
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

    /// Runs the gathered statements for the sites that answered and posts the alarm rows of those that
    /// failed. A statement that fails leaves its sites to the site-by-site statements, which report the
    /// error as they always do. Answering codes with several addresses are left to them too: another
    /// address of theirs may still fail in this scan.
    void Run(TDbQuery& query, std::span<const SiteResult> results, const TCodeAddresses& addresses);
    /// Whether the code's alarm rows are deleted and its round-trip time stored: nothing is left for
    /// its own clear and no outage for its notification decision.
    bool Cleared(const std::string& code) const { return m_cleared.count(code) != 0; }
    /// Whether the failed site's alarm row of this probe is posted.
    bool Posted(const std::string& code) const { return m_posted.count(code) != 0; }

private:
    std::unordered_set<std::string> m_keys;
    std::unordered_set<std::string> m_cleared;
    std::unordered_set<std::string> m_posted;
    bool m_alone = false;
};
