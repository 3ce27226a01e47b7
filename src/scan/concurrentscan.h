// The concurrent scan: the probe engine runs on a thread of its own with all echo requests in flight,
// and each site's result is handed on in site-list order as soon as every earlier site is done, with
// the gathered statements of its run already done where the rows allow it.
#pragma once

#include "db/dbaccess.h"
#include "scan/scansettings.h"
#include "scan/siterowreader.h"
#include "scan/tcodeaddresses.h"
#include "scan/tsitebatch.h"

#include <functional>
#include <span>
#include <vector>

class ConcurrentScan {
public:
    /// Takes one site's result with its row attached, and the batch of the site's run: the codes it
    /// cleared need no statements of their own. Called on this thread, in site-list order.
    using SiteDone = std::function<void(const SiteResult& result, const TSiteBatch& batch)>;

    /// `statements` runs the gathered statements on its connection, in the text of `dialect`.
    ConcurrentScan(const TScanSettings& settings, TDbQuery& statements, TDbDialect dialect)
        : m_settings(settings), m_query(statements), m_dialect(dialect) {}

    /// Probes every row at once and hands each result to `done`. With `gather` the round-trip times and
    /// cleared alarms of the sites that answered, and the alarm rows of those that failed with what their
    /// rows say for their notice decisions, are written and read in few statements per run (`addresses`
    /// tells which codes have several rows, left to their own statements). Ends early, false, once the
    /// connection is gone.
    bool Run(const std::vector<ScanRow>& rows, const TCodeAddresses& addresses, bool gather, const SiteDone& done);

private:
    /// Splits the ready results into runs whose codes the database tells apart, and hands each run on.
    bool HandOn(const std::vector<SiteResult>& ready, const TCodeAddresses& addresses, bool gather,
                const SiteDone& done);
    bool HandOnRun(std::span<const SiteResult> run, const TCodeAddresses& addresses, bool gather, const SiteDone& done);

    TScanSettings m_settings;
    TDbQuery& m_query;
    TDbDialect m_dialect;
};
