// TStatusView: the snapshot one status response shows, and the filter its page and JSON share.
#include "web/statusview.h"

#include "platform/strutil.h"
#include "web/sitefilter.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <cmath>

#define VKT_STR2(x) #x
#define VKT_STR(x) VKT_STR2(x)

void TStatusView::Load(const TStatusBoard& board) {
    Snapshot = board.Current();
    Summary = Snapshot->Summary;
    Summary.Bucket = TStatusBoard::CurrentBucket(); // the snapshot may be older than this bucket
    Sites.clear();
    Sites.reserve(Snapshot->Sites.size());
    if (!Snapshot->Others) {
        for (const auto& site : Snapshot->Sites)
            Sites.push_back(site.get());
        return;
    }
    // A fleet's board: the sites the others probe, unknown to this member, among its own not probed yet.
    m_others = std::make_shared<const std::vector<TSiteEntry>>(Snapshot->Others->Entries());
    const std::vector<TSiteEntry>& others = *m_others;
    Sites.reserve(Snapshot->Sites.size() + others.size());
    bool added = false;
    for (const auto& site : Snapshot->Sites) {
        if (!added && site->Status.State == TSiteStatus::Up) {
            for (const TSiteEntry& other : others)
                Sites.push_back(&other);
            added = true;
        }
        Sites.push_back(site.get());
    }
    if (!added)
        for (const TSiteEntry& other : others)
            Sites.push_back(&other);
}

int TStatusView::Count(TSiteStatus::TState state) const {
    return int(
        std::count_if(Sites.begin(), Sites.end(), [state](const TSiteEntry* s) { return s->Status.State == state; }));
}

int TStatusView::NotifiedCount() const {
    return int(std::count_if(Sites.begin(), Sites.end(), [](const TSiteEntry* s) { return s->Status.Notified; }));
}

// A cursor that is none of the list's shows the first page.
void TStatusView::LoadMaintenance(const MaintenanceBook& book, const std::string& after) {
    Maintenance = book.Current();
    MaintenanceMoment = book.Now();
    Zone = &book.Zone();
    MaintenancePage page = ListMaintenance(*Maintenance, MaintenanceMoment, *Zone, after, MaintenancePageSize);
    if (!page.CursorRead) page = ListMaintenance(*Maintenance, MaintenanceMoment, *Zone, "", MaintenancePageSize);
    MaintenanceListed = std::move(page.Windows);
    MaintenanceTotal = page.Total;
    MaintenanceNext = std::move(page.Next);
    m_held.clear();
    for (const MaintenanceWindow& w : *Maintenance)
        if (HoldsAt(w, MaintenanceMoment, *Zone)) m_held.insert(SiteCodeKey(w.Code));
}

bool TStatusView::InMaintenance(const std::string& code, const std::vector<std::string>& tags) const {
    if (m_held.empty()) return false;
    if (m_held.contains("*") || m_held.contains(SiteCodeKey(code))) return true;
    return std::any_of(tags.begin(), tags.end(),
                       [this](const std::string& tag) { return m_held.contains("tag:" + tag); });
}

std::string TStatusView::MaintenanceKey() const {
    std::string key = Format("%zu:%s;", MaintenanceTotal, MaintenanceNext.c_str());
    for (const TListedWindow& l : MaintenanceListed)
        key += Format("%lld:%lld:%d,", l.Window->Id, l.Next.Start, int(l.Holding));
    for (const std::string& code : m_held)
        key += code + "\n";
    return key;
}

const SiteUptime* TStatusView::Uptime(const TSiteStatus& site) const {
    const UptimeView* history = History();
    return history ? history->Find(site.Code) : nullptr;
}

double UptimeCut(double percent) {
    return std::floor(percent * 100.0 + 1e-9) / 100.0;
}

std::string UptimeText(double percent) {
    return Format("%.2f", UptimeCut(percent));
}

std::string QueryValue(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~')
            out += char(c);
        else
            out += Format("%%%02X", c);
    }
    return out;
}

std::string StatusVersion() {
    return VKT_STR(VKT_VERSION_MAJOR) "." VKT_STR(VKT_VERSION_MINOR) "." VKT_STR(VKT_VERSION_PATCH) "." VKT_STR(
        VKT_VERSION_TWEAK);
}

bool SiteMatches(const TSiteStatus& site, const std::string& filter) {
    if (filter.empty()) return true;
    return SiteFilter::OfText(filter).Keeps(site);
}
