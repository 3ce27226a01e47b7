// SiteFilter: the parameters read strictly, so that a typing error is a refusal rather than a list
// that silently ignores it.
#include "web/sitefilter.h"

#include "db/tagrule.h"
#include "platform/strutil.h"
#include "web/statusjson.h"
#include "web/statusview.h"

#include <algorithm>
#include <cctype>

namespace {

bool IsState(const std::string& state) {
    return state == "up" || state == "degraded" || state == "down" || state == "unknown";
}

} // namespace

bool HoldsText(const std::string& text, const std::string& lowerPart) {
    const auto found = std::search(text.begin(), text.end(), lowerPart.begin(), lowerPart.end(),
                                   [](char a, char b) { return char(std::tolower((unsigned char)a)) == b; });
    return lowerPart.empty() || found != text.end();
}

SiteFilter SiteFilter::OfText(const std::string& text) {
    SiteFilter filter;
    filter.TextGiven = text;
    filter.Text = LowerCase(Trim(text));
    return filter;
}

std::optional<SiteFilter::Refusal> SiteFilter::Read(const std::function<std::string(const std::string&)>& field,
                                                    SiteFilter& filter) {
    filter = OfText(field("q"));
    filter.State = field("state");
    if (!filter.State.empty() && !IsState(filter.State))
        return Refusal{"state", "state is one of up, degraded, down, unknown"};
    filter.Tag = field("tag");
    if (!filter.Tag.empty()) {
        if (const std::string problem = TagProblem(filter.Tag); !problem.empty())
            return Refusal{"tag", "tag " + problem};
        filter.Tag = LowerCase(filter.Tag);
    }
    const std::string limit = field("limit");
    if (!limit.empty()) {
        const bool digits = limit.size() <= 4 && limit.find_first_not_of("0123456789") == std::string::npos;
        filter.Limit = digits ? std::stoul(limit) : 0;
        if (filter.Limit < 1 || filter.Limit > MaxLimit)
            return Refusal{"limit", "limit is a whole number from 1 to " + std::to_string(MaxLimit)};
    }
    filter.After = field("after");
    // A code holds no control character: such a cursor came from no page.
    if (std::any_of(filter.After.begin(), filter.After.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; }))
        return Refusal{"after", "after is the code of a site, as a page's next link gives it"};
    return std::nullopt;
}

bool SiteFilter::Keeps(const std::string& state, const std::string& code, const std::string& name,
                       const std::string& address, const std::vector<std::string>& tags) const {
    if (!State.empty() && state != State) return false;
    if (!Tag.empty() && std::find(tags.begin(), tags.end(), Tag) == tags.end()) return false;
    return Text.empty() || HoldsText(code, Text) || HoldsText(name, Text) || HoldsText(address, Text);
}

bool SiteFilter::Keeps(const TSiteStatus& site) const {
    return Keeps(StatusStateName(site), site.Code, site.Name, site.Address, site.Tags);
}

std::string SiteFilter::NextQuery(const std::string& code) const {
    std::string query = "limit=" + std::to_string(Limit) + "&after=" + QueryValue(code);
    if (!State.empty()) query += "&state=" + State;
    if (!Tag.empty()) query += "&tag=" + QueryValue(Tag);
    if (!Text.empty()) query += "&q=" + QueryValue(Text);
    return query;
}
