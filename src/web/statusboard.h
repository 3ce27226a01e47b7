// What the status page, its JSON and the metrics show: every probed site's state, round-trip times
// and losses of the last 24 hours, the last scan and the notification counts, kept in memory only.
#pragma once

#include "platform/clock.h"

#include <array>
#include <cstdint>
#include <map>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

/// The outcome of one probe of one site address, as the scan hands it over.
struct TSiteResult {
    std::string Code;
    std::string Name;
    std::string Address;
    bool Answered = false;
    int RttMs = 0;
    /// Why the probe failed ("timed out", "address not resolvable", ...); empty when it answered.
    std::string Cause;
    /// The verdict of the probes' group ([Cluster]): -1 alone, 0 answering, 1 down; and how many of
    /// its live members failed the site in their latest scan.
    int GroupDown = -1;
    int GroupFailed = 0;
};

/// Where a scan reports its results. The scan calls these on its own thread, in order.
class TSiteResultSink {
public:
    virtual ~TSiteResultSink() = default;
    virtual void ScanBegun() = 0;
    virtual void SiteProbed(const TSiteResult& result) = 0;
    /// The site's outage has been told: its marker row was found or stored.
    virtual void NoticeStanding(const std::string& code) = 0;
    /// One channel (`kind` "mail", "popup" or "webhook") tried a notice for the site: `delivered` when
    /// it was taken, false when it failed. Only counted; whether the site counts as notified follows
    /// NoticeStanding.
    virtual void NoticeSent(const std::string& code, const std::string& kind, bool delivered) = 0;
    virtual void ScanEnded() = 0;
};

/// 24 hours of one site in 5-minute buckets, two bytes each: the highest round-trip time of the
/// bucket on a logarithmic scale (low byte) and its answered and lost probe counts (a nibble each,
/// stopping at 15). 10,000 sites take under 6 MB.
class TRttHistory {
public:
    static constexpr int Buckets = 288;
    static constexpr int BucketMinutes = 5;

    /// Adds a probe to bucket `bucket` (a running bucket number); older buckets fall out.
    void Add(std::int64_t bucket, bool answered, int rttMs);
    struct Bucket {
        int Answered = 0;
        int Lost = 0;
        int RttMs = 0; ///< approximate (within 4 %); 0 without an answer
    };
    /// The bucket `age` places before `now` (0 = the current one).
    Bucket At(std::int64_t now, int age) const;
    /// Lost probes over all probes of the 24 hours before `now`; 0 without probes.
    double LossRatio(std::int64_t now) const;

    static std::uint8_t EncodeRtt(int ms);
    static int DecodeRtt(std::uint8_t code);

private:
    std::array<std::uint16_t, Buckets> m_slots{};
    std::int64_t m_last = -1; ///< bucket number of the newest slot written
};

/// One site address as shown.
struct TSiteStatus {
    std::string Code, Name, Address;
    enum TState { Unknown, Up, Down };
    TState State = Unknown;
    TDateTime Since = 0; ///< when the current state began (as far as this run saw)
    TDateTime LastProbe = 0;
    int LastRttMs = -1;    ///< the last answer's round-trip time; -1 before any answer
    double Loss = 0;       ///< lost share of the last 24 hours' probes
    std::string Cause;     ///< why the last failed probe failed
    bool Notified = false; ///< a notice of the current outage went out
    long long Scan = 0;    ///< the scan that probed it last (1 = the first of this run)
    std::size_t Slot = 0;  ///< its place on the board, to ask for its history
    int GroupDown = -1;    ///< the group's verdict: -1 this probe works alone, 0 answering, 1 down
    int GroupFailed = 0;   ///< members that failed it in their latest scan
};

struct TScanSummary {
    TDateTime LastScanEnd = 0; ///< 0 before the first scan has ended
    double LastScanSeconds = 0;
    bool Scanning = false;
    long long Scans = 0;     ///< scans completed
    int LastScanSites = 0;   ///< site addresses the last completed scan probed
    std::int64_t Bucket = 0; ///< the running bucket number of the snapshot's moment
    /// Notices by (kind, result), result "sent" or "failed".
    std::map<std::pair<std::string, std::string>, long long> Notices;
};

/// The in-memory board: written by the scan, read by any number of web threads at once.
class TStatusBoard : public TSiteResultSink {
public:
    void ScanBegun() override;
    void SiteProbed(const TSiteResult& result) override;
    void NoticeStanding(const std::string& code) override;
    void NoticeSent(const std::string& code, const std::string& kind, bool delivered) override;
    void ScanEnded() override;

    /// A consistent copy of the summary and every site, in the order first probed. Sites the last
    /// completed scan did not probe (gone from the site list) are left out.
    void Snapshot(TScanSummary& summary, std::vector<TSiteStatus>& sites) const;
    /// Copies of the histories of the sites in `slots` (TSiteStatus::Slot), in that order.
    std::vector<TRttHistory> Histories(const std::vector<std::size_t>& slots) const;
    /// The running bucket number of the current moment.
    static std::int64_t CurrentBucket();

private:
    TSiteStatus& Site(const std::string& code, const std::string& address);

    mutable std::shared_mutex m_lock;
    std::vector<TSiteStatus> m_sites;
    /// Beside the sites rather than in them: a snapshot copies only the histories it shows.
    std::vector<TRttHistory> m_histories;
    std::map<std::pair<std::string, std::string>, std::size_t> m_index; ///< (code, address) -> site
    std::map<std::string, std::vector<std::size_t>> m_byCode;
    TScanSummary m_summary;
    Clock::MonoTime m_scanStart{};
    long long m_scan = 0; ///< the running scan's number
    int m_probes = 0;     ///< probes of the running scan
};
