// The outbox's senders: due rows in turn, a lease per attempt, back-off, give-up logged once.
#include "monitor/noticeoutbox.h"

#include "alert/apprisechannel.h"
#include "alert/webhookchannel.h"
#include "db/common.h"
#include "db/data.h"
#include "db/outboxrows.h"
#include "db/sitetags.h"
#include "platform/activitylog.h"
#include "platform/profile.h"
#include "platform/strutil.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <unistd.h>

namespace {

/// apprise's own deliveries get this long before the command is killed.
constexpr int AppriseSeconds = 30;
/// Delivered and given-up rows are kept this long (for a look at what went out).
constexpr long long KeepSeconds = 7 * 86400;

long long RetryAfter(int tries) {
    return std::min<long long>(300, 5LL << std::min(tries, 6));
}

std::string Subject(const Notice& notice) {
    return notice.Code.empty() ? std::string(NoticeKindName(notice.Kind)) : notice.Code;
}

bool Repeats(const ChannelSettings& channel, const Notice& notice) {
    return channel.Kind == ChannelKind::Alertmanager && notice.Kind == NoticeKind::Problem && !notice.Code.empty();
}

/// A failed try, as the channel has always said it: the [Notify] Webhook's
/// "Webhook fail." lines, a [Channel]'s own.
void LogFailure(const ChannelSettings& c, const Notice& notice, const std::string& error, const std::string& then) {
    if (c.NotifyWebhook)
        WriteLog("ERROR", "Webhook fail. " + error + " (" + then + ")");
    else
        WriteLog("ERROR", "Notice for " + Subject(notice) + " to " + c.Name + " failed: " + error + " (" + then + ")");
}

void LogGivenUp(const ChannelSettings& c, const Notice& notice, const OutboxRow& row) {
    const std::string tries = "given up after " + std::to_string(row.Tries) + " tries";
    if (c.NotifyWebhook)
        WriteLog("ERROR", "Webhook fail. " + row.Error + " (" + tries + ")");
    else
        WriteLog("ERROR", "Notice for " + Subject(notice) + " to " + c.Name + " " + tries +
                              (row.Error.empty() ? "" : ": " + row.Error));
}

std::string HostName() {
    char host[64] = {};
    gethostname(host, sizeof host - 1);
    return host;
}

/// Whether a holder ("host:pid:n") is a sender of this host whose process is gone.
bool HolderDied(const std::string& holder) {
    const std::size_t last = holder.rfind(':');
    const std::size_t mid = last == std::string::npos || last == 0 ? std::string::npos : holder.rfind(':', last - 1);
    if (mid == std::string::npos || holder.substr(0, mid) != HostName()) return false;
    const int pid = StrToIntDef(holder.substr(mid + 1, last - mid - 1), 0);
    return pid > 0 && pid != getpid() && ::kill(pid, 0) != 0 && errno == ESRCH;
}

WebhookChannel::Attempt Attempt(const ChannelSettings& c, const Notice& notice, const std::string& key,
                                const std::atomic<bool>& stop) {
    if (c.Kind != ChannelKind::Apprise) return WebhookChannel::Send(BuildChannelRequest(c, notice, key), &stop);
    std::vector<std::string> urls;
    for (std::string url : SplitString(c.Key("urls"), ' '))
        if (!(url = Trim(url)).empty()) urls.push_back(url);
    return RunApprise(urls, NoticeTitle(notice), NoticeSummary(notice), AppriseSeconds, &stop);
}

} // namespace

bool NoticeOutbox::Settings::operator==(const Settings& o) const {
    auto same = [](const ChannelSettings& a, const ChannelSettings& b) {
        return a.Name == b.Name && a.Kind == b.Kind && a.Url == b.Url && a.Keys == b.Keys && a.Events == b.Events &&
               a.Sites == b.Sites && a.NotifyWebhook == b.NotifyWebhook;
    };
    return ConnectionString == o.ConnectionString && Dialect == o.Dialect && Group == o.Group &&
           GiveUpSeconds == o.GiveUpSeconds && PollSeconds == o.PollSeconds && LeaseSeconds == o.LeaseSeconds &&
           std::equal(Channels.begin(), Channels.end(), o.Channels.begin(), o.Channels.end(), same);
}

