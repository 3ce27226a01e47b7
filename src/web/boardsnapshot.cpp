// TBoardSnapshot: the bodies made from one snapshot, shared by the requests that ask for them.
#include "web/boardsnapshot.h"

#include "platform/codepage.h"
#include "platform/strutil.h"

std::shared_ptr<const std::string> TBoardSnapshot::Rendered(const std::string& key,
                                                            const std::function<std::string()>& make) const {
    // Requests for the same body wait for the first one to make it rather than each making its own.
    std::lock_guard<std::mutex> hold(m_renderLock);
    auto at = m_rendered.find(key);
    if (at != m_rendered.end()) return at->second;
    if (m_rendered.size() >= 8) m_rendered.clear(); // keys of another bucket or Daemon ID
    return m_rendered[key] = std::make_shared<const std::string>(make());
}

const std::vector<std::string>& TagsIn(const SiteTagMap* tags, const std::string& code) {
    static const std::vector<std::string> none;
    if (!tags) return none;
    const auto found = tags->find(SiteCodeKey(code));
    return found == tags->end() ? none : found->second;
}

std::vector<TSiteEntry> TOthersBoard::Entries() const {
    std::vector<TSiteEntry> entries(Sites.size());
    for (std::size_t i = 0; i < Sites.size(); ++i) {
        const GroupSites::Site& s = Sites[i];
        const ScanRow& row = (*Rows)[s.Row];
        TSiteStatus& site = entries[i].Status;
        site.Code = AsUtf8(row.Code);
        site.Name = AsUtf8(row.Name);
        site.Address = AsUtf8(row.Address);
        site.GroupDown = s.GroupDown;
        site.GroupFailed = s.GroupFailed;
        site.ProbedBy = Members[s.ProbedBy];
        site.Tags = TagsIn(Tags.get(), site.Code);
    }
    return entries;
}
