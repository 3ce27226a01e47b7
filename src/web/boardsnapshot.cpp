// TBoardSnapshot: the bodies made from one snapshot, shared by the requests that ask for them.
#include "web/boardsnapshot.h"

std::shared_ptr<const std::string> TBoardSnapshot::Rendered(const std::string& key,
                                                            const std::function<std::string()>& make) const {
    // Requests for the same body wait for the first one to make it rather than each making its own.
    std::lock_guard<std::mutex> hold(m_renderLock);
    auto at = m_rendered.find(key);
    if (at != m_rendered.end()) return at->second;
    if (m_rendered.size() >= 8) m_rendered.clear(); // keys of another bucket or Daemon ID
    return m_rendered[key] = std::make_shared<const std::string>(make());
}
