// TStatusBoard: the scan's results kept per site address and published as snapshots.
#include "web/statusboard.h"

#include "platform/codepage.h"
#include "platform/strutil.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <mutex>

std::int64_t TStatusBoard::CurrentBucket() {
    using namespace std::chrono;
    const auto minutes = duration_cast<std::chrono::minutes>(GetClock().Monotonic().time_since_epoch()).count();
    return minutes / TRttHistory::BucketMinutes;
}

TStatusBoard::TStatusBoard() : m_current(std::make_shared<TBoardSnapshot>()) {}

std::shared_ptr<const TBoardSnapshot> TStatusBoard::Current() const {
    std::lock_guard<std::mutex> hold(m_currentLock);
    return m_current;
}

void TStatusBoard::ScanBegun() {
    std::unique_lock<std::shared_mutex> hold(m_lock);
    const TChange change(*this);
    m_summary.Scanning = true;
    m_scanStart = GetClock().Monotonic();
    m_scan = m_summary.Scans + 1;
    m_probes = 0;
    m_publishNow = true; // shows "scanning now" at once
}

void TStatusBoard::ScanEnded() {
    std::unique_lock<std::shared_mutex> hold(m_lock);
    const TChange change(*this);
    m_summary.Scanning = false;
    m_summary.LastScanEnd = GetClock().Now();
    m_summary.LastScanSeconds = double(MillisecondsSince(m_scanStart)) / 1000.0;
    ++m_summary.Scans;
    m_summary.LastScanSites = m_probes;
}

std::size_t TStatusBoard::Site(const std::string& code, const std::string& address) {
    auto [at, added] = m_index.try_emplace({code, address}, m_sites.size());
    if (added) {
        m_sites.push_back(std::make_shared<TSiteEntry>());
        TSiteStatus& site = m_sites.back()->Status;
        site.Slot = at->second;
        // The pages and the metrics are UTF-8; another tool may have written the row in the
        // Windows code page. The scan's own names stay the keys.
        site.Code = AsUtf8(code);
        site.Address = AsUtf8(address);
        site.Tags = TagsOf(code);
        m_byCode[code].push_back(at->second);
    }
    return at->second;
}

// Only writers copy these pointers, under m_lock: an entry no snapshot holds is the writers' alone.
TSiteEntry& TStatusBoard::Edit(std::size_t slot) {
    std::shared_ptr<TSiteEntry>& entry = m_sites[slot];
    if (entry.use_count() > 1) entry = std::make_shared<TSiteEntry>(*entry);
    return *entry;
}

void TStatusBoard::SiteProbed(const SiteResult& result, const SiteVerdict& verdict) {
    const TDateTime now = GetClock().Now();
    const std::int64_t bucket = CurrentBucket();
    std::unique_lock<std::shared_mutex> hold(m_lock);
    const TChange change(*this);
    TSiteEntry& entry = Edit(Site(result.Code, result.Address));
    TSiteStatus& site = entry.Status;
    site.Name = AsUtf8(result.Name);
    const auto state = result.Answered ? TSiteStatus::Up : TSiteStatus::Down;
    if (site.State != state) site.Since = now;
    site.State = state;
    site.LastProbe = now;
    site.Scan = m_scan;
    site.GroupDown = verdict.GroupDown;
    site.GroupFailed = verdict.GroupFailed;
    site.Probed = result.Probed;
    site.FailedFamily = result.FailedFamily;
    site.Degraded = verdict.Degraded;
    site.ProbedBy = verdict.ProbedBy;
    ++m_probes;
    ++site.Probes;
    if (!result.Answered) ++site.ProbeFailures;
    if (result.Answered) {
        site.LastRttMs = result.RttAvg;
        site.LastRttUs = result.RttAvgUs > 0 ? result.RttAvgUs : result.RttAvg * 1000LL;
        site.Notified = false; // the outage is over; a new one is told anew
        site.PathEnd.clear();
        site.TraceJson.clear();
        if (verdict.GroupDown != 1) site.AckAt = 0; // and its acknowledgement ends with it
    } else {
        site.Cause = AsUtf8(DescribeFailure(result));
    }
    entry.History.Add(bucket, result.Answered, result.RttAvg); // the loss share is reckoned when read
}

const std::vector<std::string>& TStatusBoard::TagsOf(const std::string& code) const {
    return TagsIn(m_tags.get(), code);
}

// Only the entries whose tags changed are copied.
void TStatusBoard::SiteTagsRead(std::shared_ptr<const SiteTagMap> tags) {
    std::unique_lock<std::shared_mutex> hold(m_lock);
    const TChange change(*this);
    m_tags = std::move(tags);
    for (const auto& [code, slots] : m_byCode) {
        const std::vector<std::string>& now = TagsOf(code);
        for (std::size_t slot : slots)
            if (m_sites[slot]->Status.Tags != now) Edit(slot).Status.Tags = now;
    }
}

void TStatusBoard::NoticeStanding(const std::string& code) {
    std::unique_lock<std::shared_mutex> hold(m_lock);
    const TChange change(*this);
    auto at = m_byCode.find(code);
    if (at == m_byCode.end()) return;
    for (std::size_t i : at->second)
        Edit(i).Status.Notified = true;
}

void TStatusBoard::SiteTraced(const std::string& code, const std::string& address, const std::string& pathEnd,
                              const std::string& json) {
    std::unique_lock<std::shared_mutex> hold(m_lock);
    const TChange change(*this);
    const auto at = m_index.find({code, address});
    if (at == m_index.end()) return;
    TSiteStatus& site = Edit(at->second).Status;
    site.PathEnd = pathEnd;
    site.TraceJson = json;
}

