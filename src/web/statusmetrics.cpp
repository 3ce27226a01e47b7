// TStatusMetrics: the board in the Prometheus text format 0.0.4.
#include "web/statusmetrics.h"

#include "platform/datetime.h"
#include "platform/strutil.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace {

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
template <class ValueOf> void SiteSamples(TBodyOut& body, const TStatusView& view, const char* name, ValueOf value) {
    std::string sample;
    for (const TSiteEntry* site : view.Sites) {
        const TSiteStatus& s = site->Status;
        sample.clear();
        value(*site, sample);
        if (sample.empty()) continue;
        std::string& out = body.Text;
        out += name;
        out += "{code=\"";
        out += Label(s.Code);
        out += "\",address=\"";
        out += Label(s.Address);
        if (s.ShowsProbed()) {
            out += "\",probed=\"";
            out += Label(s.Probed);
            out += "\",family=\"";
            out += Label(s.FailedFamily);
        }
        if (!s.ProbedBy.empty()) {
            out += "\",probed_by=\"";
            for (std::size_t i = 0; i < s.ProbedBy.size(); ++i)
                out += (i == 0 ? "" : ",") + Label(s.ProbedBy[i]);
        }
        out += "\"} ";
        out += sample;
        out += '\n';
        body.Spill();
    }
}

void SiteFamilies(TBodyOut& body, const TStatusView& view) {
    std::string& out = body.Text;
    Family(out, "vkt_site_up", "gauge", "Whether the site answered its last probe (1) or not (0).");
    SiteSamples(body, view, "vkt_site_up", [](const TSiteEntry& e, std::string& v) {
        if (e.Status.State != TSiteStatus::Unknown) v = e.Status.State == TSiteStatus::Up ? "1" : "0";
    });
    Family(out, "vkt_site_rtt_seconds", "gauge", "Round-trip time of the site's last answer.");
    SiteSamples(body, view, "vkt_site_rtt_seconds", [](const TSiteEntry& e, std::string& v) {
        if (e.Status.LastRttUs >= 0) v = Number(double(e.Status.LastRttUs) / 1e6);
    });
    Family(out, "vkt_site_loss_ratio", "gauge", "Share of the site's probes of the last 24 hours that got no answer.");
    SiteSamples(body, view, "vkt_site_loss_ratio", [&view](const TSiteEntry& e, std::string& v) {
        if (e.Status.State != TSiteStatus::Unknown) v = Number(view.Loss(e));
    });
    if (std::any_of(view.Sites.begin(), view.Sites.end(),
                    [](const TSiteEntry* s) { return s->Status.Degraded >= 0; })) {
        Family(out, "vkt_site_degraded", "gauge",
               "Whether the site answers with loss or delay over its thresholds (1).");
        SiteSamples(body, view, "vkt_site_degraded", [](const TSiteEntry& e, std::string& v) {
            if (e.Status.Degraded >= 0) v = e.Status.Degraded == 1 && e.Status.State == TSiteStatus::Up ? "1" : "0";
        });
    }
    if (std::none_of(view.Sites.begin(), view.Sites.end(),
                     [](const TSiteEntry* s) { return s->Status.GroupDown >= 0; }))
        return; // a probe that works alone has no group verdict
    Family(out, "vkt_site_group_up", "gauge", "Whether the probes' group counts the site answering (1) or down (0).");
    SiteSamples(body, view, "vkt_site_group_up", [](const TSiteEntry& e, std::string& v) {
        if (e.Status.GroupDown == 0 || e.Status.GroupDown == 1) v = e.Status.GroupDown ? "0" : "1";
    });
}

