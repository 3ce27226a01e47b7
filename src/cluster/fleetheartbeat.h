// A fleet member's heartbeat, from a thread of its own on a connection of its own, so that a long
// scan never makes the others count this member out. Each beat renews its row (or, once it was
// counted out, joins again under a new incarnation); who is live is read every second; a change of the
// live members is flagged for the scan, which then takes over (or hands back) sites at once.
#pragma once

#include "cluster/fleetrows.h"
#include "db/dbaccess.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FleetHeartbeat {
public:
    struct Settings {
        std::string ConnectionString;
        TDbDialect Dialect = TDbDialect::SQLite;
        std::string Group, Node;
        int Copies = 0;
        int Seconds = 5;
    };

    /// Beats from now on for a member that has joined under `incarnation` at this moment.
    FleetHeartbeat(Settings settings, long long incarnation);
    /// Stops beating (at once, also in the middle of a wait).
    ~FleetHeartbeat();
    FleetHeartbeat(const FleetHeartbeat&) = delete;
    FleetHeartbeat& operator=(const FleetHeartbeat&) = delete;

    /// Seconds after which a member that has not beaten is counted out: three beats.
    static long long LiveSeconds(int heartbeatSeconds) { return 3LL * heartbeatSeconds; }

    long long Incarnation() const { return m_incarnation.load(); }
    /// Whether this member has beaten within its window: false once its beats failed for that long
    /// (paused, or cut from the database), until a beat gets through again.
    bool CountedIn() const;
    /// Whether a beat found other live members (or another incarnation of this one) than `Known`.
    bool Changed() const { return m_changed.load(); }
    /// The live members (node and incarnation) the scan now works with.
    void Known(std::vector<FleetRow> live);

    /// The live members of `rows` (beaten within three beats), in node order.
    static std::vector<FleetRow> Live(const std::vector<FleetRow>& rows, int heartbeatSeconds);
    /// Whether two lists of live members are the same members under the same incarnations.
    static bool Same(const std::vector<FleetRow>& a, const std::vector<FleetRow>& b);

private:
    void Run();
    /// One beat (with `beat`) and one read of the members; raises statement errors.
    void BeatOnce(TDbConnection& connection, bool beat);

    const Settings m_settings;
    std::atomic<long long> m_incarnation;
    std::atomic<long long> m_lastBeatMs; ///< monotonic, of the last beat that got through
    std::atomic<bool> m_changed{false};
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::vector<FleetRow> m_known;
    std::thread m_thread;
};
