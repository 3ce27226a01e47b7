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
    return path == "/status/site" || IsHistoryCsvPath(path);
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
    if (!body)
        body = HistoryBodyFor(
            request.TargetPath, [&request](const std::string& name) { return request.QueryField(name); }, view,
            refusal);
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