void TStatusBoard::Acknowledged(const std::string& code, const std::string& by, const std::string& comment,
                                TDateTime at) {
    std::unique_lock<std::shared_mutex> hold(m_lock);
    const TChange change(*this);
    auto found = m_byCode.find(code);
    if (found == m_byCode.end()) return;
    for (std::size_t i : found->second) {
        TSiteStatus& site = Edit(i).Status;
        site.AckBy = AsUtf8(by);
        site.AckComment = AsUtf8(comment);
        site.AckAt = at;
    }
}

void TStatusBoard::AcceptsAcknowledgements(bool on) {
    std::unique_lock<std::shared_mutex> hold(m_lock);
    if (m_summary.Acknowledging == on) return;
    const TChange change(*this);
    m_summary.Acknowledging = on;
}

// Its results are published in batches as a scan's are, not one snapshot each.
void TStatusBoard::PartialScan(bool running) {
    std::unique_lock<std::shared_mutex> hold(m_lock);
    const TChange change(*this);
    m_summary.Scanning = running;
    m_publishNow = true;
}

void TStatusBoard::FleetShown(const FleetShares& members) {
    std::unique_lock<std::shared_mutex> hold(m_lock);
    if (m_summary.Fleet == members) return;
    const TChange change(*this);
    m_summary.Fleet = members;
}

// Those the group finds down come first.
void TStatusBoard::GroupSitesShown(GroupSites sites) {
    auto others = std::make_shared<TOthersBoard>();
    others->Rows = std::move(sites.Rows);
    others->Members = std::move(sites.Members);
    others->Sites.reserve(sites.Sites.size());
    // Built before the board is locked: pages go on meanwhile.
    for (int verdict : {1, SiteVerdict::GroupUnknown, 0})
        for (const GroupSites::Site& s : sites.Sites)
            if (s.GroupDown == verdict) others->Sites.push_back(s);
    std::unique_lock<std::shared_mutex> hold(m_lock);
    const TChange change(*this);
    others->Tags = m_tags;
    m_others = std::move(others);
}

void TStatusBoard::HistoryPublished(std::shared_ptr<const UptimeView> history) {
    std::unique_lock<std::shared_mutex> hold(m_lock);
    const TChange change(*this);
    m_history = std::move(history);
}

void TStatusBoard::NoticeSent(const std::string&, const std::string& kind, bool delivered) {
    std::unique_lock<std::shared_mutex> hold(m_lock);
    const TChange change(*this);
    ++m_summary.Notices[{kind, delivered ? "sent" : "failed"}];
}

void TStatusBoard::ChannelNoticeSent(const std::string& kind, const std::string& channel, bool delivered) {
    std::unique_lock<std::shared_mutex> hold(m_lock);
    const TChange change(*this);
    ++m_summary.ChannelNotices[{kind, channel, delivered ? "sent" : "failed"}];
}

// A scan hands over thousands of results: while it runs they are published in batches, so that a
// snapshot is not made for each one; after its end every change is published at once.
void TStatusBoard::Changed() {
    if (m_summary.Scanning && !m_publishNow &&
        GetClock().Monotonic() - m_published <
            PublishInterval + PublishPer1000 * static_cast<long long>(m_sites.size() / 1000))
        return;
    Publish();
}

// Ordering here, once per snapshot, spares every response its own sort.
void TStatusBoard::Publish() {
    auto next = std::make_shared<TBoardSnapshot>();
    next->Summary = m_summary;
    next->Summary.Bucket = CurrentBucket();
    next->History = m_history;
    next->Others = m_others;
    // One pass over the entries (down first, then unknown, then up): each entry is read once.
    std::vector<std::shared_ptr<TSiteEntry>> unknown, up;
    next->Sites.reserve(m_sites.size());
    up.reserve(m_sites.size());
    for (const std::shared_ptr<TSiteEntry>& entry : m_sites) {
        if (entry->Status.Scan < m_summary.Scans) continue;
        switch (entry->Status.State) {
        case TSiteStatus::Down:
            next->Sites.push_back(entry);
            break;
        case TSiteStatus::Unknown:
            unknown.push_back(entry);
            break;
        case TSiteStatus::Up:
            up.push_back(entry);
            break;
        }
    }
    std::move(unknown.begin(), unknown.end(), std::back_inserter(next->Sites));
    std::move(up.begin(), up.end(), std::back_inserter(next->Sites));
    m_published = GetClock().Monotonic();
    m_publishNow = false;
    std::shared_ptr<const TBoardSnapshot> previous = std::move(next);
    {
        std::lock_guard<std::mutex> hold(m_currentLock);
        m_current.swap(previous);
    }
    // The previous snapshot is let go here, outside the readers' lock.
}

void TStatusBoard::Snapshot(TScanSummary& summary, std::vector<TSiteStatus>& sites) const {
    const std::shared_ptr<const TBoardSnapshot> current = Current();
    const std::int64_t bucket = CurrentBucket();
    summary = current->Summary;
    summary.Bucket = bucket;
    std::vector<const TSiteEntry*> entries;
    for (const auto& entry : current->Sites)
        entries.push_back(entry.get());
    std::sort(entries.begin(), entries.end(),
              [](const TSiteEntry* a, const TSiteEntry* b) { return a->Status.Slot < b->Status.Slot; });
    sites.clear();
    for (const TSiteEntry* entry : entries) {
        sites.push_back(entry->Status);
        sites.back().Loss = entry->History.LossRatio(bucket);
    }
}
