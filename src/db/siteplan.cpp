// The plan: the daemon's sites now against the wanted list.
#include "db/siteplan.h"

#include "platform/strutil.h"

#include <map>

namespace {

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
    std::map<std::string, SiteFields> current;
    for (SiteFields& site : store.List(daemon))
        current.emplace(LowerCase(site.Code), std::move(site));
    SitePlan plan;
    for (const SiteFields& site : wanted) {
        const auto it = current.find(LowerCase(site.Code));
        std::optional<SiteFields> now;
        if (it != current.end()) {
            now = it->second;
            current.erase(it);
        } else {
            now = store.Find(site.Code); // probed by another daemon only: this one takes it up
            if (now) now->Daemon = "";
        }
        if (!now) {
            plan.Steps.push_back({{SiteChange::Kind::Create, site}, {}});
            continue;
        }
        std::vector<std::string> fields = FieldsThatDiffer(*now, site);
        if (fields.empty())
            ++plan.Unchanged;
        else
            plan.Steps.push_back({{SiteChange::Kind::Update, site}, std::move(fields)});
    }
    for (const auto& [key, site] : current) {
        if (!prune) {
            plan.Kept.push_back(site.Code);
            continue;
        }
        SiteChange remove{SiteChange::Kind::Delete, {}};
        remove.Site.Code = site.Code;
        remove.Site.Daemon = daemon;
        plan.Steps.push_back({remove, {}});
    }
    return plan;
}
