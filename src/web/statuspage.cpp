// TStatusPage: self-contained. A small script of its own refreshes the page while nobody is typing in
// it and asks before a window is ended; without script the page reloads itself.
#include "web/statuspage.h"

#include "web/httprequest.h"
#include "web/statusmaintenance.h"

#include "platform/datetime.h"
#include "platform/strutil.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

// The sparkline draws 96 points, each the highest answer of three 5-minute buckets (15 minutes).
constexpr int SparkGroup = 3;
constexpr int SparkPoints = TRttHistory::Buckets / SparkGroup;
constexpr int SparkStep = 2; // pixels between points
constexpr int SparkHeight = 20;

// Fits a laptop without sideways scrolling (long cells wrap); below 760 px each site is a card of
// labelled lines. Colours keep a contrast of 4.5:1 or more on every row background.
const char* const PageStyle =
    "body{font:14px/1.4 system-ui,sans-serif;margin:1em 2em;color:#222;background:#fff}"
    "h1{font-size:1.4em;margin:0 0 .3em}h1 span{color:#595959;font-weight:normal}"
    ".sum b{font-size:1.1em}.sum .up,tr.up td.st{color:#175}.sum .down,tr.down td.st{color:#b22}"
    "table{border-collapse:collapse;margin-top:.8em}th,td{padding:3px 8px;text-align:left;vertical-align:top}"
    "td{overflow-wrap:break-word}th,td.n,td.st{white-space:nowrap}"
    "th{background:#eef;border-bottom:2px solid #99b}tr:nth-child(even){background:#f6f6f9}"
    "tr.down{background:#fde8e8}td.n{text-align:right}svg.sl{width:192px;height:20px;display:block;background:#eef1f5;"
    "border-radius:2px}"
    ".r{fill:none;stroke:#185;stroke-width:1.4;stroke-linecap:round;stroke-linejoin:round}.l{stroke:#c22;stroke-width:"
    "1.5}"
    "form input{padding:3px 6px;width:18em;max-width:100%;box-sizing:border-box}.note{color:#595959}.nav{margin:0 0 "
    ".3em}"
    "h2{font-size:1.15em;margin:1.2em 0 .2em}.mk input{width:auto}.mk p{margin:.3em 0}td form{margin:0}"
    "td form input{width:10em}td.st i{color:#8a4b00;font-style:normal}"
    "@media(max-width:760px){body{margin:.5em}thead{display:none}table,tbody,tr,td{display:block}"
    "tr{border:1px solid #ccd;margin:0 0 .5em;padding:.2em 0}td{padding:1px "
    "8px;white-space:normal;overflow-wrap:anywhere}td.n{text-align:left}"
    "tbody td:nth-child(n+4)::before{color:#595959}"
    ".sites td:nth-child(5)::before{content:'Since '}.sites td:nth-child(6)::before{content:'Last RTT '}"
    ".sites td:nth-child(7)::before{content:'Loss 24 h '}.sites td:nth-child(9)::before{content:'Notified '}"
    ".sites td:nth-child(11)::before{content:'Uptime 30 d '}}";

// Refreshes the page every `data-refresh` seconds by fetching it again and putting its main part in
// place, but never while a field has the focus or holds something typed or ticked (then it tries
// again 5 seconds later); asks the question of a form's data-confirm before sending it.
const char* const PageScript =
    "(function(){'use strict';var every=(parseInt(document.body.getAttribute('data-refresh'),10)||70)*1000;"
    "function busy(){var a=document.activeElement;if(a&&/^(INPUT|TEXTAREA|SELECT)$/.test(a.tagName))return true;"
    "var f=document.querySelectorAll('input,textarea');for(var i=0;i<f.length;++i){var e=f[i];"
    "if(e.type==='checkbox'||e.type==='radio'?e.checked!==e.defaultChecked:e.value!==e.defaultValue)return true;}"
    "return false;}"
    "function later(ms){setTimeout(refresh,ms);}"
    "function refresh(){if(busy()||document.hidden){later(5000);return;}"
    "fetch(location.href,{credentials:'same-origin',cache:'no-store'}).then(function(r){"
    "if(!r.ok)throw new Error(r.status);return r.text();}).then(function(text){"
    "var fresh=new DOMParser().parseFromString(text,'text/html').querySelector('main'),"
    "old=document.querySelector('main');if(fresh&&old&&!busy())old.replaceWith(document.importNode(fresh,true));"
    "later(every);},function(){later(every);});}"
    "later(every);"
    "document.addEventListener('submit',function(e){var q=e.target.getAttribute('data-confirm');"
    "if(q&&!window.confirm(q))e.preventDefault();});})();";

