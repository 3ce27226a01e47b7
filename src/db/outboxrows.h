// Table vktoutbox: every notice a channel is to send, written before it is sent and marked once its
// receiver has taken it, so that a stop, a crash or a dead receiver delays a notice and never loses
// it. One row per (Daemon ID, key); the key names the channel, the outage, the kind and the round, so
// the same notice is never queued twice. A sender takes a due row by a lease (holder and due), so in
// a group exactly one member sends it, and a member that dies mid-send leaves it to the next after
// the lease. Times are whole seconds of the database server's clock. Made when missing; statement
// errors are raised to the caller.
#pragma once

#include "db/dbaccess.h"

#include <string>
#include <utility>
#include <vector>

struct OutboxRow {
    std::string Key, Channel, Code, Kind;
    /// The notice as the channel layer stored it.
    std::string Notice;
    long long Made = 0;
    int Tries = 0;
    /// 0 waiting, 1 delivered, 2 given up, 3 delivered and posted again while the outage lasts,
    /// 4 sent whole without an answer (the receiver may hold it: never sent again).
    int State = 0;
    std::string Error;
};

class OutboxRows {
public:
    enum State { Waiting = 0, Delivered = 1, GivenUp = 2, Repeating = 3, Unconfirmed = 4 };

    OutboxRows(TDbQuery& query, TDbDialect dialect, std::string group);

    void EnsureTable();
    /// Queues a notice; false when a row of that key is there already (queued or sent before).
    bool Add(const OutboxRow& row);
    /// The channel's rows waiting or repeating whose time has come, oldest first.
    std::vector<OutboxRow> Due(const std::string& channel);
    /// Takes a due row for `lease` seconds under `holder` (unique per attempt); false when another
    /// sender took it first or it is not due any more.
    bool Take(const std::string& key, const std::string& holder, long long lease);
    /// The receiver took it: done, or (with `repeatSeconds` > 0) posted again after that long.
    void MarkDelivered(const std::string& key, long long repeatSeconds = 0);
    /// Not taken: tried again after `retrySeconds`.
    void MarkFailed(const std::string& key, const std::string& error, long long retrySeconds);
    void MarkGivenUp(const std::string& key, const std::string& error);
    /// Sent whole and not answered: the receiver may hold it, so it is not sent again.
    void MarkUnconfirmed(const std::string& key, const std::string& error);
    /// The channel's waiting or repeating rows that a sender holds: key and holder.
    std::vector<std::pair<std::string, std::string>> Held(const std::string& channel);
    /// Gives a row `holder` took back, due now (its sender stopped or died before sending it).
    void Release(const std::string& key, const std::string& holder);
    /// Ends a repeating row (the outage is over).
    void StopRepeating(const std::string& key);
    /// The row of a key, when there is one.
    bool Find(const std::string& key, OutboxRow& row);
    /// Seconds since the row was made, by the server's clock.
    long long AgeOf(const OutboxRow& row);
    /// Removes delivered, given-up and unconfirmed rows made more than `seconds` ago.
    void Purge(long long seconds);

private:
    std::string Row(const std::string& key) const;
    std::string Now() const;

    TDbQuery& m_q;
    TDbDialect m_dialect;
    std::string m_group;
};
