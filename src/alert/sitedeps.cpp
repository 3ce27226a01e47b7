// The parent graph, kept free of cycles so that every walk up from a site ends.
#include "alert/sitedeps.h"

#include "platform/strutil.h"

#include <algorithm>
#include <deque>

namespace {

/// Depth-first search that keeps the links it can follow without coming back to a site on its own path.
class CycleBreaker {
public:
    CycleBreaker(const std::map<std::string, std::vector<std::string>>& all, std::vector<std::string>& cycles)
        : m_all(all), m_cycles(cycles) {}

    std::map<std::string, std::vector<std::string>> Run() {
        for (const auto& [code, parents] : m_all)
            Visit(code);
        return m_kept;
    }

private:
    void Visit(const std::string& code) {
        if (m_done.count(code)) return;
        m_path.push_back(code);
        auto found = m_all.find(code);
        if (found != m_all.end())
            for (const std::string& parent : found->second) {
                auto onPath = std::find(m_path.begin(), m_path.end(), parent);
                if (onPath != m_path.end()) {
                    std::string text;
                    for (auto at = onPath; at != m_path.end(); ++at)
                        text += *at + " > ";
                    m_cycles.push_back(text + parent);
                    continue;
                }
                Visit(parent);
                m_kept[code].push_back(parent);
            }
        m_path.pop_back();
        m_done.insert(code);
    }

    const std::map<std::string, std::vector<std::string>>& m_all;
    std::vector<std::string>& m_cycles;
    std::map<std::string, std::vector<std::string>> m_kept;
    std::vector<std::string> m_path;
    std::set<std::string> m_done;
};

} // namespace

void SiteDeps::Load(std::vector<Edge> edges, std::vector<std::string>& cycles) {
    std::map<std::string, std::vector<std::string>> all;
    std::sort(edges.begin(), edges.end());
    for (const auto& [child, parent] : edges)
        all[UpperCase(child)].push_back(UpperCase(parent)); // codes match without regard to case
    m_parents = CycleBreaker(all, cycles).Run();
}

std::string SiteDeps::FailedAncestor(const std::string& code,
                                     const std::function<bool(const std::string&)>& failed) const {
    // Breadth first, so that the nearest failed ancestor is the one named.
    std::deque<std::string> queue{UpperCase(code)};
    std::set<std::string> seen{queue.front()};
    while (!queue.empty()) {
        auto found = m_parents.find(queue.front());
        queue.pop_front();
        if (found == m_parents.end()) continue;
        for (const std::string& parent : found->second) {
            if (!seen.insert(parent).second) continue;
            if (failed(parent)) return parent;
            queue.push_back(parent);
        }
    }
    return {};
}
