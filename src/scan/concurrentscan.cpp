// The concurrent scan: engine thread, in-order hand-over and gathered statements.
#include "scan/concurrentscan.h"

#include "platform/msgloop.h"
#include "scan/probeengine.h"
#include "scan/scansequencer.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

/// Results taken from the sequencer at a time, a batch's worth: those still waiting stay in it, not
/// copied.
constexpr std::size_t TakenAtOnce = TSiteBatch::MostSites;

/// The engine on its own thread; stopped and joined when the scan ends, also early.
class EngineThread {
public:
    EngineThread(const TScanSettings& settings, const std::vector<ScanRow>& rows, ScanSequencer& results) {
        for (const ScanRow& r : rows) {
            m_addresses.push_back(r.Address);
            m_families.push_back(r.Family);
        }
        m_thread = std::thread([this, settings, &results] {
            ProbeEngine(settings).Run(
                m_addresses,
                [&](std::size_t i, SiteResult r) {
                    if (results.Put(i, std::move(r))) MainLoop().Wake();
                },
                &m_stop, m_families);
        });
    }
    ~EngineThread() {
        m_stop = true;
        m_thread.join();
    }
    EngineThread(const EngineThread&) = delete;
    EngineThread& operator=(const EngineThread&) = delete;

private:
    std::vector<std::string> m_addresses;
    std::vector<AddressFamily> m_families;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

bool ConcurrentScan::Run(const std::vector<ScanRow>& rows, const TCodeAddresses& addresses, bool gather,
                         const SiteDone& done) {
    ScanSequencer results(rows.size());
    EngineThread engine(m_settings, rows, results);
    std::size_t next = 0;
    const auto take = [&](std::deque<PendingRun>& queue) {
        std::vector<SiteResult> ready = results.TakeReady(TakenAtOnce);
        for (SiteResult& r : ready)
            r = rows[next++].Attach(std::move(r)); // the engine knows addresses only
        Queue(std::move(ready), queue);
    };
    // Destroyed before the engine: waits for statements still running aside.
    std::deque<PendingRun> queue;
    const auto due = [this] { return m_meanwhile.Due && m_meanwhile.Due(); };
    const auto wait = m_meanwhile.Due ? std::chrono::seconds(1) : std::chrono::seconds(5);
    while (!queue.empty() || !results.Done()) {
        if (due()) m_meanwhile.Run();
        if (queue.empty()) {
            MainLoop().WaitUntil([&] { return results.HasReady() || due(); }, wait);
            take(queue);
            continue;
        }
        PendingRun& run = queue.front();
        if (!m_query.Connection().Connected()) return false;
        Begin(run, addresses, gather);
        if (run.Statements.valid()) run.Statements.get();
        // The next run's statements run aside while this run's sites are handed on; not when they
        // might touch the same rows, whose statements must keep the site-list order.
        if (m_aside && gather) {
            if (queue.size() < 2 && results.HasReady()) take(queue);
            if (queue.size() > 1 && queue[1].Batch.Apart(run.Batch) && m_query.Connection().Connected())
                Begin(queue[1], addresses, gather);
        }
        if (!HandOn(run, done)) return false;
        queue.pop_front();
    }
    return true;
}

void ConcurrentScan::Queue(std::vector<SiteResult> ready, std::deque<PendingRun>& queue) {
    PendingRun* run = nullptr;
    for (SiteResult& r : ready) {
        if (!run || !run->Batch.Admit(r)) { // the site that does not fit starts the next run
            run = &queue.emplace_back();
            run->Batch.Admit(r);
        }
        run->Sites.push_back(std::move(r));
    }
}

void ConcurrentScan::Begin(PendingRun& run, const TCodeAddresses& addresses, bool gather) {
    if (run.Begun) return;
    run.Begun = true;
    if (!gather) return;
    run.Batch.Plan(run.Sites, addresses, m_query.Connection().Uses());
    if (m_aside)
        run.Statements = std::async(std::launch::async, [this, &run] { run.Batch.Run(*m_aside, m_dialect); });
    else
        run.Batch.Run(m_query, m_dialect);
}

bool ConcurrentScan::HandOn(PendingRun& run, const SiteDone& done) {
    TDbConnection& connection = m_query.Connection();
    // Asking whether an embedded file is still there costs a stat(2): asked again only after a site
    // whose handling ran statements.
    for (const SiteResult& r : run.Sites) {
        const std::uint64_t uses = connection.Uses();
        done(r, run.Batch);
        if (connection.Uses() != uses && !connection.Connected()) return false;
    }
    return true;
}