// Added to the style with [History]: the uptime bar.
const char* const HistoryStyle = "svg.ub{width:180px;height:12px;display:block}";

// A round-trip time for people: "0.084 ms" below 10 ms, whole milliseconds above.
std::string RttText(long long microseconds) {
    if (microseconds < 10000) return Format("%.3f ms", double(microseconds) / 1000.0);
    return IntToStr(int((microseconds + 500) / 1000)) + " ms";
}

std::string TimeText(TDateTime value) {
    return value == 0 ? std::string("&ndash;") : FormatDateTime("yyyy-mm-dd hh:nn:ss", value);
}

const char* StateText(const TSiteStatus& site) {
    if (site.State == TSiteStatus::Up && site.Degraded == 1) return "degraded";
    return site.State == TSiteStatus::Down ? "silent" : site.State == TSiteStatus::Up ? "answering" : "not probed yet";
}

// Who took the outage in hand, or the form that does it (when outages can be acknowledged).
std::string AckCell(const TSiteStatus& site, bool acknowledging) {
    if (site.AckAt != 0)
        return "<br>acknowledged by " + HtmlEscape(site.AckBy) + " at " + TimeText(site.AckAt) +
               (site.AckComment.empty() ? std::string() : ": " + HtmlEscape(site.AckComment));
    const bool down = site.GroupDown >= 0 ? site.GroupDown == 1 : site.State == TSiteStatus::Down;
    if (!acknowledging || !down) return {};
    return "<form class=ack method=post action=\"/status/ack\"><input type=hidden name=code value=\"" +
           HtmlEscape(site.Code) + "\"><input name=comment placeholder=comment aria-label=\"Comment on " +
           HtmlEscape(site.Code) + "\"> <button>Acknowledge</button></form>";
}

const char* RowClass(TSiteStatus::TState state) {
    return state == TSiteStatus::Down ? "down" : state == TSiteStatus::Up ? "up" : "unk";
}

// The sparkline's path commands are many and short: written without a format string.
void AppendCommand(std::string& out, char command, int x, int y) {
    char text[24];
    char* end = text;
    *end++ = command;
    end = std::to_chars(end, text + sizeof text, x).ptr;
    *end++ = ' ';
    end = std::to_chars(end, text + sizeof text, y).ptr;
    out.append(text, end);
}

struct SparkPoint {
    int rtt = -1; // highest answer of the group; -1 without any
    bool lost = false;
};

std::string Sparkline(const TRttHistory& history, std::int64_t now) {
    SparkPoint points[SparkPoints];
    int highest = 1;
    for (int i = 0; i < SparkPoints; ++i)
        for (int k = 0; k < SparkGroup; ++k) {
            // Point 0 is the oldest: its buckets are the furthest back.
            TRttHistory::Bucket b = history.At(now, TRttHistory::Buckets - 1 - (i * SparkGroup + k));
            if (b.Answered > 0) points[i].rtt = std::max(points[i].rtt, b.RttMs);
            points[i].lost = points[i].lost || b.Lost > 0;
            highest = std::max(highest, points[i].rtt);
        }
    // The line joins the answers across stretches without probes (a longer poll interval, a
    // restart); losses are marked on their own.
    std::string line, losses;
    int drawn = 0;
    for (int i = 0; i < SparkPoints; ++i) {
        const int x = i * SparkStep;
        if (points[i].rtt >= 0) {
            const int y = SparkHeight - 2 - (SparkHeight - 4) * points[i].rtt / highest;
            AppendCommand(line, line.empty() ? 'M' : 'L', x, y);
            ++drawn;
        }
        if (points[i].lost) {
            AppendCommand(losses, 'M', x, 2);
            losses += "v16";
        }
    }
    // A path of one point draws nothing: the first answer of a site shows as a short dash.
    if (drawn == 1) line += Format("h%d", SparkStep);
    return Format("<svg class=sl viewBox=\"0 0 %d %d\"><path class=r d=\"%s\"/><path class=l d=\"%s\"/></svg>",
                  SparkPoints * SparkStep, SparkHeight, line.c_str(), losses.c_str());
}