NoticeOutbox::NoticeOutbox(Settings settings, Tried tried)
    : m_settings(std::move(settings)), m_tried(std::move(tried)) {
    for (const ChannelSettings& c : m_settings.Channels)
        m_threads.emplace_back([this, &c] { Run(c); });
}

NoticeOutbox::~NoticeOutbox() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

long long NoticeOutbox::ReadGiveUp(const std::string& iniFile) {
    const int minutes = TIniFile(iniFile).ReadInteger("Notify", "GiveUp", 60);
    return 60LL * (minutes > 0 ? minutes : 60);
}

std::string NoticeOutbox::RowKey(const std::string& channel, const Notice& notice) {
    return channel + "|" + OutageKey(notice) + "|" + NoticeKindName(notice.Kind) +
           (notice.Round != 0 ? "|" + std::to_string(notice.Round) : "");
}

int NoticeOutbox::Queue(TDbQuery& query, const Notice& notice) {
    std::vector<const ChannelSettings*> taking;
    for (const ChannelSettings& c : m_settings.Channels)
        if (c.Takes(notice.Kind)) taking.push_back(&c);
    if (taking.empty()) return 0;
    Notice told = notice;
    const bool tagged = std::any_of(taking.begin(), taking.end(), [](const ChannelSettings* c) {
        return c->NeedsTags() || c->Kind == ChannelKind::Alertmanager;
    });
    if (tagged && !told.Code.empty()) told.Tags = SiteTags(query).Of(told.Code);
    OutboxRows rows(query, m_settings.Dialect, m_settings.Group);
    if (!m_tableMade) rows.EnsureTable();
    m_tableMade = true;
    int queued = 0;
    const std::string stored = StoredNotice(told);
    for (const ChannelSettings* c : taking) {
        if (told.Code.empty() ? !c->Sites.empty() : !c->Routes(told.Code, told.Tags)) continue;
        OutboxRow row;
        row.Key = RowKey(c->Name, told);
        row.Channel = c->Name;
        row.Code = told.Code;
        row.Kind = NoticeKindName(told.Kind);
        row.Notice = stored;
        if (rows.Add(row)) ++queued;
    }
    if (queued > 0) {
        std::lock_guard<std::mutex> hold(m_lock);
        ++m_wakes;
    }
    m_wake.notify_all();
    return queued;
}

bool NoticeOutbox::Delivered(TDbQuery& query, const std::string& channel, const Notice& notice) {
    OutboxRows rows(query, m_settings.Dialect, m_settings.Group);
    if (!m_tableMade) rows.EnsureTable();
    m_tableMade = true;
    OutboxRow row;
    return rows.Find(RowKey(channel, notice), row) &&
           (row.State == OutboxRows::Delivered || row.State == OutboxRows::Repeating);
}

std::string NoticeOutbox::NewHolder() {
    return HostName() + ":" + std::to_string(getpid()) + ":" + std::to_string(++m_holders);
}

void NoticeOutbox::ReleaseDead(OutboxRows& rows, const ChannelSettings& channel) {
    for (const auto& [key, holder] : rows.Held(channel.Name))
        if (HolderDied(holder)) rows.Release(key, holder);
}

