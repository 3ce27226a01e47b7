// The board the status page, its JSON and the metrics show: what the scan hands over about every
// probed site, kept in memory only and published as snapshots.
#pragma once

#include "history/uptime.h"
#include "platform/clock.h"
#include "web/boardsnapshot.h"

#include <cstdint>
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
    /// The address probed (two for a site probed on both families), and the family that failed.
    std::string Probed{}, FailedFamily{};
    /// -1 the degraded rule is off, 0 the site answers normally, 1 it is degraded.
    int Degraded = -1;
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
    /// A path trace of the site address's outage ended: where the path ends and the trace as JSON.
    virtual void SiteTraced(const std::string& /*code*/, const std::string& /*address*/, const std::string& /*pathEnd*/,
                            const std::string& /*json*/) {}
    /// The site's current outage was acknowledged (`at` 0: the acknowledgement is gone).
    virtual void Acknowledged(const std::string& /*code*/, const std::string& /*by*/, const std::string& /*comment*/,
                              TDateTime /*at*/) {}
    /// Whether outages can be acknowledged now.
    virtual void AcceptsAcknowledgements(bool /*on*/) {}
    /// The sites' history at this moment ([History]); published with the next snapshot.
    virtual void HistoryPublished(std::shared_ptr<const UptimeView> history) { (void)history; }
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
    void SiteTraced(const std::string& code, const std::string& address, const std::string& pathEnd,
                    const std::string& json) override;
    void Acknowledged(const std::string& code, const std::string& by, const std::string& comment,
                      TDateTime at) override;
    void AcceptsAcknowledgements(bool on) override;
    void HistoryPublished(std::shared_ptr<const UptimeView> history) override;

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
    std::shared_ptr<const UptimeView> m_history;
    Clock::MonoTime m_scanStart{};
    Clock::MonoTime m_published{};
    bool m_publishNow = true;
    long long m_scan = 0; ///< the running scan's number
    int m_probes = 0;     ///< probes of the running scan

    /// Guards only the pointer: held for a copy or a swap, never while a snapshot is made or read.
    mutable std::mutex m_currentLock;
    std::shared_ptr<const TBoardSnapshot> m_current;
};
