// The heartbeat thread: a beat every interval and a read of the members every second; a failed beat
// is tried again a second later on a fresh connection.
#include "cluster/fleetheartbeat.h"

#include "db/data.h"

#include <algorithm>

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

// The members are read every second between two beats: a member counted out is seen within a second
// of its window's end, not only at this member's next beat.
void FleetHeartbeat::Run() {
    TDbConnection connection;
    connection.ConnectionString = m_settings.ConnectionString;
    const auto interval = std::chrono::seconds(m_settings.Seconds);
    auto nextBeat = std::chrono::steady_clock::now() + interval;
    std::unique_lock<std::mutex> hold(m_lock);
    while (!m_wake.wait_for(hold, std::min<std::chrono::steady_clock::duration>(std::chrono::seconds(1), interval),
                            [this] { return m_stop; })) {
        hold.unlock();
        const bool beat = std::chrono::steady_clock::now() >= nextBeat;
        try {
            if (!connection.Connected()) connection.Open();
            BeatOnce(connection, beat);
        } catch (const std::exception&) {
            connection.Close(); // the scan says so when this member is counted out; tried again next beat
        }
        if (beat) nextBeat = std::chrono::steady_clock::now() + interval;
        hold.lock();
    }
}

void FleetHeartbeat::BeatOnce(TDbConnection& connection, bool beat) {
    TDbQuery q(connection);
    FleetRows rows(q, m_settings.Dialect, m_settings.Group);
    const long long live = LiveSeconds(m_settings.Seconds);
    if (beat && !rows.Beat(m_settings.Node, m_incarnation.load(), live)) {
        // Counted out meanwhile: the share it held then is another member's now. It joins anew, and
        // the votes and claims of its old incarnation count no more.
        m_incarnation = rows.Join(m_settings.Node, m_settings.Copies);
        m_changed = true;
    }
    if (beat) m_lastBeatMs = MonotonicMs();
    const std::vector<FleetRow> now = Live(rows.Members(), m_settings.Seconds);
    std::lock_guard<std::mutex> hold(m_lock);
    if (!Same(now, m_known)) m_changed = true;
}
