// The fleet member: joining, the share, the votes of a site's copies.
#include "cluster/fleetmember.h"

#include "cluster/fleetheartbeat.h"
#include "cluster/rendezvous.h"
#include "platform/strutil.h"

#include <algorithm>

FleetMember::FleetMember(TDbQuery& query, TDbDialect dialect, const ClusterSettings& settings, const std::string& group)
    : m_q(query), m_dialect(dialect), m_settings(settings), m_group(group), m_rows(query, dialect, group) {}

FleetMember::~FleetMember() = default;

long long FleetMember::Live() const {
    return FleetHeartbeat::LiveSeconds(m_settings.HeartbeatSeconds);
}

std::string FleetMember::Mixed(const std::string& withoutCopies) {
    if (!withoutCopies.empty())
        return Format("Cluster: refusing to join group %s: member %s probes every site (no Copies), this member "
                      "Copies=%d",
                      m_group.c_str(), withoutCopies.c_str(), m_settings.Copies);
    for (const FleetRow& r : FleetHeartbeat::Live(m_rows.Members(), m_settings.HeartbeatSeconds))
        if (r.Node != m_settings.Node && r.Copies != m_settings.Copies)
            return Format("Cluster: refusing to join group %s: member %s has Copies=%d, this member Copies=%d",
                          m_group.c_str(), r.Node.c_str(), r.Copies, m_settings.Copies);
    return {};
}

void FleetMember::Join() {
    m_incarnation = m_rows.Join(m_settings.Node, m_settings.Copies);
    FleetHeartbeat::Settings beat{
        m_q.Connection().ConnectionString, m_dialect, m_group, m_settings.Node, m_settings.Copies,
        m_settings.HeartbeatSeconds};
    m_heartbeat = std::make_unique<FleetHeartbeat>(beat, m_incarnation);
    m_justJoined = true;
}

FleetMember::Begun FleetMember::BeginScan(const std::string& withoutCopies) {
    std::string idle;
    if (!m_heartbeat) {
        m_rows.EnsureTables();
        idle = Mixed(withoutCopies);
        if (idle.empty()) Join();
    } else if (!m_heartbeat->CountedIn()) {
        idle = Format("Cluster: %s is counted out (no heartbeat for %lld s); it does not act on its sites until it "
                      "is counted in again",
                      m_settings.Node.c_str(), Live());
    }
    if (!idle.empty()) {
        Begun begun{false, idle == m_idle ? std::string() : idle};
        m_idle = idle;
        return begun;
    }
    m_idle.clear();
    if (m_heartbeat->Incarnation() != m_incarnation) {
        m_incarnation = m_heartbeat->Incarnation(); // counted out, and in again as a new member
        m_failing.clear();
    }
    m_live = FleetHeartbeat::Live(m_rows.Members(), m_settings.HeartbeatSeconds);
    m_heartbeat->Known(m_live);
    m_epoch = FleetRows::Epoch(m_live);
    m_liveHrw = Rendezvous(LiveNames());
    m_copiesOf = {};
    m_failures.clear();
    for (FailRow& row : m_rows.Failures())
        m_failures[{SiteCodeKey(row.Code), row.Address}].push_back(std::move(row));
    return {};
}

bool FleetMember::Acting() const {
    return m_heartbeat && m_heartbeat->CountedIn() && m_heartbeat->Incarnation() == m_incarnation;
}

bool FleetMember::MembershipChanged() const {
    return m_heartbeat && m_heartbeat->Changed();
}

