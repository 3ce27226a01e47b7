// The snapshot one status response shows, and the small text helpers its three forms share.
#include "web/statuspages.h"

#include "web/httprequest.h"

#include "platform/strutil.h"

#include <algorithm>
#include <cctype>

#define VKT_STR2(x) #x
#define VKT_STR(x) VKT_STR2(x)

namespace {

bool ContainsText(const std::string& text, const std::string& lowerPart) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return lower.find(lowerPart) != std::string::npos;
}

} // namespace

void TStatusView::Load(const TStatusBoard& board) {
    Snapshot = board.Current();
    Summary = Snapshot->Summary;
    Summary.Bucket = TStatusBoard::CurrentBucket(); // the snapshot may be older than this bucket
    Sites.clear();
    Sites.reserve(Snapshot->Sites.size());
    for (const auto& site : Snapshot->Sites)
        Sites.push_back(site.get());
}

int TStatusView::Count(TSiteStatus::TState state) const {
    return int(
        std::count_if(Sites.begin(), Sites.end(), [state](const TSiteEntry* s) { return s->Status.State == state; }));
}

int TStatusView::NotifiedCount() const {
    return int(std::count_if(Sites.begin(), Sites.end(), [](const TSiteEntry* s) { return s->Status.Notified; }));
}

std::string RttText(long long microseconds) {
    if (microseconds < 10000) return Format("%.3f ms", double(microseconds) / 1000.0);
    return IntToStr(int((microseconds + 500) / 1000)) + " ms";
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

namespace {

std::string Whole(const std::function<void(TBodyOut&)>& write) {
    std::string all;
    TBodyOut out([&all](const std::string& block) { all += block; });
    write(out);
    out.Flush();
    return all;
}

} // namespace

std::string StatusPageHtml(const TStatusView& view, const std::string& filter) {
    return Whole([&](TBodyOut& out) { WriteStatusPage(view, filter, out); });
}

std::string StatusJson(const TStatusView& view, const std::string& filter, bool history) {
    return Whole([&](TBodyOut& out) { WriteStatusJson(view, filter, history, out); });
}

std::string StatusMetrics(const TStatusView& view) {
    return Whole([&](TBodyOut& out) { WriteStatusMetrics(view, out); });
}
