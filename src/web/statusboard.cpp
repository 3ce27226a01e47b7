// TStatusBoard and the compact round-trip history behind the status page.
#include "web/statusboard.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>

namespace {

// Twenty steps per doubling: 4000 ms (the probe's time-out) is code 239, 1 ms is code 20.
constexpr double StepsPerDoubling = 20.0;

int AnsweredOf(std::uint16_t slot) {
    return (slot >> 8) & 0xF;
}
int LostOf(std::uint16_t slot) {
    return slot >> 12;
}

} // namespace

std::uint8_t TRttHistory::EncodeRtt(int ms) {
    if (ms <= 0) return 0;
    return std::uint8_t(std::min(255L, std::lround(StepsPerDoubling * std::log2(1.0 + ms))));
}

int TRttHistory::DecodeRtt(std::uint8_t code) {
    return int(std::lround(std::exp2(code / StepsPerDoubling) - 1.0));
}

void TRttHistory::Add(std::int64_t bucket, bool answered, int rttMs) {
    if (bucket < m_last) return; // never rewrite the past
    // Slots between the newest one written and `bucket` hold probes of a day ago: clear them.
    for (std::int64_t b = std::max(m_last + 1, bucket - Buckets + 1); b <= bucket; ++b)
        m_slots[std::size_t(b % Buckets)] = 0;
    m_last = bucket;
    std::uint16_t& slot = m_slots[std::size_t(bucket % Buckets)];
    int good = AnsweredOf(slot), lost = LostOf(slot), code = slot & 0xFF;
    if (answered) {
        good = std::min(15, good + 1);
        code = std::max<int>(code, EncodeRtt(rttMs));
    } else {
        lost = std::min(15, lost + 1);
    }
    slot = std::uint16_t(lost << 12 | good << 8 | code);
}

TRttHistory::Bucket TRttHistory::At(std::int64_t now, int age) const {
    const std::int64_t bucket = now - age;
    if (age < 0 || age >= Buckets || bucket > m_last || bucket <= m_last - Buckets || bucket < 0) return {};
    const std::uint16_t slot = m_slots[std::size_t(bucket % Buckets)];
    Bucket b{AnsweredOf(slot), LostOf(slot), 0};
    if (b.Answered > 0) b.RttMs = DecodeRtt(std::uint8_t(slot & 0xFF));
    return b;
}

double TRttHistory::LossRatio(std::int64_t now) const {
    // The buckets of the day before `now` that hold probes of that day: none newer than m_last.
    const std::int64_t first = std::max<std::int64_t>({now - Buckets + 1, m_last - Buckets + 1, 0});
    const std::int64_t last = std::min(now, m_last);
    long good = 0, lost = 0;
    for (std::int64_t b = first; b <= last; ++b) {
        const std::uint16_t slot = m_slots[std::size_t(b % Buckets)];
        good += AnsweredOf(slot);
        lost += LostOf(slot);
    }
    return good + lost == 0 ? 0.0 : double(lost) / double(good + lost);
}

std::int64_t TStatusBoard::CurrentBucket() {
    using namespace std::chrono;
    const auto minutes = duration_cast<std::chrono::minutes>(GetClock().Monotonic().time_since_epoch()).count();
    return minutes / TRttHistory::BucketMinutes;
}

void TStatusBoard::ScanBegun() {
    std::unique_lock<std::shared_mutex> hold(m_lock);
    m_summary.Scanning = true;
    m_scanStart = GetClock().Monotonic();
    m_scan = m_summary.Scans + 1;
    m_probes = 0;
}

void TStatusBoard::ScanEnded() {
    std::unique_lock<std::shared_mutex> hold(m_lock);
    m_summary.Scanning = false;
    m_summary.LastScanEnd = GetClock().Now();
    m_summary.LastScanSeconds = double(MillisecondsSince(m_scanStart)) / 1000.0;
    ++m_summary.Scans;
    m_summary.LastScanSites = m_probes;
}

TSiteStatus& TStatusBoard::Site(const std::string& code, const std::string& address) {
    auto [at, added] = m_index.try_emplace({code, address}, m_sites.size());
    if (added) {
        m_sites.emplace_back();
        m_histories.emplace_back();
        m_sites.back().Slot = at->second;
        m_sites.back().Code = code;
        m_sites.back().Address = address;
        m_byCode[code].push_back(at->second);
    }
    return m_sites[at->second];
}

void TStatusBoard::SiteProbed(const TSiteResult& result) {
    const TDateTime now = GetClock().Now();
    const std::int64_t bucket = CurrentBucket();
    std::unique_lock<std::shared_mutex> hold(m_lock);
    TSiteStatus& site = Site(result.Code, result.Address);
    site.Name = result.Name;
    const auto state = result.Answered ? TSiteStatus::Up : TSiteStatus::Down;
    if (site.State != state) site.Since = now;
    site.State = state;
    site.LastProbe = now;
    site.Scan = m_scan;
    site.GroupDown = result.GroupDown;
    site.GroupFailed = result.GroupFailed;
    ++m_probes;
    if (result.Answered) {
        site.LastRttMs = result.RttMs;
        site.Notified = false; // the outage is over; a new one is told anew
    } else {
        site.Cause = result.Cause;
    }
    m_histories[site.Slot].Add(bucket, result.Answered, result.RttMs); // the loss share is reckoned when read
}

void TStatusBoard::NoticeStanding(const std::string& code) {
    std::unique_lock<std::shared_mutex> hold(m_lock);
    auto at = m_byCode.find(code);
    if (at == m_byCode.end()) return;
    for (std::size_t i : at->second)
        m_sites[i].Notified = true;
}

void TStatusBoard::NoticeSent(const std::string&, const std::string& kind, bool delivered) {
    std::unique_lock<std::shared_mutex> hold(m_lock);
    ++m_summary.Notices[{kind, delivered ? "sent" : "failed"}];
}

void TStatusBoard::Snapshot(TScanSummary& summary, std::vector<TSiteStatus>& sites) const {
    const std::int64_t bucket = CurrentBucket();
    std::shared_lock<std::shared_mutex> hold(m_lock);
    summary = m_summary;
    summary.Bucket = bucket;
    sites.clear();
    sites.reserve(m_sites.size());
    for (const TSiteStatus& site : m_sites) {
        if (site.Scan < m_summary.Scans) continue; // no longer in the site list
        sites.push_back(site);
        sites.back().Loss = m_histories[site.Slot].LossRatio(bucket); // older losses have fallen out since
    }
}

std::vector<TRttHistory> TStatusBoard::Histories(const std::vector<std::size_t>& slots) const {
    std::vector<TRttHistory> out;
    out.reserve(slots.size());
    std::shared_lock<std::shared_mutex> hold(m_lock);
    for (std::size_t slot : slots)
        out.push_back(slot < m_histories.size() ? m_histories[slot] : TRttHistory());
    return out;
}
