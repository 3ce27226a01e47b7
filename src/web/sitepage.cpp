// TSitePage: self-contained like the board: no script, no outside assets.
#include "web/sitepage.h"

#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/strutil.h"
#include "web/historychart.h"
#include "web/historyreport.h"
#include "web/httprequest.h"

#include <cmath>
#include <map>

namespace {

const char* const SiteStyle =
    "body{font:14px/1.4 system-ui,sans-serif;margin:1em 2em;color:#222;background:#fff}h1{font-size:1.4em}"
    "h2{font-size:1.1em;margin:1.2em 0 .3em}svg.ch{width:100%;max-width:900px;height:90px;display:block}"
    "table{border-collapse:collapse}th,td{padding:3px 8px;text-align:left;white-space:nowrap}"
    "th{background:#eef;border-bottom:2px solid #99b}td.n{text-align:right}.note{color:#666}";

ChartPoint PointOf(const Tally& t) {
    ChartPoint p;
    if (t.Received > 0) p.RttMs = double(t.RttAvgUs) / 1000.0;
    if (t.Sent > 0) p.Loss = double(t.Sent - t.Received) / double(t.Sent);
    return p;
}

// The slots from `first` to `last`, each the next of the one before it; rows at their slot's start.
template <class NextSlot>
std::vector<ChartPoint> Slots(const std::vector<std::pair<long long, Tally>>& rows, long long first, long long last,
                              NextSlot next) {
    const std::map<long long, Tally> byStart(rows.begin(), rows.end());
    std::vector<ChartPoint> points;
    for (long long at = first; at <= last; at = next(at)) {
        const auto row = byStart.find(at);
        points.push_back(row == byStart.end() ? ChartPoint{} : PointOf(row->second));
    }
    return points;
}

std::vector<ChartPoint> LastDay(const TRttHistory& history, std::int64_t bucket) {
    std::vector<ChartPoint> points;
    for (int age = TRttHistory::Buckets - 1; age >= 0; --age) {
        const TRttHistory::Bucket b = history.At(bucket, age);
        ChartPoint p;
        if (b.Answered > 0) p.RttMs = b.RttMs;
        if (b.Answered + b.Lost > 0) p.Loss = double(b.Lost) / double(b.Answered + b.Lost);
        points.push_back(p);
    }
    return points;
}

std::string Duration(long long seconds) {
    return Format("%lldd %02lld:%02lld:%02lld", seconds / SecondsPerDay, seconds / 3600 % 24, seconds / 60 % 60,
                  seconds % 60);
}

} // namespace

void TSitePage::Write(TBodyOut& out) const {
    std::string& page = out.Text;
    const std::string code = HtmlEscape(AsUtf8(m_record.Code));
    page += "<!DOCTYPE html>\n<html lang=en><head><meta charset=utf-8>"
            "<meta name=viewport content=\"width=device-width,initial-scale=1\"><title>Site " +
            code + "</title><style>" + SiteStyle + "</style></head><body>\n<h1>Site " + code + "</h1>\n" +
            "<p><a href=\"/status\">Status</a></p>\n";
    AddUptime(page);
    AddCharts(page);
    out.Spill();
    AddOutages(page);
    page += "</body></html>\n";
}

void TSitePage::AddUptime(std::string& page) const {
    const UptimeView* history = m_view.History();
    const SiteUptime* uptime = history ? history->Find(m_record.Code) : nullptr;
    page += "<h2>Uptime</h2>\n<table><tr>";
    for (const char* name : UptimeWindowNames)
        page += std::string("<th>") + name;
    page += "</tr>\n<tr>";
    for (int w = 0; w < UptimeWindows; ++w) {
        const bool known = uptime && !std::isnan(uptime->Percent[w]);
        page += "<td class=n>" + (known ? UptimeText(uptime->Percent[w]) + " %" : std::string("&ndash;"));
    }
    page += "</tr></table>\n";
}

void TSitePage::AddCharts(std::string& page) const {
    for (const TSiteEntry* site : m_view.Sites)
        if (site->Status.Code == AsUtf8(m_record.Code))
            page += "<h2>RTT and loss, last 24 hours (per scan): " + HtmlEscape(site->Status.Address) + "</h2>\n" +
                    HistoryChart(LastDay(site->History, m_view.Summary.Bucket)) + "\n";
    const long long now = m_record.Now, hour = HourStart(now), today = LocalDayStart(now);
    page +=
        "<h2>RTT and loss, last 30 days (hourly)</h2>\n" +
        HistoryChart(Slots(m_record.Hours, hour - (30 * 24 - 1) * 3600LL, hour, [](long long h) { return h + 3600; })) +
        "\n<h2>RTT and loss, last year (daily)</h2>\n" +
        HistoryChart(Slots(m_record.Days, DaysBefore(today, 364), today, NextLocalDay)) + "\n";
}

void TSitePage::AddOutages(std::string& page) const {
    page += "<h2>Outages</h2>\n";
    if (m_record.Outages.empty()) {
        page += "<p class=note>No outage in the last year.</p>\n";
        return;
    }
    page += "<table><tr><th>Start<th>End<th>Duration<th>Cause<th>Notified</tr>\n";
    std::size_t shown = 0;
    for (auto r = m_record.Outages.rbegin(); r != m_record.Outages.rend() && shown < MaxOutages; ++r, ++shown)
        page += "<tr><td>" + ReportTime(r->Start) + "<td>" + (r->Open() ? std::string("lasting") : ReportTime(r->End)) +
                "<td class=n>" + Duration((r->Open() ? m_record.Now : r->End) - r->Start) + "<td>" +
                HtmlEscape(AsUtf8(r->Cause)) + "<td>" + (r->Notified ? "yes" : "no") + "</tr>\n";
    page += "</table>\n";
}
