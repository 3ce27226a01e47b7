// Parent sites: which sites stand behind which (a router and the hosts behind it), from table sitedep.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

class SiteDeps {
public:
    using Edge = std::pair<std::string, std::string>; ///< child code, parent code

    /// Replaces the graph. A parent link that would close a cycle is dropped; `cycles` gets one text per
    /// dropped link, naming the sites around it ("A > B > A").
    void Load(std::vector<Edge> edges, std::vector<std::string>& cycles);
    /// The nearest ancestor of `code` (parents followed transitively) for which `failed` holds; empty when none.
    /// Codes are compared and handed to `failed` in upper case.
    std::string FailedAncestor(const std::string& code, const std::function<bool(const std::string&)>& failed) const;
    bool Empty() const { return m_parents.empty(); }

private:
    std::map<std::string, std::vector<std::string>> m_parents;
};