// What a rule needs beside the state: which site it is, whether a window holds its notices or someone
// acknowledged its outage, whether it was notified, and counters that only grow.
void SiteStateFamilies(TBodyOut& body, const TStatusView& view) {
    std::string& out = body.Text;
    Family(out, "vkt_site_info", "gauge", "The site's name and tags (comma-separated); always 1.");
    for (const TSiteEntry* site : view.Sites) {
        const TSiteStatus& s = site->Status;
        std::string tags;
        for (const std::string& tag : s.Tags)
            tags += (tags.empty() ? "" : ",") + tag;
        out += "vkt_site_info{code=\"" + Label(s.Code) + "\",name=\"" + Label(s.Name) + "\",address=\"" +
               Label(s.Address) + "\",tags=\"" + Label(tags) + "\"} 1\n";
        body.Spill();
    }
    auto flag = [](bool on) { return std::string(on ? "1" : "0"); };
    Family(out, "vkt_site_maintenance", "gauge", "Whether a maintenance window holds the site's notices now (1).");
    SiteSamples(body, view, "vkt_site_maintenance",
                [&](const TSiteEntry& e, std::string& v) { v = flag(view.InMaintenance(e.Status.Code)); });
    Family(out, "vkt_site_acknowledged", "gauge", "Whether someone acknowledged the site's current outage (1).");
    SiteSamples(body, view, "vkt_site_acknowledged",
                [&](const TSiteEntry& e, std::string& v) { v = flag(e.Status.AckAt != 0); });
    Family(out, "vkt_site_notified", "gauge", "Whether the notice of the site's current outage went out (1).");
    SiteSamples(body, view, "vkt_site_notified",
                [&](const TSiteEntry& e, std::string& v) { v = flag(e.Status.Notified); });
    Family(out, "vkt_probes_total", "counter", "Probes of the site since the daemon started.");
    SiteSamples(body, view, "vkt_probes_total",
                [](const TSiteEntry& e, std::string& v) { v = IntToStr(e.Status.Probes); });
    Family(out, "vkt_probe_failures_total", "counter", "Probes of the site since the start that got no answer.");
    SiteSamples(body, view, "vkt_probe_failures_total",
                [](const TSiteEntry& e, std::string& v) { v = IntToStr(e.Status.ProbeFailures); });
}

// One sample per site code and window that has covered time; several addresses of a code share it.
void AvailabilityFamily(TBodyOut& body, const TStatusView& view) {
    if (!view.History()) return;
    Family(body.Text, "vkt_site_availability_ratio", "gauge",
           "Share of the window's covered time in which the site answered, maintenance left out.");
    std::set<std::string> done;
    for (const TSiteEntry* site : view.Sites) {
        const SiteUptime* uptime = view.Uptime(site->Status);
        if (!uptime || !done.insert(site->Status.Code).second) continue;
        for (int w = 0; w < UptimeWindows; ++w)
            if (!std::isnan(uptime->Percent[w]))
                body.Text += "vkt_site_availability_ratio{code=\"" + Label(site->Status.Code) + "\",window=\"" +
                             UptimeWindowNames[w] + "\"} " + Number(uptime->Percent[w] / 100.0) + "\n";
        body.Spill();
    }
}

void NoticeFamily(std::string& out, const TScanSummary& summary) {
    Family(out, "vkt_notifications_total", "counter", "Notices sent or failed since the start, by kind and result.");
    std::map<std::pair<std::string, std::string>, long long> notices = summary.Notices;
    notices.try_emplace({"mail", "sent"}, 0);
    notices.try_emplace({"mail", "failed"}, 0);
    for (const auto& [key, count] : notices)
        out += "vkt_notifications_total{kind=\"" + Label(key.first) + "\",result=\"" + Label(key.second) + "\"} " +
               IntToStr(count) + "\n";
    for (const auto& [key, count] : summary.ChannelNotices)
        out += "vkt_notifications_total{kind=\"" + Label(std::get<0>(key)) + "\",channel=\"" + Label(std::get<1>(key)) +
               "\",result=\"" + Label(std::get<2>(key)) + "\"} " + IntToStr(count) + "\n";
}

} // namespace

void TStatusMetrics::Write(TBodyOut& body) const {
    const TStatusView& view = m_view;
    const TScanSummary& s = view.Summary;
    SiteFamilies(body, view);
    SiteStateFamilies(body, view);
    AvailabilityFamily(body, view);
    std::string& out = body.Text;
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
}
