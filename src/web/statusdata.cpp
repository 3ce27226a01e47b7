// The status board for scripts: JSON, and the Prometheus text format 0.0.4.
#include "web/statuspages.h"

#include "platform/datetime.h"
#include "platform/strutil.h"

#include <algorithm>
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

const char* StateName(TSiteStatus::TState state) {
    return state == TSiteStatus::Down ? "down" : state == TSiteStatus::Up ? "up" : "unknown";
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

std::string JsonSite(const TSiteStatus& site, const TRttHistory* history, std::int64_t now) {
    std::string out = "{\"code\":" + JsonString(site.Code) + ",\"name\":" + JsonString(site.Name) +
                      ",\"address\":" + JsonString(site.Address) + ",\"state\":\"" + StateName(site.State) +
                      "\",\"since\":" + JsonTime(site.Since) + ",\"last_probe\":" + JsonTime(site.LastProbe) +
                      ",\"rtt_ms\":" + (site.LastRttMs < 0 ? std::string("null") : IntToStr(site.LastRttMs)) +
                      Format(",\"loss\":%.4f", site.Loss) + ",\"cause\":" + JsonString(site.Cause) +
                      ",\"notified\":" + (site.Notified ? "true" : "false");
    if (site.GroupDown >= 0)
        out += Format(",\"group\":{\"state\":\"%s\",\"failed\":%d}", site.GroupDown ? "down" : "up", site.GroupFailed);
    if (history != nullptr) out += JsonHistory(*history, now);
    return out + "}";
}

// A label value with \, " and line feeds escaped.
std::string Label(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\' || c == '"')
            out += {'\\', c};
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

void Family(std::string& out, const char* name, const char* type, const char* help) {
    out += Format("# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
}

std::string Number(double value) {
    if (std::isnan(value)) return "NaN";
    return FloatToStr(value);
}

// One sample per site; `value` writes the sample's value, or nothing to leave the site out.
template <class ValueOf> void SiteSamples(std::string& out, const TStatusView& view, const char* name, ValueOf value) {
    std::string sample;
    for (const TSiteStatus& s : view.Sites) {
        sample.clear();
        value(s, sample);
        if (sample.empty()) continue;
        out += name;
        out += "{code=\"";
        out += Label(s.Code);
        out += "\",address=\"";
        out += Label(s.Address);
        out += "\"} ";
        out += sample;
        out += '\n';
    }
}

void SiteFamilies(std::string& out, const TStatusView& view) {
    Family(out, "vkt_site_up", "gauge", "Whether the site answered its last probe (1) or not (0).");
    SiteSamples(out, view, "vkt_site_up", [](const TSiteStatus& s, std::string& v) {
        if (s.State != TSiteStatus::Unknown) v = s.State == TSiteStatus::Up ? "1" : "0";
    });
    Family(out, "vkt_site_rtt_seconds", "gauge", "Round-trip time of the site's last answer.");
    SiteSamples(out, view, "vkt_site_rtt_seconds", [](const TSiteStatus& s, std::string& v) {
        if (s.LastRttMs >= 0) v = Number(s.LastRttMs / 1000.0);
    });
    Family(out, "vkt_site_loss_ratio", "gauge", "Share of the site's probes of the last 24 hours that got no answer.");
    SiteSamples(out, view, "vkt_site_loss_ratio", [](const TSiteStatus& s, std::string& v) {
        if (s.State != TSiteStatus::Unknown) v = Number(s.Loss);
    });
    if (std::none_of(view.Sites.begin(), view.Sites.end(), [](const TSiteStatus& s) { return s.GroupDown >= 0; }))
        return; // a probe that works alone has no group verdict
    Family(out, "vkt_site_group_up", "gauge", "Whether the probes' group counts the site answering (1) or down (0).");
    SiteSamples(out, view, "vkt_site_group_up", [](const TSiteStatus& s, std::string& v) {
        if (s.GroupDown >= 0) v = s.GroupDown ? "0" : "1";
    });
}

void NoticeFamily(std::string& out, const TScanSummary& summary) {
    Family(out, "vkt_notifications_total", "counter", "Notices sent or failed since the start, by kind and result.");
    std::map<std::pair<std::string, std::string>, long long> notices = summary.Notices;
    notices.try_emplace({"mail", "sent"}, 0);
    notices.try_emplace({"mail", "failed"}, 0);
    for (const auto& [key, count] : notices)
        out += "vkt_notifications_total{kind=\"" + Label(key.first) + "\",result=\"" + Label(key.second) + "\"} " +
               IntToStr(count) + "\n";
}

} // namespace

std::string StatusJson(const TStatusView& view, const std::string& filter, bool history) {
    const TScanSummary& s = view.Summary;
    std::string out =
        "{\"daemon\":" + JsonString(view.DaemonId) + ",\"version\":" + JsonString(StatusVersion()) +
        ",\"database_up\":" + (view.DatabaseUp ? "true" : "false") +
        Format(",\"summary\":{\"sites\":%zu,\"answering\":%d,\"silent\":%d,\"notified\":%d", view.Sites.size(),
               view.Count(TSiteStatus::Up), view.Count(TSiteStatus::Down), view.NotifiedCount()) +
        ",\"last_scan\":" + JsonTime(s.LastScanEnd) +
        Format(",\"last_scan_seconds\":%.3f,\"scanning\":%s,\"scans\":%lld}", s.LastScanSeconds,
               s.Scanning ? "true" : "false", s.Scans) +
        ",\"sites\":[";
    std::vector<const TSiteStatus*> sites;
    for (const TSiteStatus& site : view.Sites)
        if (SiteMatches(site, filter)) sites.push_back(&site);
    const std::vector<TRttHistory> histories = history ? view.HistoriesOf(sites) : std::vector<TRttHistory>();
    for (std::size_t i = 0; i < sites.size(); ++i)
        out += (i == 0 ? "\n" : ",\n") + JsonSite(*sites[i], history ? &histories[i] : nullptr, s.Bucket);
    return out + "]}\n";
}

std::string StatusMetrics(const TStatusView& view) {
    const TScanSummary& s = view.Summary;
    std::string out;
    out.reserve(256 + view.Sites.size() * 200);
    SiteFamilies(out, view);
    Family(out, "vkt_scan_duration_seconds", "gauge", "Duration of the last completed scan.");
    out += "vkt_scan_duration_seconds " + Number(s.LastScanSeconds) + "\n";
    Family(out, "vkt_scan_sites", "gauge", "Site addresses probed by the last completed scan.");
    out += "vkt_scan_sites " + IntToStr(s.LastScanSites) + "\n";
    Family(out, "vkt_last_scan_timestamp_seconds", "gauge", "End of the last completed scan, in Unix time.");
    out +=
        "vkt_last_scan_timestamp_seconds " + IntToStr(s.LastScanEnd == 0 ? 0 : DateTimeToTimeT(s.LastScanEnd)) + "\n";
    NoticeFamily(out, s);
    Family(out, "vkt_database_up", "gauge", "Whether the database connection is up.");
    out += std::string("vkt_database_up ") + (view.DatabaseUp ? "1\n" : "0\n");
    Family(out, "vkt_build_info", "gauge", "The running build; always 1.");
    out += "vkt_build_info{version=\"" + StatusVersion() + "\"} 1\n";
    return out;
}