FleetShare FleetMember::Share(const std::vector<std::string>& codes, long long listVersion) {
    std::vector<std::string> names = LiveNames();
    if (std::find(names.begin(), names.end(), m_settings.Node) == names.end()) names.push_back(m_settings.Node);
    // The same list among the same members: nothing moved, and a million codes are not hashed again.
    if (listVersion != 0 && listVersion == m_sharedVersion && names == m_sharedAmong &&
        m_sharedUnder == m_incarnation) {
        FleetShare same;
        same.Held = m_held;
        return same;
    }
    std::vector<std::string> before = m_sharedAmong;
    // Counted out and in again: the others took its share meanwhile, so it takes it over anew.
    if (m_sharedUnder != 0 && m_sharedUnder != m_incarnation) std::erase(before, m_settings.Node);
    FleetShare share =
        FleetShare::Divide(codes, before, names, m_settings.Node, m_settings.Copies, &KeysOf(codes, listVersion));
    m_sharedVersion = listVersion;
    m_held = listVersion != 0 ? share.Held : std::vector<std::string>();
    m_sharedAmong = names;
    m_sharedHrw = Rendezvous(names);
    m_sharedUnder = m_incarnation;
    // Failure rows of sites handed back would count against them should they come back to this member.
    const Rendezvous now(names);
    for (auto it = m_failing.begin(); it != m_failing.end();) {
        if (now.Holds(m_settings.Node, it->first, m_settings.Copies)) {
            ++it;
            continue;
        }
        m_rows.Answer(m_settings.Node, it->first, it->second);
        it = m_failing.erase(it);
    }
    return share;
}

std::vector<std::string> FleetMember::Copies(const std::string& code) const {
    // Asked twice in a row for a probed site (its verdict, then its line on the board).
    if (code != m_copiesOf.first) m_copiesOf = {code, m_liveHrw.Copies(code, m_settings.Copies)};
    return m_copiesOf.second;
}

bool FleetMember::Holds(const std::string& code) const {
    return m_sharedHrw.Holds(m_settings.Node, code, m_settings.Copies);
}

std::vector<std::string> FleetMember::LiveNames() const {
    std::vector<std::string> names;
    for (const FleetRow& r : m_live)
        names.push_back(r.Node);
    return names;
}

bool FleetMember::StoresRtt(const std::string& code, const std::string& address) const {
    const std::vector<std::string> copies = Copies(code);
    if (copies.empty() || copies.front() == m_settings.Node) return true;
    const auto at = m_failures.find({SiteCodeKey(code), address});
    return at != m_failures.end() && std::any_of(at->second.begin(), at->second.end(),
                                                 [&](const FailRow& row) { return row.Node == copies.front(); });
}

std::vector<std::pair<std::string, long long>> FleetMember::Shares(const std::vector<std::string>& codes,
                                                                   long long listVersion) const {
    const std::vector<std::string> names = LiveNames();
    if (listVersion != 0 && listVersion == m_countedVersion && names == m_countedAmong) return m_counted;
    m_countedVersion = listVersion;
    m_countedAmong = names;
    m_counted = CountShares(KeysOf(codes, listVersion), names);
    return m_counted;
}

std::vector<std::pair<std::string, long long>> FleetMember::CountShares(const std::vector<std::uint64_t>& keys,
                                                                        const std::vector<std::string>& names) const {
    const Rendezvous hrw(names);
    std::vector<long long> counts(hrw.Size(), 0);
    std::vector<std::uint32_t> places;
    for (const std::uint64_t key : keys) {
        hrw.Pick(key, m_settings.Copies, places);
        for (const std::uint32_t place : places)
            ++counts[place];
    }
    std::map<std::string, long long> held;
    for (std::size_t i = 0; i < hrw.Size(); ++i)
        held[hrw.Name(i)] += counts[i];
    return {held.begin(), held.end()};
}

const std::vector<std::uint64_t>& FleetMember::KeysOf(const std::vector<std::string>& codes,
                                                      long long listVersion) const {
    if (listVersion != 0 && listVersion == m_keysVersion && m_keys.size() == codes.size()) return m_keys;
    m_keys.clear();
    m_keys.reserve(codes.size());
    for (const std::string& code : codes)
        m_keys.push_back(Rendezvous::Key(code));
    m_keysVersion = listVersion;
    return m_keys;
}

bool FleetMember::Counts(const FailRow& row, const std::vector<std::string>& copies) const {
    if (std::find(copies.begin(), copies.end(), row.Node) == copies.end()) return false;
    // Rows of an incarnation that is no longer live are a stale member's: ignored.
    return std::any_of(m_live.begin(), m_live.end(),
                       [&](const FleetRow& m) { return m.Node == row.Node && m.Incarnation == row.Incarnation; });
}

