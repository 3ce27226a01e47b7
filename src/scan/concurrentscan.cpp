// The concurrent scan: engine thread, in-order hand-over and gathered statements.
#include "scan/concurrentscan.h"

#include "platform/msgloop.h"
#include "scan/probeengine.h"
#include "scan/scansequencer.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

/// Results taken from the sequencer at a time: those still waiting stay in it, not copied.
constexpr std::size_t TakenAtOnce = 1024;

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
    while (!results.Done()) {
        MainLoop().WaitUntil([&] { return results.HasReady(); }, std::chrono::seconds(5));
        std::vector<SiteResult> ready = results.TakeReady(TakenAtOnce);
        for (SiteResult& r : ready)
            r = rows[next++].Attach(std::move(r)); // the engine knows addresses only
        if (!HandOn(ready, addresses, gather, done)) return false;
    }
    return true;
}

bool ConcurrentScan::HandOn(const std::vector<SiteResult>& ready, const TCodeAddresses& addresses, bool gather,
                            const SiteDone& done) {
    const std::span<const SiteResult> all(ready);
    std::size_t from = 0;
    TSiteBatch keys;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (keys.Admit(all[i])) continue;
        if (!HandOnRun(all.subspan(from, i - from), addresses, gather, done)) return false;
        from = i;
        keys = TSiteBatch();
        keys.Admit(all[i]);
    }
    return HandOnRun(all.subspan(from), addresses, gather, done);
}

bool ConcurrentScan::HandOnRun(std::span<const SiteResult> run, const TCodeAddresses& addresses, bool gather,
                               const SiteDone& done) {
    TDbConnection& connection = m_query.Connection();
    if (run.empty()) return true;
    if (!connection.Connected()) return false;
    TSiteBatch batch;
    if (gather) batch.Run(m_query, m_dialect, run, addresses);
    // Asking whether an embedded file is still there costs a stat(2): asked again only after a site
    // whose handling ran statements.
    for (const SiteResult& r : run) {
        const std::uint64_t uses = connection.Uses();
        done(r, batch);
        if (connection.Uses() != uses && !connection.Connected()) return false;
    }
    return true;
}
