// The plan: the daemon's sites now against the wanted list.
#include "db/siteplan.h"

#include "platform/strutil.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

namespace {

/// Listed codes of other daemons or new ones up to which each is looked up by itself.
constexpr std::size_t kFindsAtMost = 32;

/// A whole number as the database gives it back ("05" is stored and read as 5).
std::string NumberText(const std::string& text) {
    return text.empty() ? text : IntToStr(std::stoll(text));
}

std::vector<std::string> FieldsThatDiffer(const SiteFields& now, const SiteFields& wanted) {
    std::vector<std::string> fields;
    if (now.Name != wanted.Name) fields.push_back("name");
    if (now.Address != wanted.Address) fields.push_back("address");
    if (NumberText(now.Downtime) != NumberText(wanted.Downtime)) fields.push_back("downtime");
    if (now.Email != wanted.Email) fields.push_back("email");
    if (NumberText(now.ContactFlag) != NumberText(wanted.ContactFlag)) fields.push_back("contactflag");
    if (!SameText(now.Daemon, wanted.Daemon)) fields.push_back("daemon");
    return fields;
}

} // namespace

std::vector<SiteChange> SitePlan::Changes() const {
    std::vector<SiteChange> changes;
    for (const PlannedChange& step : Steps)
        changes.push_back(step.Change);
    return changes;
}

SitePlan PlanSites(SiteStore& store, const std::string& daemon, const std::vector<SiteFields>& wanted, bool prune) {
    // The daemon's sites by key; a listed site takes its entry out.
    std::unordered_map<std::string, SiteFields> current;
    for (SiteFields& site : store.List(daemon)) {
        std::string key = SiteCodeKey(site.Code);
        current.emplace(std::move(key), std::move(site));
    }
    SitePlan plan;
    plan.Current = current.size();
    std::vector<std::optional<SiteFields>> now(wanted.size());
    std::vector<std::size_t> elsewhere; // listed, not this daemon's: another daemon's, or new
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        const auto it = current.find(SiteCodeKey(wanted[i].Code));
        if (it == current.end()) {
            elsewhere.push_back(i);
            continue;
        }
        now[i] = std::move(it->second);
        current.erase(it);
    }
    // A few codes are looked up one by one; many at once by one read of every site.
    if (elsewhere.size() <= kFindsAtMost) {
        for (std::size_t i : elsewhere)
            now[i] = store.Find(wanted[i].Code);
    } else {
        std::unordered_map<std::string, SiteFields> all;
        for (SiteFields& site : store.List("")) {
            std::string key = SiteCodeKey(site.Code);
            all.emplace(std::move(key), std::move(site));
        }
        for (std::size_t i : elsewhere)
            if (const auto it = all.find(SiteCodeKey(wanted[i].Code)); it != all.end()) now[i] = std::move(it->second);
    }
    for (std::size_t i : elsewhere)
        if (now[i]) now[i]->Daemon = ""; // probed by another daemon only: this one takes it up
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        const SiteFields& site = wanted[i];
        if (!now[i]) {
            plan.Steps.push_back({{SiteChange::Kind::Create, site}, {}});
            continue;
        }
        std::vector<std::string> fields = FieldsThatDiffer(*now[i], site);
        if (fields.empty())
            ++plan.Unchanged;
        else
            plan.Steps.push_back({{SiteChange::Kind::Update, site}, std::move(fields)});
    }
    std::vector<std::pair<std::string, std::string>> left; // key, code: the daemon's sites not listed
    for (auto& [key, site] : current)
        left.emplace_back(key, std::move(site.Code));
    std::sort(left.begin(), left.end());
    for (auto& [key, code] : left) {
        if (!prune) {
            plan.Kept.push_back(std::move(code));
            continue;
        }
        SiteChange remove{SiteChange::Kind::Delete, {}};
        remove.Site.Code = std::move(code);
        remove.Site.Daemon = daemon;
        plan.Steps.push_back({remove, {}});
    }
    return plan;
}