// A day's colour on the uptime bar; grey where nothing was covered.
const char* BarColour(std::uint8_t cell) {
    if (cell == 0) return "#dde";
    const double percent = BarCellPercent(cell);
    return percent >= 99.9 ? "#2a4" : percent >= 99 ? "#9c3" : percent >= 95 ? "#fb3" : "#d33";
}

// The days of the bar, oldest first; neighbouring days of one colour are drawn as one rectangle.
std::string UptimeBar(const SiteUptime& uptime) {
    std::string bar = Format("<svg class=ub viewBox=\"0 0 %d 10\">", BarDays * 2);
    for (int first = 0, next; first < BarDays; first = next) {
        const char* colour = BarColour(uptime.Bar[first]);
        for (next = first + 1; next < BarDays && BarColour(uptime.Bar[next]) == colour;)
            ++next;
        bar += Format("<rect x=%d width=%d height=10 fill=\"%s\"/>", first * 2, (next - first) * 2, colour);
    }
    return bar + "</svg>";
}

// The uptime cells of a row: the 30 days' figure and the 90 days' bar.
void AddUptime(std::string& page, const TSiteStatus& site, const TStatusView& view) {
    const SiteUptime* uptime = view.Uptime(site);
    if (!uptime) {
        page += "<td class=n>&ndash;<td>";
        return;
    }
    const double month = uptime->Percent[2];
    page += "<td class=n>" + (std::isnan(month) ? std::string("&ndash;") : UptimeText(month) + " %") + "<td>" +
            UptimeBar(*uptime);
}

void AddRow(std::string& page, const TSiteEntry& entry, const TStatusView& view) {
    const TSiteStatus& site = entry.Status;
    page += Format("<tr class=%s><td>", RowClass(site.State));
    if (view.History())
        page += "<a href=\"/status/site?code=" + QueryValue(site.Code) + "\">" + HtmlEscape(site.Code) + "</a>";
    else
        page += HtmlEscape(site.Code);
    page += "<td>" + HtmlEscape(site.Name) + "<td>" + HtmlEscape(site.Address);
    if (site.ShowsProbed()) page += " (" + HtmlEscape(site.Probed) + ")";
    page += std::string("<td class=st>") + StateText(site);
    if (site.GroupDown >= 0) page += Format(" (group: %s, %d failed)", site.GroupState(), site.GroupFailed);
    if (view.InMaintenance(site.Code, site.Tags)) page += " <i>(maintenance)</i>";
    page += "<td>" + TimeText(site.Since);
    page += "<td class=n>" + (site.LastRttUs < 0 ? std::string("&ndash;") : RttText(site.LastRttUs));
    page += Format("<td class=n>%.1f %%<td>", view.Loss(entry) * 100.0) + HtmlEscape(site.Cause);
    if (!site.FailedFamily.empty()) page += " (" + HtmlEscape(site.FailedFamily) + " failed)";
    if (!site.PathEnd.empty()) page += "<br>path ends at " + HtmlEscape(site.PathEnd);
    page += std::string("<td>") + (site.Notified ? "yes" : "no") + AckCell(site, view.Summary.Acknowledging) + "<td>" +
            Sparkline(entry.History, view.Summary.Bucket);
    if (view.History()) AddUptime(page, site, view);
    page += "</tr>\n";
}

