// The fleet's rows on the shared database: each member's heartbeat with its incarnation (vktfleet),
// and the site rows a member currently finds silent (vktfail). A member writes a failure row when a
// site turns silent for it and deletes it when the site answers again, so a round writes what changed.
#pragma once

#include "db/dbaccess.h"

#include <string>
#include <vector>

/// One member's heartbeat row. Age: seconds since its last beat, by the database server's clock.
/// Scanned: the membership (FleetRows::Epoch) under which it last probed its whole share.
struct FleetRow {
    std::string Node;
    long long Incarnation = 0;
    int Copies = 0;
    long long Age = 0;
    long long Scanned = 0;
};

/// A site row a member of an incarnation found silent.
struct FailRow {
    std::string Node;
    long long Incarnation = 0;
    std::string Code, Address;
};

class FleetRows {
public:
    /// `group`: the Daemon ID the members share.
    FleetRows(TDbQuery& query, TDbDialect dialect, std::string group);

    /// Makes the two tables when they are missing.
    void EnsureTables();
    /// Every member's row of the group.
    std::vector<FleetRow> Members();
    /// Whether the group holds a member row at all (false when the table is missing): a group that
    /// shares its sites is running.
    bool AnyMemberWithin(long long seconds);

    /// Writes this member's row with a new incarnation and drops the failure rows of its earlier ones;
    /// returns the incarnation.
    long long Join(const std::string& node, int copies);
    /// This member's heartbeat: renews its row while it is still counted in (beaten within `live`
    /// seconds under `incarnation`). False when it was counted out meanwhile, and nothing is renewed.
    bool Beat(const std::string& node, long long incarnation, long long live);
    /// Whether this member is counted in under `incarnation` now.
    bool CountedIn(const std::string& node, long long incarnation, long long live);
    /// Records that this member has probed its whole share under the membership `epoch`.
    void Scanned(const std::string& node, long long incarnation, long long epoch);
    /// A number that names a list of live members (node and incarnation): the same on every member.
    static long long Epoch(const std::vector<FleetRow>& live);
    /// Removes this member's row and failure rows (an orderly leave).
    void Leave(const std::string& node);

    /// The group's failure rows; of one site row only when `code` is given.
    std::vector<FailRow> Failures(const std::string& code = "", const std::string& address = "");
    void Fail(const std::string& node, long long incarnation, const std::string& code, const std::string& address);
    void Answer(const std::string& node, const std::string& code, const std::string& address);
    /// Failure rows of incarnations that hold no member row any more (the daily purge).
    void Purge();

private:
    std::string Group() const;
    std::string Now() const;
    std::string Me(const std::string& node) const;

    TDbQuery& m_q;
    TDbDialect m_dialect;
    std::string m_group;
};
