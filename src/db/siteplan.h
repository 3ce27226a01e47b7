// What bringing a daemon's sites to a wanted list takes: per code a create, an update (with the
// fields that differ) or a delete, in an order the site store applies as one change set.
#pragma once

#include "db/sitestore.h"

#include <string>
#include <vector>

struct PlannedChange {
    SiteChange Change;
    /// For an update: the fields that differ ("daemon" when the site is taken up from another daemon).
    std::vector<std::string> Fields;
};

struct SitePlan {
    std::vector<PlannedChange> Steps;
    /// Listed sites that are as wanted already.
    std::size_t Unchanged = 0;
    /// The sites the daemon probes now.
    std::size_t Current = 0;
    /// Codes the daemon probes that the list leaves out and that stay without pruning.
    std::vector<std::string> Kept;

    std::vector<SiteChange> Changes() const;
};

/// Compares the wanted sites (each with Daemon set to `daemon`, values valid) with the daemon's sites
/// in the store; codes match without regard to letter case, as the database matches them. With
/// `prune`, the daemon's sites the list leaves out are deleted for this daemon. Reads the store a
/// bounded number of times, however long the list.
SitePlan PlanSites(SiteStore& store, const std::string& daemon, const std::vector<SiteFields>& wanted, bool prune);