void AddSummary(std::string& page, const TStatusView& view) {
    const TScanSummary& s = view.Summary;
    page += Format("<p class=sum><b>%zu</b> sites &middot; <b class=up>%d</b> answering &middot; "
                   "<b class=down>%d</b> silent &middot; <b>%d</b> notified &middot; ",
                   view.Sites.size(), view.Count(TSiteStatus::Up), view.Count(TSiteStatus::Down), view.NotifiedCount());
    if (s.LastScanEnd == 0)
        page += "no scan has ended yet";
    else
        page += "last scan ended " + TimeText(s.LastScanEnd) + Format(" after %.1f s", s.LastScanSeconds);
    if (s.Scanning) page += " (scanning now)";
    if (!view.DatabaseUp) page += " &middot; <b class=down>database not connected</b>";
    page += "</p>\n";
    if (s.Fleet.empty()) return;
    page += Format("<p class=sum><b>%zu</b> members live:", s.Fleet.size());
    for (std::size_t i = 0; i < s.Fleet.size(); ++i)
        page += std::string(i == 0 ? " " : " &middot; ") + HtmlEscape(s.Fleet[i].first) + " <b>" +
                FormatThousands(s.Fleet[i].second) + "</b> sites";
    page += "</p>\n";
}

} // namespace

void TStatusPage::Write(TBodyOut& out) const {
    const TStatusView& view = m_view;
    const std::string& filter = m_filter.TextGiven;
    std::string& page = out.Text;
    page += "<!DOCTYPE html>\n<html lang=en><head><meta charset=utf-8>";
    const int refresh = std::max(view.PollDelay, 0) * 60 + 10;
    page += Format("<noscript><meta http-equiv=refresh content=%d></noscript>", refresh);
    page += "<meta name=viewport content=\"width=device-width,initial-scale=1\">";
    page += "<title>Status " + HtmlEscape(view.DaemonId) + "</title><style>" + PageStyle +
            (view.History() ? HistoryStyle : "") + "</style></head>" +
            Format("<body data-refresh=%d><main>\n", refresh);
    page += "<h1>Status <span>" + HtmlEscape(view.DaemonId) + "</span></h1>\n";
    page += "<p class=nav><a href=\"/\">Administration</a></p>\n";
    AddSummary(page, view);
    // The state and tag a link asked for stay when the text changes.
    std::string kept;
    if (!m_filter.State.empty()) kept += "<input type=hidden name=state value=" + m_filter.State + ">";
    if (!m_filter.Tag.empty()) kept += "<input type=hidden name=tag value=\"" + HtmlEscape(m_filter.Tag) + "\">";
    page += "<form method=get action=status>" + kept + "<input name=q value=\"" + HtmlEscape(filter) +
            "\" placeholder=\"code, name or address\" aria-label=\"Filter by code, name or address\"> "
            "<button>Filter</button></form>\n";
    page +=
        "<table class=sites><thead><tr><th>Code<th>Site<th>Address<th>State<th>Since<th>Last RTT<th>Loss 24 h<th>Cause"
        "<th>Notified<th>RTT, last 24 h";
    if (view.History()) page += "<th>Uptime 30 d<th>Last 90 days";
    page += "</tr></thead><tbody>\n";
    int matching = 0;
    for (const TSiteEntry* site : view.Sites)
        if (m_filter.Keeps(site->Status) && ++matching <= MaxRows) {
            AddRow(page, *site, view);
            out.Spill();
        }
    const int shown = std::min(matching, MaxRows);
    page += "</tbody></table>\n";
    if (matching > shown)
        page += Format("<p class=note>Showing the first %d of %d sites; narrow them with the filter.</p>\n", shown,
                       matching);
    else if (matching == 0)
        page += "<p class=note>No site to show.</p>\n";
    AddMaintenanceSection(page, view);
    page += std::string("</main><script>") + PageScript + "</script></body></html>\n";
}
