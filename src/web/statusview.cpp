// The snapshot one status response shows, and the small text helpers its three forms share.
#include "web/statuspages.h"

#include "web/httprequest.h"

#include "platform/strutil.h"

#include <algorithm>
#include <cctype>

#define VKT_STR2(x) #x
#define VKT_STR(x) VKT_STR2(x)

namespace {

int Rank(TSiteStatus::TState state) {
    return state == TSiteStatus::Down ? 0 : state == TSiteStatus::Unknown ? 1 : 2;
}

bool ContainsText(const std::string& text, const std::string& lowerPart) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return lower.find(lowerPart) != std::string::npos;
}

} // namespace

// One pass per rank keeps each group in the board's order and moves every site once.
void TStatusView::Load(const TStatusBoard& board) {
    m_board = &board;
    std::vector<TSiteStatus> all;
    board.Snapshot(Summary, all);
    Sites.clear();
    Sites.reserve(all.size());
    for (int rank = 0; rank < 3; ++rank)
        for (TSiteStatus& site : all)
            if (Rank(site.State) == rank) Sites.push_back(std::move(site));
}

std::vector<TRttHistory> TStatusView::HistoriesOf(const std::vector<const TSiteStatus*>& sites) const {
    std::vector<std::size_t> slots;
    slots.reserve(sites.size());
    for (const TSiteStatus* site : sites)
        slots.push_back(site->Slot);
    return m_board ? m_board->Histories(slots) : std::vector<TRttHistory>(sites.size());
}

int TStatusView::Count(TSiteStatus::TState state) const {
    return int(std::count_if(Sites.begin(), Sites.end(), [state](const TSiteStatus& s) { return s.State == state; }));
}

int TStatusView::NotifiedCount() const {
    return int(std::count_if(Sites.begin(), Sites.end(), [](const TSiteStatus& s) { return s.Notified; }));
}

std::string StatusVersion() {
    return VKT_STR(VKT_VERSION_MAJOR) "." VKT_STR(VKT_VERSION_MINOR) "." VKT_STR(VKT_VERSION_PATCH) "." VKT_STR(
        VKT_VERSION_TWEAK);
}

std::string QueryField(const std::string& query, const std::string& name) {
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find('&', start);
        if (end == std::string::npos) end = query.size();
        const std::string pair = query.substr(start, end - start);
        const std::size_t eq = pair.find('=');
        if (pair.substr(0, eq) == name) return eq == std::string::npos ? std::string() : UrlDecode(pair.substr(eq + 1));
        start = end + 1;
    }
    return {};
}

bool SiteMatches(const TSiteStatus& site, const std::string& filter) {
    if (filter.empty()) return true;
    std::string lower = Trim(filter);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ContainsText(site.Code, lower) || ContainsText(site.Name, lower) || ContainsText(site.Address, lower);
}
