// SiteHistory: the rollup, the outages and the uptime bases of the running daemon, and their writes.
#include "monitor/sitehistory.h"

#include "platform/activitylog.h"
#include "db/alarmrows.h"
#include "db/data.h"
#include "history/historystore.h"
#include "platform/datetime.h"
#include "monitor/siteresultsink.h"

#include <algorithm>

namespace {

long long NowSeconds() {
    return DateTimeToTimeT(GetClock().Now());
}

/// The longest a result holds beyond its scan interval: a scan of thousands of sites, some silent,
/// takes minutes; beyond it the database was out of reach, and no probe covers the time.
constexpr long long HoldSlackSeconds = 10 * 60;

ProbeCounts CountsOf(const SiteResult& r) {
    ProbeCounts probe;
    probe.Answered = r.Answered;
    // The one-at-a-time probe sends one echo and leaves the counts at zero.
    probe.Sent = std::max(r.Sent, 1);
    probe.Received = r.Received > 0 ? r.Received : (r.Answered ? 1 : 0);
    probe.RttAvgUs = r.RttAvgUs > 0 ? r.RttAvgUs : r.RttAvg * 1000LL;
    probe.RttMinUs = r.RttMin * 1000LL;
    probe.RttMaxUs = r.RttMax * 1000LL;
    return probe;
}

} // namespace

SiteHistory::SiteHistory() : m_rollup(m_noMaintenance, HoldSlackSeconds) {}

SiteHistory::~SiteHistory() = default;

void SiteHistory::UseMaintenance(const MaintenanceSpans& maintenance) {
    m_rollup.UseMaintenance(maintenance);
}

void SiteHistory::ScanBegun(const std::string& node, int pollDelayMinutes) {
    if (!m_settingsRead) {
        m_settings = HistorySettings::Read(ConfigFileName());
        m_settingsRead = true;
    }
    if (!Active()) return;
    m_rollup.SetMaxHold(3LL * 60 * std::max(pollDelayMinutes, 0) + HoldSlackSeconds);
    if (m_read && node == m_node) return;
    try {
        Start(node);
    } catch (const std::exception& e) {
        LogStepError("Reading the sites' history", e);
    }
}

// Reads what the tables hold; a changed node first writes what belongs to the old one.
bool SiteHistory::Start(const std::string& node) {
    const long long now = NowSeconds();
    if (m_read) Write(now);
    HistoryStore store(DataModule()->adoQ2, node);
    store.EnsureTables();
    m_bases.clear();
    store.ReadHours(m_bases, HourStart(now) - 23 * 3600, HourStart(now));
    store.ReadToday(m_bases, LocalDayStart(now));
    store.ReadDays(m_bases, UptimeMoment::At(now));
    m_outages.Resume(store.OpenOutages());
    m_node = node;
    m_baseDay = LocalDayStart(now);
    m_read = true;
    return true;
}

void SiteHistory::Probed(const SiteResult& result, SiteState state) {
    if (!m_read) return;
    const long long now = NowSeconds();
    m_rollup.Probed(result.Code, now, CountsOf(result), state);
    if (state == SiteState::Down)
        m_outages.Down(result.Code, now, result.Address, DescribeFailure(result));
    else if (state == SiteState::Up)
        m_outages.Up(result.Code, now);
    if (state == SiteState::Down && m_noticedEarly.erase(result.Code)) m_outages.Notified(result.Code);
}

void SiteHistory::ProbedInGroup(const SiteResult& result, SiteState state) {
    if (!m_read) return;
    if (state == SiteState::Down && !m_outages.IsOpen(result.Code)) {
        // Every member reads the same first alarm row: the outage's row is one whichever writes it.
        try {
            const std::optional<TDateTime> start = AlarmRows(*DataModule()).OutageStart(result.Code);
            if (start) m_outages.Down(result.Code, DateTimeToTimeT(*start), result.Address, DescribeFailure(result));
        } catch (const std::exception& e) {
            LogStepError("Reading the outage of " + result.Code, e);
        }
    }
    Probed(result, state);
}

void SiteHistory::Noticed(const std::string& code) {
    if (!m_read) return;
    if (m_outages.IsOpen(code))
        m_outages.Notified(code);
    else
        m_noticedEarly.insert(code);
}

void SiteHistory::ScanEnded() {
    m_noticedEarly.clear();
    if (!m_read) return;
    const long long now = NowSeconds();
    Write(now);
    Publish(now);
}

void SiteHistory::Stop() {
    if (!m_read || !DataModule() || !DataModule()->conMain.Connected()) return;
    const long long now = NowSeconds();
    m_rollup.Stop(now);
    Write(now);
}

// The figures and outage changes since the last write, in one transaction: what fails is written with
// the next ones, and nothing is written twice.
void SiteHistory::Write(long long now) {
    m_rollup.Advance(now);
    std::unordered_map<std::string, Rollup::Pending> figures = m_rollup.Take();
    HistoryStore store(DataModule()->adoQ2, m_node);
    try {
        store.Write(DataModule()->Dialect(), figures, m_outages.Changes());
        m_outages.MarkWritten();
        Apply(figures);
        figures.clear();
        if (LocalDayStart(now) != m_baseDay) NewDay(store, now);
    } catch (const std::exception& e) {
        LogStepError("Writing the sites' history", e);
    }
    m_rollup.Return(figures);
}

void SiteHistory::Apply(const std::unordered_map<std::string, Rollup::Pending>& written) {
    for (const auto& [code, pending] : written) {
        UptimeBase& base = m_bases[code];
        for (const auto& [hour, tally] : pending.Hours)
            base.AddHour(hour, tally.UpSeconds, tally.DownSeconds);
        for (const auto& [day, tally] : pending.Days)
            base.AddDay(day, tally.UpSeconds, tally.DownSeconds);
    }
}

// Yesterday joins the day windows and the bar; old rows go.
void SiteHistory::NewDay(HistoryStore& store, long long now) {
    store.ReadDays(m_bases, UptimeMoment::At(now));
    m_baseDay = LocalDayStart(now);
    store.Purge(now - m_settings.HourKeepSeconds(), now - m_settings.DayKeepSeconds());
}

void SiteHistory::Publish(long long now) {
    if (!m_board) return;
    auto view = std::make_shared<UptimeView>();
    const UptimeMoment moment = UptimeMoment::At(now);
    view->Unwritten = m_rollup.Unwritten();
    for (const auto& [code, base] : m_bases) {
        const auto pending = view->Unwritten.find(code);
        view->Sites.emplace(code,
                            ReckonUptime(base, pending == view->Unwritten.end() ? nullptr : &pending->second, moment));
    }
    static const UptimeBase none;
    for (const auto& [code, pending] : view->Unwritten)
        if (!view->Sites.count(code)) view->Sites.emplace(code, ReckonUptime(none, &pending, moment));
    view->UnwrittenOutages = m_outages.Changes();
    view->Database = DataModule()->ConnectionString();
    view->Node = m_node;
    m_board->HistoryPublished(std::move(view));
}
