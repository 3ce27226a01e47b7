// Rendezvous hashing: FNV-1a over the text, then a 64-bit finaliser so that near names and codes
// (node1, node2; S00001, S00002) spread evenly.
#include "cluster/rendezvous.h"

#include "platform/strutil.h"

#include <algorithm>
#include <utility>

namespace {

std::uint64_t Fnv1a(const std::string& text) {
    std::uint64_t h = 14695981039346656037ULL;
    for (const unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    return h;
}

std::uint64_t Mix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

} // namespace

Rendezvous::Rendezvous(const std::vector<std::string>& members) {
    for (const std::string& name : members)
        m_members.push_back({name, Mix(Fnv1a(name))});
}

bool Rendezvous::Before(std::size_t a, std::uint64_t wa, std::size_t b, std::uint64_t wb) const {
    return wa != wb ? wa > wb : m_members[a].Name < m_members[b].Name;
}

std::uint64_t Rendezvous::Key(const std::string& code) {
    return Mix(Fnv1a(SiteCodeKey(code)));
}

std::vector<std::string> Rendezvous::Copies(const std::string& code, int copies) const {
    // Asked for every site a scan probes: the places go into a buffer kept by the thread.
    thread_local std::vector<std::uint32_t> places;
    Pick(Key(code), copies, places);
    std::vector<std::string> names;
    names.reserve(places.size());
    for (const std::uint32_t place : places)
        names.push_back(m_members[place].Name);
    return names;
}

void Rendezvous::Pick(std::uint64_t key, int copies, std::vector<std::uint32_t>& places) const {
    places.clear();
    const std::size_t n = std::min(m_members.size(), static_cast<std::size_t>(std::max(copies, 0)));
    if (n == 0) return;
    thread_local std::vector<std::pair<std::uint64_t, std::uint32_t>> weights;
    weights.clear();
    for (std::size_t i = 0; i < m_members.size(); ++i)
        weights.emplace_back(Mix(m_members[i].Hash ^ key), static_cast<std::uint32_t>(i));
    std::partial_sort(weights.begin(), weights.begin() + static_cast<long>(n), weights.end(),
                      [&](const auto& a, const auto& b) { return Before(a.second, a.first, b.second, b.first); });
    for (std::size_t i = 0; i < n; ++i)
        places.push_back(weights[i].second);
}

std::size_t Rendezvous::Place(const std::string& member) const {
    for (std::size_t i = 0; i < m_members.size(); ++i)
        if (m_members[i].Name == member) return i;
    return m_members.size();
}

bool Rendezvous::Holds(const std::string& member, const std::string& code, int copies) const {
    return Holds(Place(member), Key(code), copies);
}

bool Rendezvous::Holds(std::size_t self, std::uint64_t key, int copies) const {
    if (self >= m_members.size() || copies <= 0) return false;
    // Held when fewer than `copies` members outrank it; asked for every code of the group at each change
    // of the members, so the weights are reckoned one by one rather than gathered.
    const std::uint64_t own = Mix(m_members[self].Hash ^ key);
    int above = 0;
    for (std::size_t i = 0; i < m_members.size(); ++i)
        if (i != self && Before(i, Mix(m_members[i].Hash ^ key), self, own) && ++above >= copies) return false;
    return true;
}
