// THTTPThread beyond the four pages: the status paths /status, /status.json and /metrics, with
// [History] the site page and the two CSVs, and /favicon.ico and /robots.txt, answered only where none
// of the four pages answers.
#include "web/historycsv.h"
#include "web/historyreport.h"
#include "web/httpthr.h"
#include "web/outagescsv.h"
#include "web/responsehead.h"
#include "web/statusbody.h"
#include "web/sitepage.h"

#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/strutil.h"

#include <memory>

namespace {

bool IsHistoryPath(const std::string& path) {
    return path == "/status/site" || path == "/status/outages.csv" || path == "/status/history.csv";
}

TSiteRecord SiteRecord(THistoryReport& report, const std::string& code, long long now) {
    TSiteRecord record;
    record.Code = code;
    record.Now = now;
    const long long hour = HourStart(now), today = LocalDayStart(now);
    record.Hours = report.Rows(HistoryStore::Step::Hour, code, hour - (30 * 24 - 1) * 3600LL, hour + 3600);
    record.Days = report.Rows(HistoryStore::Step::Day, code, DaysBefore(today, 364), NextLocalDay(today));
    record.Outages = report.Outages(DaysBefore(today, 365), now + 1, code);
    return record;
}

// The history paths read the tables over a connection of their own, made for the request. A report
// whose days or step cannot be read is refused: `refusal` says why, and no body is made.
std::unique_ptr<TStatusBody> HistoryBodyFor(const THTTPRequest& request, const TStatusView& view,
                                            std::string& refusal) {
    if (!view.History()) return nullptr;
    const std::string& path = request.TargetPath;
    const long long now = DateTimeToTimeT(GetClock().Now());
    const auto span = ReportSpan(request.QueryField("from"), request.QueryField("to"), now);
    const std::string step = request.QueryField("step");
    if (!span || (!step.empty() && step != "hour" && step != "day")) {
        refusal = "A report takes from and to as days YYYY-MM-DD, and step as hour or day.\n";
        return nullptr;
    }
    THistoryReport report(*view.History());
    const auto [from, to] = *span;
    const std::string given = request.QueryField("code");
    // A code no site has any more still names its outages and rows as given.
    const std::string known = given.empty() ? given : report.SiteCode(given);
    const std::string code = known.empty() ? given : known;
    if (path == "/status/outages.csv")
        return std::make_unique<TOutagesCsv>(view, report.Outages(from, to, code), report.SiteNames(), now);
    const auto rows = step == "day" ? HistoryStore::Step::Day : HistoryStore::Step::Hour;
    return std::make_unique<THistoryCsv>(
        view, code, code.empty() ? decltype(report.Rows(rows, code, from, to)){} : report.Rows(rows, code, from, to));
}

} // namespace

void THTTPThread::RespondWithStatus(const THTTPRequest& request) {
    if (request.PlainPost) RespondToMaintenance(request);
    if (Board == nullptr || !request.PlainGet) return;
    TStatusView view;
    SiteFilter filter;
    if (const auto refused = StatusFilterFor(
            request.TargetPath, [&request](const std::string& name) { return request.QueryField(name); }, filter)) {
        SendShort("400 Bad Request", "", refused->Message + "\n");
        return;
    }
    std::unique_ptr<TStatusBody> body = StatusBodyFor(request.TargetPath, filter, request.QueryField("history"), view);
    if (!body && !IsHistoryPath(request.TargetPath)) return;
    view.Load(*Board);
    if (Maintenance) view.LoadMaintenance(*Maintenance, request.QueryField("maintenance_after"));
    view.DaemonId = AsUtf8(DaemonId);
    view.DatabaseUp = DatabaseUp;
    view.PollDelay = Settings.PollDelay;
    if (request.TargetPath == "/status/site" && view.History()) {
        RespondWithSitePage(request, view);
        return;
    }
    std::string refusal;
    if (!body) body = HistoryBodyFor(request, view, refusal);
    if (body)
        SendStatusBody(*body, view);
    else if (!refusal.empty())
        SendShort("400 Bad Request", "", refusal);
}

void THTTPThread::RespondWithSitePage(const THTTPRequest& request, const TStatusView& view) {
    const std::string asked = request.QueryField("code");
    if (asked.empty()) {
        SendShort("400 Bad Request", "", "The site page needs a site's code: /status/site?code=...\n");
        return;
    }
    THistoryReport report(*view.History());
    const std::string code = report.SiteCode(asked);
    if (code.empty()) {
        SendShort("404 Not Found", "", "No site has this code.\n");
        return;
    }
    SendStatusBody(TSitePage(view, SiteRecord(report, code, DateTimeToTimeT(GetClock().Now()))), view);
}

void THTTPThread::RespondToWellKnown(const THTTPRequest& request) {
    if (!request.PlainGet) return;
    if (request.TargetPath == "/favicon.ico")
        SendShort("404 Not Found", "", "No icon.\n");
    else if (request.TargetPath == "/robots.txt")
        SendShort("200 OK", "", "User-agent: *\nDisallow: /\n");
}

// Every client of the whole board asks for the same bytes: they are made once per snapshot and
// shared. Any other body is made twice, once to measure it and once to send it block by block, so a
// response never holds more than a block of its own however slowly its client reads.
void THTTPThread::SendStatusBody(const TStatusBody& body, const TStatusView& view) {
    const char* contentType = body.ContentType();
    if (body.SameForEveryone()) {
        SendGenerated(contentType, *SharedStatusBody(body, view));
        return;
    }
    std::size_t length = 0;
    TBodyOut measure([&length](const std::string& block) { length += block.size(); });
    body.Write(measure);
    measure.Flush();
    SendHead(contentType, length);
    TBodyOut send([this](const std::string& block) { Socket->SendBuffer(block.data(), block.size()); });
    body.Write(send);
    send.Flush();
}

void THTTPThread::SendGenerated(const char* contentType, const std::string& body) {
    SendHead(contentType, body.size());
    Socket->SendBuffer(body.data(), body.size());
}

void THTTPThread::SendHead(const char* contentType, std::size_t length) {
    const std::string head = std::string(StatusLine) + "\r\n" + ServerLine + "\r\nContent-Type: " + contentType +
                             "\r\nCache-Control: no-store\r\n" + Format("Content-Length: %zu\r\n\r\n", length);
    m_answered = true;
    Socket->SendBuffer(head.data(), head.size());
}