FleetMember::Verdict FleetMember::Vote(const std::string& code, const std::string& address, bool failed) {
    const SiteRow key{SiteCodeKey(code), address};
    if (failed && m_failing.insert(key).second) m_rows.Fail(m_settings.Node, m_incarnation, code, address);
    if (!failed && m_failing.erase(key) > 0) m_rows.Answer(m_settings.Node, code, address);
    const std::vector<std::string> copies = Copies(code);
    int votes = 0;
    if (failed) {
        votes = FailedNow(code, address, copies); // the other copies may have found it silent since the scan began
        if (!MembersUnchanged()) {
            Verdict open;
            open.Failed = votes;
            open.Known = false;
            return open;
        }
    } else if (const auto at = m_failures.find(key); at != m_failures.end()) {
        for (const FailRow& row : at->second)
            votes += row.Node != m_settings.Node && Counts(row, copies) ? 1 : 0;
    }
    return Judge(copies, votes);
}

FleetMember::Verdict FleetMember::Peek(const std::string& code, const std::string& address,
                                       const std::vector<std::string>& copies) const {
    int failed = 0;
    if (const auto at = m_failures.find({SiteCodeKey(code), address}); at != m_failures.end())
        for (const FailRow& row : at->second)
            failed += Counts(row, copies) ? 1 : 0;
    return Judge(copies, failed);
}

bool FleetMember::StillDown(const std::string& code, const std::string& address) {
    const std::vector<std::string> copies = Copies(code);
    return Judge(copies, FailedNow(code, address, copies)).Down && MembersUnchanged();
}

// Read after the failure rows: a copy that dropped its row as the members changed (it handed the site
// back) had read the new members first, so they are seen here. Its missing row read against the members
// the scan began with would count as that copy's answer, and a silent site would be cleared and told of
// again; the verdict waits for the takeover that follows the change instead.
bool FleetMember::MembersUnchanged() {
    return FleetHeartbeat::Same(FleetHeartbeat::Live(m_rows.Members(), m_settings.HeartbeatSeconds), m_live);
}

int FleetMember::FailedNow(const std::string& code, const std::string& address,
                           const std::vector<std::string>& copies) {
    int failed = 0;
    for (const FailRow& row : m_rows.Failures(code, address))
        failed += Counts(row, copies) ? 1 : 0;
    return failed;
}

FleetMember::Verdict FleetMember::Judge(const std::vector<std::string>& copies, int failed) const {
    Verdict verdict;
    verdict.Failed = failed;
    const int quorum = std::max(std::min<int>(m_settings.FleetQuorum(), static_cast<int>(copies.size())), 1);
    verdict.Down = verdict.Failed >= quorum;
    // A copy new to the site has not told yet: its silence is no answer.
    const int untold = static_cast<int>(std::count_if(
        copies.begin(), copies.end(), [&](const std::string& n) { return n != m_settings.Node && !Current(n); }));
    verdict.Known = verdict.Down || verdict.Failed + untold < quorum;
    return verdict;
}

bool FleetMember::Current(const std::string& node) const {
    return std::any_of(m_live.begin(), m_live.end(),
                       [&](const FleetRow& m) { return m.Node == node && m.Scanned == m_epoch; });
}

void FleetMember::EndScan(bool whole) {
    if (!Acting()) return;
    if (whole) m_wholeUnder = m_incarnation;
    if (m_wholeUnder == m_incarnation) m_rows.Scanned(m_settings.Node, m_incarnation, m_epoch);
}

bool FleetMember::MayClaim() {
    return Acting() && m_rows.CountedIn(m_settings.Node, m_incarnation, Live());
}

void FleetMember::Purge() {
    m_rows.Purge();
}

void FleetMember::Leave() {
    if (!m_heartbeat) return; // never joined
    m_heartbeat.reset();
    m_rows.Leave(m_settings.Node);
    m_failing.clear();
}
