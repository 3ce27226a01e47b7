// AddMaintenanceSection: plain forms; the browser sends them to POST /status/maintenance. "End now"
// asks first where the page's script runs.
#include "web/statusmaintenance.h"

#include "web/httprequest.h"
#include "web/maintenanceform.h"

#include "platform/strutil.h"

namespace {

const char* const DayNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

std::string Span(const TimeSpan& span, const TimeZone& zone) {
    return LocalTimeText(span.Start, zone) + " &ndash; " + LocalTimeText(span.End, zone);
}

std::string When(const TStatusView::TListedWindow& listed, const TimeZone& zone) {
    const MaintenanceWindow& w = *listed.Window;
    std::string text;
    if (w.Weekly()) {
        std::string days;
        for (int i = 0; i < 7; ++i)
            if (w.Weekdays & (1 << i)) days += std::string(days.empty() ? "" : ", ") + DayNames[i];
        text = "every " + days +
               Format(" at %02d:%02d for %d min; ", w.DayTime / 3600, w.DayTime / 60 % 60, w.Seconds / 60);
        text += listed.Holding ? "this one " : "next ";
    }
    text += Span(listed.Next, zone);
    return listed.Holding ? text + " <b>(now)</b>" : text;
}

void AddWindowRow(std::string& page, const TStatusView::TListedWindow& listed, const TimeZone& zone) {
    const MaintenanceWindow& w = *listed.Window;
    page += "<tr><td>" + (w.Code == "*" ? std::string("* (every site)") : HtmlEscape(w.Code)) + "<td>" +
            When(listed, zone) + "<td>" + HtmlEscape(w.Reason) + "<td>" + HtmlEscape(w.MadeBy) +
            "<td><form method=post action=\"/status/maintenance\" data-confirm=\"End the window for " +
            HtmlEscape(w.Code == "*" ? std::string("every site") : w.Code) +
            " now?\"><input type=hidden name=end_early value=" + IntToStr(w.Id) +
            "><button>End now</button></form></tr>\n";
}

void AddMakeForm(std::string& page) {
    page += "<form class=mk method=post action=\"/status/maintenance\"><p><label>Code <input name=code size=12 "
            "placeholder=\"code or *\" required></label> <label>Reason <input name=reason size=30></label></p>\n"
            "<p>For <input name=minutes size=6 aria-label=Minutes> minutes from now, or from <input name=start "
            "type=datetime-local step=1 aria-label=Start> to <input name=end type=datetime-local step=1 "
            "aria-label=End></p>\n<p>Or weekly on";
    for (const char* day : DayNames)
        page += std::string(" <label><input type=checkbox name=weekdays value=") + day + ">" + day + "</label>";
    page += " at <input name=time type=time aria-label=\"Time of day\"> for the minutes above</p>\n<p><button>Make "
            "window</button></p></form>\n";
}

} // namespace

void AddMaintenanceSection(std::string& page, const TStatusView& view) {
    if (!view.Maintenance) return;
    page += "<h2>Maintenance</h2>\n<p class=note>During a window the sites are probed and logged as always; their "
            "notices wait, and go out when it ends if the site is still down.</p>\n";
    if (!view.MaintenanceListed.empty()) {
        page += "<table><thead><tr><th>Code<th>When<th>Reason<th>Made by<th></tr></thead><tbody>\n";
        for (const TStatusView::TListedWindow& listed : view.MaintenanceListed)
            AddWindowRow(page, listed, *view.Zone);
        page += "</tbody></table>\n";
    }
    if (view.MaintenanceListed.size() < view.MaintenanceTotal) {
        page += Format("<p class=note>%zu of %zu windows running or to come shown. ", view.MaintenanceListed.size(),
                       view.MaintenanceTotal);
        page += view.MaintenanceNext.empty()
                    ? std::string("<a href=\"/status\">First ones</a></p>\n")
                    : "<a href=\"/status?maintenance_after=" + view.MaintenanceNext + "\">Next ones</a></p>\n";
    }
    AddMakeForm(page);
}
