// Dividing the sites among the live members and saying what moved.
#include "cluster/fleetshare.h"

#include "cluster/rendezvous.h"
#include "platform/datetime.h"

#include <algorithm>

namespace {

std::string Names(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names)
        text += (text.empty() ? "" : ", ") + n;
    return text;
}

/// The names of `a` that `b` lacks.
std::vector<std::string> Missing(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::vector<std::string> out;
    for (const std::string& n : a)
        if (std::find(b.begin(), b.end(), n) == b.end()) out.push_back(n);
    return out;
}

std::string Sites(std::size_t n) {
    return FormatThousands(static_cast<long long>(n)) + (n == 1 ? " site" : " sites");
}

} // namespace

FleetShare FleetShare::Divide(const std::vector<std::string>& codes, const std::vector<std::string>& before,
                              const std::vector<std::string>& after, const std::string& self, int copies,
                              const std::vector<std::uint64_t>* keys) {
    FleetShare share;
    const Rendezvous now(after), was(before);
    const std::size_t selfNow = now.Place(self), selfWas = was.Place(self);
    const bool first = before.empty();
    // The same members as before: nothing moved, and the weights are reckoned once per site.
    const bool same = std::is_permutation(before.begin(), before.end(), after.begin(), after.end());
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const std::string& code = codes[i];
        const std::uint64_t key = keys != nullptr ? (*keys)[i] : Rendezvous::Key(code);
        const bool holds = now.Holds(selfNow, key, copies);
        const bool held = !first && (same ? holds : was.Holds(selfWas, key, copies));
        if (holds) share.Held.push_back(code);
        if (holds && !held && !first) share.Inherited.push_back(code);
        if (held && !holds) ++share.HandedBack;
    }
    if (first) return share;
    const std::vector<std::string> left = Missing(before, after), joined = Missing(after, before);
    std::string who;
    if (!left.empty()) who = Names(left) + " left";
    if (!joined.empty()) who += (who.empty() ? "" : "; ") + Names(joined) + " joined";
    std::string what;
    // This member joining (counted in again) takes its share; another one joining takes some of it.
    const bool selfJoined = std::find(joined.begin(), joined.end(), self) != joined.end();
    if (!left.empty() || selfJoined || !share.Inherited.empty()) what = "taking over " + Sites(share.Inherited.size());
    if (joined.size() > (selfJoined ? 1u : 0u) || share.HandedBack > 0)
        what += (what.empty() ? "" : ", ") + std::string("handing back ") + Sites(share.HandedBack);
    if (!who.empty()) share.Line = "Cluster: " + who + "; " + what;
    return share;
}
