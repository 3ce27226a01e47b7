// TStatusJson: the board as one JSON object, each site on a line of its own.
#include "web/statusjson.h"

#include "platform/datetime.h"
#include "platform/json.h"
#include "platform/strutil.h"

#include <algorithm>
#include <cmath>

namespace {

Json JsonTime(TDateTime value) {
    return value == 0 ? Json() : Json(FormatDateTime("yyyy-mm-dd hh:nn:ss", value));
}

Json JsonHistory(const TRttHistory& history, std::int64_t now) {
    Json rtt = Json::array(), lost = Json::array();
    for (int age = TRttHistory::Buckets - 1; age >= 0; --age) {
        const TRttHistory::Bucket b = history.At(now, age);
        rtt.push_back(b.Answered > 0 ? Json(b.RttMs) : Json());
        lost.push_back(b.Lost);
    }
    Json out;
    out["bucket_minutes"] = TRttHistory::BucketMinutes;
    out["rtt_ms"] = std::move(rtt);
    out["lost"] = std::move(lost);
    return out;
}

Json JsonUptime(const SiteUptime& uptime) {
    Json out = Json::object();
    for (int w = 0; w < UptimeWindows; ++w) {
        const double percent = uptime.Percent[w];
        out[UptimeWindowNames[w]] = std::isnan(percent) ? Json() : JsonRaw(UptimeText(percent));
    }
    return out;
}

Json JsonSite(const TSiteEntry& entry, const TStatusView& view, bool history) {
    const TSiteStatus& site = entry.Status;
    Json out;
    out["code"] = site.Code;
    out["name"] = site.Name;
    out["address"] = site.Address;
    out["state"] = StatusStateName(site);
    out["since"] = JsonTime(site.Since);
    out["last_probe"] = JsonTime(site.LastProbe);
    out["rtt_ms"] = site.LastRttUs < 0 ? Json() : JsonFixed(double(site.LastRttUs) / 1000.0, 3);
    out["loss"] = JsonFixed(view.Loss(entry), 4);
    out["cause"] = site.Cause;
    out["notified"] = site.Notified;
    if (site.ShowsProbed()) {
        out["probed"] = site.Probed;
        out["family"] = site.FailedFamily;
    }
    if (site.AckAt != 0)
        out["acknowledged"] = {{"by", site.AckBy}, {"comment", site.AckComment}, {"at", JsonTime(site.AckAt)}};
    if (view.InMaintenance(site.Code, site.Tags)) out["maintenance"] = true;
    if (site.GroupDown >= 0) out["group"] = {{"state", site.GroupState()}, {"failed", site.GroupFailed}};
    if (!site.ProbedBy.empty()) out["probed_by"] = site.ProbedBy;
    if (!site.Tags.empty()) out["tags"] = site.Tags;
    if (!site.TraceJson.empty()) out["trace"] = JsonRaw(site.TraceJson);
    if (const SiteUptime* uptime = view.Uptime(site)) out["uptime"] = JsonUptime(*uptime);
    if (history) out["history"] = JsonHistory(entry.History, view.Summary.Bucket);
    return out;
}

} // namespace

const char* StatusStateName(const TSiteStatus& site) {
    if (site.State == TSiteStatus::Up && site.Degraded == 1) return "degraded";
    return site.State == TSiteStatus::Down ? "down" : site.State == TSiteStatus::Up ? "up" : "unknown";
}

void TStatusJson::Write(TBodyOut& body) const {
    const TStatusView& view = m_view;
    const TScanSummary& s = view.Summary;
    Json head;
    head["daemon"] = view.DaemonId;
    head["version"] = StatusVersion();
    head["database_up"] = view.DatabaseUp;
    head["summary"] = {{"sites", view.Sites.size()},
                       {"answering", view.Count(TSiteStatus::Up)},
                       {"silent", view.Count(TSiteStatus::Down)},
                       {"notified", view.NotifiedCount()},
                       {"last_scan", JsonTime(s.LastScanEnd)},
                       {"last_scan_seconds", JsonFixed(s.LastScanSeconds, 3)},
                       {"scanning", s.Scanning},
                       {"scans", s.Scans}};
    // The sites follow one per line, each spilled once written: the object is closed after them.
    std::string text = JsonText(head);
    text.pop_back();
    body.Text += text + ",\"sites\":[";
    std::string next;
    bool first = true;
    const std::vector<const TSiteEntry*> page = m_filter.Paged() ? Page(next) : std::vector<const TSiteEntry*>();
    for (const TSiteEntry* site : m_filter.Paged() ? page : view.Sites) {
        if (!m_filter.Keeps(site->Status)) continue;
        body.Text += first ? "\n" : ",\n";
        first = false;
        body.Text += JsonText(JsonSite(*site, view, m_history));
        body.Spill();
    }
    body.Text += "]";
    if (!next.empty()) body.Text += ",\"next\":" + JsonText(Json(next));
    body.Text += "}\n";
}

// The board keeps its sites by state; a page goes by code, so that a cursor stays put while states change.
std::vector<const TSiteEntry*> TStatusJson::Page(std::string& next) const {
    std::vector<std::pair<std::string, const TSiteEntry*>> byCode;
    const std::string after = SiteCodeKey(m_filter.After);
    for (const TSiteEntry* site : m_view.Sites)
        if (std::string key = SiteCodeKey(site->Status.Code); key > after && m_filter.Keeps(site->Status))
            byCode.emplace_back(std::move(key), site);
    const auto before = [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second->Status.Address < b.second->Status.Address;
    };
    // Only the page is sorted: the codes up to its last one are put first, then in order. A code's
    // addresses stay on one page, so that the cursor (a code) never splits them.
    auto end = byCode.end();
    if (m_filter.Limit > 0 && byCode.size() > m_filter.Limit) {
        std::nth_element(byCode.begin(), byCode.begin() + long(m_filter.Limit - 1), byCode.end(), before);
        const std::string last = byCode[m_filter.Limit - 1].first;
        const std::string lastCode = byCode[m_filter.Limit - 1].second->Status.Code;
        end = std::partition(byCode.begin(), byCode.end(), [&last](const auto& site) { return site.first <= last; });
        if (end != byCode.end())
            next = "/status.json?" + m_filter.NextQuery(lastCode) + (m_history ? "&history=1" : "");
    }
    std::sort(byCode.begin(), end, before);
    const std::size_t count = std::size_t(end - byCode.begin());
    std::vector<const TSiteEntry*> page;
    for (std::size_t i = 0; i < count; ++i)
        page.push_back(byCode[i].second);
    return page;
}
