// TStatusBody: the whole body, for the callers that keep it; which body a path asks for.
#include "web/statusbody.h"

#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/strutil.h"
#include "web/historycsv.h"
#include "web/historyreport.h"
#include "web/outagescsv.h"
#include "web/statusjson.h"
#include "web/statusmetrics.h"
#include "web/statuspage.h"

std::string TStatusBody::Whole() const {
    return TBodyOut::Whole([this](TBodyOut& out) { Write(out); });
}

std::unique_ptr<TStatusBody> StatusBodyFor(const std::string& path, const SiteFilter& filter,
                                           const std::string& history, const TStatusView& view) {
    if (path == "/status") return std::make_unique<TStatusPage>(view, filter);
    if (path == "/status.json") return std::make_unique<TStatusJson>(view, filter, history == "1");
    if (path == "/metrics") return std::make_unique<TStatusMetrics>(view);
    return nullptr;
}

std::optional<SiteFilter::Refusal> StatusFilterFor(const std::string& path,
                                                   const std::function<std::string(const std::string&)>& field,
                                                   SiteFilter& filter) {
    std::optional<SiteFilter::Refusal> refusal = SiteFilter::Read(field, filter);
    if (refusal && path == "/status.json") return refusal;
    if (refusal) filter = SiteFilter::OfText(field("q"));
    return std::nullopt;
}

std::shared_ptr<const std::string> SharedStatusBody(const TStatusBody& body, const TStatusView& view) {
    const std::string key = Format("%s\n%s\n%d\n%d\n%lld", body.ContentType(), view.DaemonId.c_str(),
                                   int(view.DatabaseUp), view.PollDelay, (long long)view.Summary.Bucket) +
                            view.MaintenanceKey();
    return view.Snapshot->Rendered(key, [&body] { return body.Whole(); });
}

bool IsHistoryCsvPath(const std::string& path) {
    return path == "/status/outages.csv" || path == "/status/history.csv";
}

// The history paths read the tables over a connection of their own, made for the request. A report
// whose days or step cannot be read is refused: `refusal` says why, and no body is made.
std::unique_ptr<TStatusBody> HistoryBodyFor(const std::string& path,
                                            const std::function<std::string(const std::string&)>& field,
                                            const TStatusView& view, std::string& refusal) {
    if (!view.History() || !IsHistoryCsvPath(path)) return nullptr;
    const long long now = DateTimeToTimeT(GetClock().Now());
    const auto span = ReportSpan(field("from"), field("to"), now);
    const std::string step = field("step");
    if (!span || (!step.empty() && step != "hour" && step != "day")) {
        refusal = "A report takes from and to as days YYYY-MM-DD, and step as hour or day.\n";
        return nullptr;
    }
    THistoryReport report(*view.History());
    const auto [from, to] = *span;
    const std::string given = field("code");
    // A code no site has any more still names its outages and rows as given.
    const std::string known = given.empty() ? given : report.SiteCode(given);
    const std::string code = known.empty() ? given : known;
    if (path == "/status/outages.csv")
        return std::make_unique<TOutagesCsv>(view, report.Outages(from, to, code), report.SiteNames(), now);
    const auto rows = step == "day" ? HistoryStore::Step::Day : HistoryStore::Step::Hour;
    return std::make_unique<THistoryCsv>(
        view, code, code.empty() ? decltype(report.Rows(rows, code, from, to)){} : report.Rows(rows, code, from, to));
}
