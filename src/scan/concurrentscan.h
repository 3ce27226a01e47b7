// The concurrent scan: the probe engine runs on a thread of its own with all echo requests in flight,
// and each site's result is handed on in site-list order as soon as every earlier site is done, with
// the gathered statements of its run already done where the rows allow it. On a database server the
// next run's statements go to a second connection while this run's sites are handed on.
#pragma once

#include "db/dbaccess.h"
#include "scan/scansettings.h"
#include "scan/siterowreader.h"
#include "scan/tcodeaddresses.h"
#include "scan/tsitebatch.h"

#include <deque>
#include <functional>
#include <future>
#include <vector>

class ConcurrentScan {
public:
    /// Takes one site's result with its row attached, and the batch of the site's run: the codes it
    /// cleared need no statements of their own. Called on this thread, in site-list order.
    using SiteDone = std::function<void(const SiteResult& result, const TSiteBatch& batch)>;

    /// `statements` runs the gathered statements on its connection (the daemon's), in the text of
    /// `dialect`. With `aside` (on a connection of its own) a run's gathered statements run there on a
    /// thread of their own, the next run's while this run's sites are handed on, whenever the two runs
    /// touch rows of different codes.
    ConcurrentScan(const TScanSettings& settings, TDbQuery& statements, TDbDialect dialect, TDbQuery* aside = nullptr)
        : m_settings(settings), m_query(statements), m_dialect(dialect), m_aside(aside) {}

    /// Probes every row at once and hands each result to `done`. With `gather` the round-trip times and
    /// cleared alarms of the sites that answered, and the alarm rows of those that failed with what their
    /// rows say for their notice decisions, are written and read in few statements per run (`addresses`
    /// tells which codes have several rows, left to their own statements). Ends early, false, once the
    /// connection is gone.
    bool Run(const std::vector<ScanRow>& rows, const TCodeAddresses& addresses, bool gather, const SiteDone& done);

    /// Work that cannot wait for the scan's end (a fleet member taking over the sites of one that
    /// left): `Due` is asked at least once a second while the scan runs, and `Run` runs between two
    /// runs of results whenever it says so. The engine goes on probing meanwhile.
    struct Meanwhile {
        std::function<bool()> Due;
        std::function<void()> Run;
    };
    void During(Meanwhile meanwhile) { m_meanwhile = std::move(meanwhile); }

private:
    /// A run of results whose codes the database tells apart, with its gathered statements.
    struct PendingRun {
        std::vector<SiteResult> Sites;
        TSiteBatch Batch;
        bool Begun = false;
        /// The statements running on the aside connection; destroyed first, it waits for them.
        std::future<void> Statements;
    };

    /// Splits the ready results into runs and queues them.
    static void Queue(std::vector<SiteResult> ready, std::deque<PendingRun>& queue);
    /// Starts the run's gathered statements: on the aside connection's thread, or here and done on return.
    void Begin(PendingRun& run, const TCodeAddresses& addresses, bool gather);
    /// Hands on the run's sites once its statements are done; false once the connection is gone.
    bool HandOn(PendingRun& run, const SiteDone& done);

    TScanSettings m_settings;
    TDbQuery& m_query;
    TDbDialect m_dialect;
    TDbQuery* m_aside;
    Meanwhile m_meanwhile;
};
