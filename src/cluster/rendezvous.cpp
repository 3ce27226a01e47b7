// Rendezvous hashing: FNV-1a over the text, then a 64-bit finaliser so that near names and codes
// (node1, node2; S00001, S00002) spread evenly.
#include "cluster/rendezvous.h"

#include "platform/strutil.h"

#include <algorithm>
#include <numeric>

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

std::vector<std::uint64_t> Rendezvous::Weights(const std::string& code) const {
    const std::uint64_t key = Mix(Fnv1a(SiteCodeKey(code)));
    std::vector<std::uint64_t> weights;
    weights.reserve(m_members.size());
    for (const Member& m : m_members)
        weights.push_back(Mix(m.Hash ^ key));
    return weights;
}

bool Rendezvous::Before(std::size_t a, std::uint64_t wa, std::size_t b, std::uint64_t wb) const {
    return wa != wb ? wa > wb : m_members[a].Name < m_members[b].Name;
}

std::vector<std::string> Rendezvous::Copies(const std::string& code, int copies) const {
    const std::vector<std::uint64_t> w = Weights(code);
    std::vector<std::size_t> order(m_members.size());
    std::iota(order.begin(), order.end(), 0);
    const std::size_t n = std::min(order.size(), static_cast<std::size_t>(std::max(copies, 0)));
    std::partial_sort(order.begin(), order.begin() + static_cast<long>(n), order.end(),
                      [&](std::size_t a, std::size_t b) { return Before(a, w[a], b, w[b]); });
    std::vector<std::string> names;
    for (std::size_t i = 0; i < n; ++i)
        names.push_back(m_members[order[i]].Name);
    return names;
}

bool Rendezvous::Holds(const std::string& member, const std::string& code, int copies) const {
    const std::vector<std::uint64_t> w = Weights(code);
    std::size_t self = m_members.size();
    for (std::size_t i = 0; i < m_members.size(); ++i)
        if (m_members[i].Name == member) self = i;
    if (self == m_members.size()) return false;
    // Held when fewer than `copies` members outrank it.
    int above = 0;
    for (std::size_t i = 0; i < m_members.size(); ++i)
        if (i != self && Before(i, w[i], self, w[self]) && ++above >= copies) return false;
    return copies > 0;
}
