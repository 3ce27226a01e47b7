// The heartbeat thread: beat, read the members, wait one interval; a failed beat is tried again at
// the next interval on a fresh connection.
#include "cluster/fleetheartbeat.h"

#include "db/data.h"

namespace {

long long MonotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

FleetHeartbeat::FleetHeartbeat(Settings settings, long long incarnation)
    : m_settings(std::move(settings)), m_incarnation(incarnation), m_lastBeatMs(MonotonicMs()),
      m_thread([this] { Run(); }) {}

FleetHeartbeat::~FleetHeartbeat() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

bool FleetHeartbeat::CountedIn() const {
    return MonotonicMs() - m_lastBeatMs.load() < LiveSeconds(m_settings.Seconds) * 1000;
}

void FleetHeartbeat::Known(std::vector<FleetRow> live) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_known = std::move(live);
    m_changed = false;
}

std::vector<FleetRow> FleetHeartbeat::Live(const std::vector<FleetRow>& rows, int heartbeatSeconds) {
    std::vector<FleetRow> live;
    for (const FleetRow& r : rows)
        if (r.Age <= LiveSeconds(heartbeatSeconds)) live.push_back(r);
    return live;
}

bool FleetHeartbeat::Same(const std::vector<FleetRow>& a, const std::vector<FleetRow>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].Node != b[i].Node || a[i].Incarnation != b[i].Incarnation) return false;
    return true;
}

void FleetHeartbeat::Run() {
    TDbConnection connection;
    connection.ConnectionString = m_settings.ConnectionString;
    std::unique_lock<std::mutex> hold(m_lock);
    while (!m_wake.wait_for(hold, std::chrono::seconds(m_settings.Seconds), [this] { return m_stop; })) {
        hold.unlock();
        try {
            if (!connection.Connected()) connection.Open();
            BeatOnce(connection);
        } catch (const std::exception&) {
            connection.Close(); // the scan says so when this member is counted out; tried again next beat
        }
        hold.lock();
    }
}

void FleetHeartbeat::BeatOnce(TDbConnection& connection) {
    TDbQuery q(connection);
    FleetRows rows(q, m_settings.Dialect, m_settings.Group);
    const long long live = LiveSeconds(m_settings.Seconds);
    if (!rows.Beat(m_settings.Node, m_incarnation.load(), live)) {
        // Counted out meanwhile: the share it held then is another member's now. It joins anew, and
        // the votes and claims of its old incarnation count no more.
        m_incarnation = rows.Join(m_settings.Node, m_settings.Copies);
        m_changed = true;
    }
    m_lastBeatMs = MonotonicMs();
    const std::vector<FleetRow> now = Live(rows.Members(), m_settings.Seconds);
    std::lock_guard<std::mutex> hold(m_lock);
    if (!Same(now, m_known)) m_changed = true;
}
