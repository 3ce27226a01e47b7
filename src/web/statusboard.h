// The board the status page, its JSON and the metrics show: what the scan hands over about every
// probed site, kept in memory only and published as snapshots.
#pragma once

#include "history/uptime.h"
#include "monitor/siteresultsink.h"
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

/// The in-memory board: written by the scan, read by any number of web threads at once. Readers
/// take the latest published snapshot and never hold up a writer. A change is published at once,
/// except during a scan: its results at most every PublishInterval (longer by PublishPer1000 for
/// each 1,000 sites, as a snapshot of many sites costs more), and all of them at its end.
class TStatusBoard : public TSiteResultSink {
public:
    static constexpr std::chrono::milliseconds PublishInterval{500};
    static constexpr std::chrono::milliseconds PublishPer1000{5};

    TStatusBoard();
    void ScanBegun() override;
    void SiteProbed(const SiteResult& result, const SiteVerdict& verdict) override;
    void NoticeStanding(const std::string& code) override;
    void NoticeSent(const std::string& code, const std::string& kind, bool delivered) override;
    void ChannelNoticeSent(const std::string& kind, const std::string& channel, bool delivered) override;
    void ScanEnded() override;
    void SiteTraced(const std::string& code, const std::string& address, const std::string& pathEnd,
                    const std::string& json) override;
    void Acknowledged(const std::string& code, const std::string& by, const std::string& comment,
                      TDateTime at) override;
    void AcceptsAcknowledgements(bool on) override;
    void HistoryPublished(std::shared_ptr<const UptimeView> history) override;
    void FleetShown(const FleetShares& members) override;
    void GroupSitesShown(GroupSites sites) override;
    void SiteTagsRead(std::shared_ptr<const SiteTagMap> tags) override;
    void PartialScan(bool running) override;

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
    /// The code's tags as last read; empty when it has none.
    const std::vector<std::string>& TagsOf(const std::string& code) const;
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
    std::shared_ptr<const SiteTagMap> m_tags;
    std::shared_ptr<const TOthersBoard> m_others;
    Clock::MonoTime m_scanStart{};
    Clock::MonoTime m_published{};
    bool m_publishNow = true;
    long long m_scan = 0; ///< the running scan's number
    int m_probes = 0;     ///< probes of the running scan

    /// Guards only the pointer: held for a copy or a swap, never while a snapshot is made or read.
    mutable std::mutex m_currentLock;
    std::shared_ptr<const TBoardSnapshot> m_current;
};
