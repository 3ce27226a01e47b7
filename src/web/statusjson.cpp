// TStatusJson: the board as one JSON object, control characters and quotes escaped.
#include "web/statusjson.h"

#include "platform/datetime.h"
#include "platform/strutil.h"

#include <cmath>

namespace {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\')
            out += {'\\', char(c)};
        else if (c < 0x20)
            out += Format("\\u%04x", c);
        else
            out += char(c);
    }
    return out + "\"";
}

std::string JsonTime(TDateTime value) {
    return value == 0 ? "null" : JsonString(FormatDateTime("yyyy-mm-dd hh:nn:ss", value));
}

const char* StateName(const TSiteStatus& site) {
    if (site.State == TSiteStatus::Up && site.Degraded == 1) return "degraded";
    return site.State == TSiteStatus::Down ? "down" : site.State == TSiteStatus::Up ? "up" : "unknown";
}

std::string JsonHistory(const TRttHistory& history, std::int64_t now) {
    std::string rtt = "[", lost = "[";
    for (int age = TRttHistory::Buckets - 1; age >= 0; --age) {
        TRttHistory::Bucket b = history.At(now, age);
        rtt += b.Answered > 0 ? IntToStr(b.RttMs) : "null";
        lost += IntToStr(b.Lost);
        if (age > 0) {
            rtt += ',';
            lost += ',';
        }
    }
    return Format(",\"history\":{\"bucket_minutes\":%d,\"rtt_ms\":", TRttHistory::BucketMinutes) + rtt +
           "],\"lost\":" + lost + "]}";
}

std::string JsonRtt(long long microseconds) {
    return microseconds < 0 ? std::string("null") : Format("%.3f", double(microseconds) / 1000.0);
}

void JsonUptime(std::string& out, const SiteUptime& uptime) {
    out += ",\"uptime\":{";
    for (int w = 0; w < UptimeWindows; ++w) {
        const double percent = uptime.Percent[w];
        out += Format("%s\"%s\":", w ? "," : "", UptimeWindowNames[w]);
        out += std::isnan(percent) ? std::string("null") : UptimeText(percent);
    }
    out += "}";
}

void JsonSite(std::string& out, const TSiteEntry& entry, const TStatusView& view, bool history) {
    const TSiteStatus& site = entry.Status;
    out += "{\"code\":" + JsonString(site.Code) + ",\"name\":" + JsonString(site.Name) +
           ",\"address\":" + JsonString(site.Address) + ",\"state\":\"" + StateName(site) +
           "\",\"since\":" + JsonTime(site.Since) + ",\"last_probe\":" + JsonTime(site.LastProbe) +
           ",\"rtt_ms\":" + JsonRtt(site.LastRttUs) + Format(",\"loss\":%.4f", view.Loss(entry)) +
           ",\"cause\":" + JsonString(site.Cause) + ",\"notified\":" + (site.Notified ? "true" : "false");
    if (site.ShowsProbed())
        out += ",\"probed\":" + JsonString(site.Probed) + ",\"family\":" + JsonString(site.FailedFamily);
    if (site.AckAt != 0)
        out += ",\"acknowledged\":{\"by\":" + JsonString(site.AckBy) + ",\"comment\":" + JsonString(site.AckComment) +
               ",\"at\":" + JsonTime(site.AckAt) + "}";
    if (view.InMaintenance(site.Code)) out += ",\"maintenance\":true";
    if (site.GroupDown >= 0)
        out += Format(",\"group\":{\"state\":\"%s\",\"failed\":%d}", site.GroupDown ? "down" : "up", site.GroupFailed);
    if (!site.TraceJson.empty()) out += ",\"trace\":" + site.TraceJson;
    if (const SiteUptime* uptime = view.Uptime(site)) JsonUptime(out, *uptime);
    if (history) out += JsonHistory(entry.History, view.Summary.Bucket);
    out += "}";
}

} // namespace

std::string StatusSiteJson(const TSiteEntry& entry, const TStatusView& view) {
    std::string out;
    JsonSite(out, entry, view, false);
    return out;
}

void TStatusJson::Write(TBodyOut& body) const {
    const TStatusView& view = m_view;
    const TScanSummary& s = view.Summary;
    body.Text += "{\"daemon\":" + JsonString(view.DaemonId) + ",\"version\":" + JsonString(StatusVersion()) +
                 ",\"database_up\":" + (view.DatabaseUp ? "true" : "false") +
                 Format(",\"summary\":{\"sites\":%zu,\"answering\":%d,\"silent\":%d,\"notified\":%d", view.Sites.size(),
                        view.Count(TSiteStatus::Up), view.Count(TSiteStatus::Down), view.NotifiedCount()) +
                 ",\"last_scan\":" + JsonTime(s.LastScanEnd) +
                 Format(",\"last_scan_seconds\":%.3f,\"scanning\":%s,\"scans\":%lld}", s.LastScanSeconds,
                        s.Scanning ? "true" : "false", s.Scans) +
                 ",\"sites\":[";
    bool first = true;
    for (const TSiteEntry* site : view.Sites) {
        if (!SiteMatches(site->Status, m_filter)) continue;
        body.Text += first ? "\n" : ",\n";
        first = false;
        JsonSite(body.Text, *site, view, m_history);
        body.Spill();
    }
    body.Text += "]}\n";
}
