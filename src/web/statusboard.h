// What the status page, its JSON and the metrics show: every probed site's state, round-trip times
// and losses of the last 24 hours, the last scan and the notification counts, kept in memory only.
#pragma once

#include "platform/clock.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
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
    /// Why the probe failed ("timed out", "name not found", ...); empty when it answered.
    std::string Cause;
    /// The verdict of the probes' group ([Cluster]): -1 alone, 0 answering, 1 down; and how many of
    /// its live members failed the site in their latest scan.
    int GroupDown = -1;
    int GroupFailed = 0;
    /// The round-trip time in microseconds when the probe measured it that finely; 0: RttMs alone.
    long long RttUs = 0;
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

    long long LastRttUs = -1; ///< the last answer's round-trip time in microseconds
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

/// One site on the board as a snapshot holds it; never changed once a snapshot shares it.
struct TSiteEntry {
    TSiteStatus Status;
    TRttHistory History;
};

/// The board at one moment: made by the writers once per change, then only read, by any number of
/// responses at once. Sites unchanged between two snapshots are shared by both.
struct TBoardSnapshot {
    TScanSummary Summary;
    /// The sites the last completed scan probed (or the running one has), silent first, then those
    /// not probed yet, then the answering ones; each group in the order first probed.
    std::vector<std::shared_ptr<const TSiteEntry>> Sites;

    /// A body made from this snapshot under `key`, made by `make` for the first request that asks;
    /// the ones after it share it. A few keys are kept.
    std::shared_ptr<const std::string> Rendered(const std::string& key, const std::function<std::string()>& make) const;

private:
    mutable std::mutex m_renderLock;
    mutable std::map<std::string, std::shared_ptr<const std::string>> m_rendered;
};

/// The in-memory board: written by the scan, read by any number of web threads at once. Readers
/// take the latest published snapshot and never hold up a writer. A change is published at once,
/// except during a scan: its results at most every PublishInterval, and all of them at its end.
class TStatusBoard : public TSiteResultSink {
public:
    static constexpr std::chrono::milliseconds PublishInterval{500};

    TStatusBoard();
    void ScanBegun() override;
    void SiteProbed(const TSiteResult& result) override;
    void NoticeStanding(const std::string& code) override;
    void NoticeSent(const std::string& code, const std::string& kind, bool delivered) override;
    void ScanEnded() override;

    /// The latest snapshot; never empty.
    std::shared_ptr<const TBoardSnapshot> Current() const;
    /// Copies of the latest snapshot's summary and sites, in the order first probed, with the loss
    /// share reckoned now.
    void Snapshot(TScanSummary& summary, std::vector<TSiteStatus>& sites) const;
    /// The running bucket number of the current moment.
    static std::int64_t CurrentBucket();

private:
    /// Publishes the writers' changes when they are due; declared after the writer's lock.
    class TChange {
    public:
        explicit TChange(TStatusBoard& board) : m_board(board) {}
        ~TChange() { m_board.Changed(); }
        TChange(const TChange&) = delete;
        TChange& operator=(const TChange&) = delete;

    private:
        TStatusBoard& m_board;
    };

    std::size_t Site(const std::string& code, const std::string& address);
    /// The site's entry, copied first when a published snapshot shares it.
    TSiteEntry& Edit(std::size_t slot);
    void Changed();
    void Publish();

    /// Held by writers only (readers take m_current): a writer waits for another writer at most.
    mutable std::shared_mutex m_lock;
    std::vector<std::shared_ptr<TSiteEntry>> m_sites;
    std::map<std::pair<std::string, std::string>, std::size_t> m_index; ///< (code, address) -> site
    std::map<std::string, std::vector<std::size_t>> m_byCode;
    TScanSummary m_summary;
    Clock::MonoTime m_scanStart{};
    Clock::MonoTime m_published{};
    bool m_publishNow = true;
    long long m_scan = 0; ///< the running scan's number
    int m_probes = 0;     ///< probes of the running scan

    /// Guards only the pointer: held for a copy or a swap, never while a snapshot is made or read.
    mutable std::mutex m_currentLock;
    std::shared_ptr<const TBoardSnapshot> m_current;
};