void NoticeOutbox::Run(const ChannelSettings& channel) {
    TDbConnection connection;
    connection.ConnectionString = m_settings.ConnectionString;
    bool failing = false;
    auto lastPurge = std::chrono::steady_clock::time_point{};
    std::unique_lock<std::mutex> hold(m_lock);
    while (!m_stop) {
        const unsigned long seen = m_wakes;
        hold.unlock();
        try {
            if (!connection.Connected()) connection.Open();
            TDbQuery query(connection);
            OutboxRows rows(query, m_settings.Dialect, m_settings.Group);
            if (std::chrono::steady_clock::now() - lastPurge > std::chrono::hours(1)) {
                rows.EnsureTable();
                rows.Purge(KeepSeconds);
                ReleaseDead(rows, channel);
                lastPurge = std::chrono::steady_clock::now();
            }
            SendDue(rows, query, channel);
            failing = false;
        } catch (const std::exception& e) {
            if (!failing) WriteLog("ERROR", "Outbox of " + channel.Name + ": " + e.what());
            failing = true; // said once until the table answers again
            connection.Close();
        }
        hold.lock();
        m_wake.wait_for(hold, std::chrono::seconds(m_settings.PollSeconds), [&] { return m_stop || m_wakes != seen; });
    }
}

void NoticeOutbox::SendDue(OutboxRows& rows, TDbQuery& query, const ChannelSettings& channel) {
    for (const OutboxRow& row : rows.Due(channel.Name)) {
        if (m_stop) return;
        const Notice notice = NoticeFromStored(row.Notice);
        if (row.State == OutboxRows::Repeating) {
            if (!StillDown(rows, query, channel, notice)) {
                rows.StopRepeating(row.Key);
                continue;
            }
        } else if (row.Tries > 0 && rows.AgeOf(row) >= m_settings.GiveUpSeconds) {
            // Tried once at least: a daemon stopped for longer than GiveUp still sends what it owes.
            rows.MarkGivenUp(row.Key, row.Error);
            LogGivenUp(channel, notice, row);
            continue;
        }
        const std::string holder = NewHolder();
        if (!rows.Take(row.Key, holder, m_settings.LeaseSeconds)) continue; // another member sends it
        if (!Settle(rows, channel, row, notice, holder, Attempt(channel, notice, row.Key, m_stop))) return;
    }
}

bool NoticeOutbox::Settle(OutboxRows& rows, const ChannelSettings& channel, const OutboxRow& row, const Notice& notice,
                          const std::string& holder, const WebhookChannel::Attempt& attempt) {
    const bool waiting = row.State == OutboxRows::Waiting;
    if (attempt.Delivered) {
        rows.MarkDelivered(row.Key, Repeats(channel, notice) ? channel.RepeatSeconds() : 0);
        if (waiting && !channel.NotifyWebhook)
            WriteLog("MAIL", "Notice for " + Subject(notice) + " sent to " + channel.Name + ".");
    } else if (attempt.MaybeTaken && waiting && !channel.ReceiverDeduplicates()) {
        // The receiver may hold it: a second copy could show twice, so this one counts as the try.
        rows.MarkUnconfirmed(row.Key, attempt.Error);
        LogFailure(channel, notice, attempt.Error, "no answer to the whole request: not sent again");
    } else if (m_stop) {
        rows.Release(row.Key, holder); // sent by the next start, at once
        return false;
    } else {
        const long long wait = waiting ? RetryAfter(row.Tries) : channel.RepeatSeconds();
        rows.MarkFailed(row.Key, attempt.Error, wait);
        LogFailure(channel, notice, attempt.Error, "trying again in " + std::to_string(wait) + " s");
    }
    if (waiting && m_tried) m_tried(channel, notice, attempt.Delivered);
    return !m_stop;
}

bool NoticeOutbox::StillDown(OutboxRows& rows, TDbQuery& query, const ChannelSettings& channel, const Notice& notice) {
    Notice recovery = notice;
    recovery.Kind = NoticeKind::Recovery;
    OutboxRow known;
    if (rows.Find(RowKey(channel.Name, recovery), known)) return false;
    OpenStatement(query, {"SELECT COUNT(*) AS n FROM alarms WHERE Code = " + SQLLiteral(notice.Code)});
    return query.FieldByName("n").AsInteger() > 0;
}
