// TStatusBody: the whole body, for the callers that keep it; which body a path asks for.
#include "web/statusbody.h"

#include "platform/strutil.h"
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
