// The channels' notices through the durable outbox: a notice is written to table vktoutbox for each
// channel that takes it before anything is sent; one sender thread per channel, on a connection of
// its own, takes the due rows, sends them with bounded time-outs and marks what the receiver took.
// A refused or unreachable receiver is tried again with growing back-off until [Notify] GiveUp
// minutes have passed since the notice was queued; a stop or a crash leaves the rows for the next
// start (or, in a group, for whichever member takes them first). A request sent whole that got no
// answer is not sent again, unless the receiver deduplicates. An Alertmanager channel posts a
// problem again while its outage lasts, as Alertmanager resolves alerts that are not posted again.
#pragma once

#include "alert/channel.h"
#include "alert/webhookchannel.h"
#include "db/dbaccess.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class OutboxRows;
struct OutboxRow;

class NoticeOutbox {
public:
    struct Settings {
        std::string ConnectionString;
        TDbDialect Dialect = TDbDialect::SQLite;
        /// The Daemon ID: a group's members share its rows.
        std::string Group;
        std::vector<ChannelSettings> Channels;
        /// A notice tried and not taken this long after it was queued is given up.
        long long GiveUpSeconds = 3600;
        /// Seconds between looks at the table for rows queued elsewhere or due again.
        int PollSeconds = 5;
        /// A row taken stays with its sender this long (more than any attempt may take); a sender that
        /// died meanwhile leaves it to be sent again after that.
        long long LeaseSeconds = 90;
        bool operator==(const Settings& other) const;
    };
    /// Told from a sender thread for each attempt at a notice (not for re-posts): the channel, the
    /// notice and whether the receiver took it.
    using Tried = std::function<void(const ChannelSettings& channel, const Notice& notice, bool delivered)>;

    NoticeOutbox(Settings settings, Tried tried = {});
    /// Ends the senders within about a second; what they hold stays in the table.
    ~NoticeOutbox();
    NoticeOutbox(const NoticeOutbox&) = delete;
    NoticeOutbox& operator=(const NoticeOutbox&) = delete;

    const Settings& Config() const { return m_settings; }
    /// Writes the notice's row for every channel whose events and sites take it, on `query`'s
    /// connection, and wakes the senders; the number of rows written (a notice queued before is not
    /// queued again). Statement errors are raised.
    int Queue(TDbQuery& query, const Notice& notice);
    /// The row key of a notice on a channel: the channel, the outage, the kind and the round.
    static std::string RowKey(const std::string& channel, const Notice& notice);
    /// Whether the channel's receiver took the notice (kind, site, outage start and round are read),
    /// on `query`'s connection. Statement errors are raised.
    bool Delivered(TDbQuery& query, const std::string& channel, const Notice& notice);
    /// "[Notify] GiveUp" minutes (default 60), in seconds.
    static long long ReadGiveUp(const std::string& iniFile);

private:
    void Run(const ChannelSettings& channel);
    void SendDue(OutboxRows& rows, TDbQuery& query, const ChannelSettings& channel);
    /// Marks and logs what one attempt at a row came to; false when the senders stop.
    bool Settle(OutboxRows& rows, const ChannelSettings& channel, const OutboxRow& row, const Notice& notice,
                const std::string& holder, const WebhookChannel::Attempt& attempt);
    /// Gives back the rows that senders of this host took and died holding (a kill, a crash), so that
    /// a restart sends them at once rather than after their lease.
    void ReleaseDead(OutboxRows& rows, const ChannelSettings& channel);
    /// Whether the outage of a repeating row still lasts: no recovery queued and the site still down.
    bool StillDown(OutboxRows& rows, TDbQuery& query, const ChannelSettings& channel, const Notice& notice);
    std::string NewHolder();

    const Settings m_settings;
    Tried m_tried;
    std::mutex m_lock;
    std::condition_variable m_wake;
    unsigned long m_wakes = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<unsigned long> m_holders{0};
    bool m_tableMade = false;
    std::vector<std::thread> m_threads;
};
