// Table vktclaim: the notices of each outage, one row per notice, keyed by the site's code, the
// notice's kind and the outage's start in whole seconds. A group's members claim each notice there
// before sending it (cluster/clustermember.h); a daemon that works alone records there the reminders
// and escalation steps it sent, so that a restart sends none of them again. Made when missing.
// Statement errors are raised to the caller.
#pragma once

#include "db/dbaccess.h"
#include "platform/datetime.h"

#include <string>

class ClaimRows {
public:
    ClaimRows(TDbQuery& query, TDbDialect dialect) : m_q(query), m_dialect(dialect) {}

    static constexpr const char* Create =
        "CREATE TABLE vktclaim (code varchar(30) NOT NULL, kind varchar(10) NOT NULL, since bigint NOT NULL, "
        "holder varchar(100) NOT NULL, lease bigint NOT NULL, sent integer NOT NULL, made bigint NOT NULL)";
    static constexpr const char* Index = "CREATE UNIQUE INDEX ixvktclaim ON vktclaim (code, kind, since)";

    /// The kind of a reminder ("rem<n>") or an escalation step ("esc<n>") as stored.
    static std::string RoundKind(bool reminder, int round);
    /// The outage's start as the rows key it: whole seconds.
    static long long SinceKey(TDateTime since);
    /// The database server's clock in whole seconds since 1970, as an SQL expression (this machine's
    /// for the embedded file).
    static std::string ServerSeconds(TDbDialect dialect);

    void EnsureTable();
    /// Whether the round of `kind` of the site's outage begun at `since` went out (marked sent).
    bool Sent(const std::string& code, const std::string& kind, TDateTime since);
    /// Records the round as sent by `holder`. A reminder's row replaces the outage's earlier reminders:
    /// only the latest one is asked for.
    void StoreSent(const std::string& code, const std::string& kind, TDateTime since, const std::string& holder);
    /// Removes the site's reminder and escalation rows: its outage is over.
    void ClearRounds(const std::string& code);
    /// Removes the reminder and escalation rows made more than `seconds` ago.
    void PurgeRounds(long long seconds);

private:
    TDbQuery& m_q;
    TDbDialect m_dialect;
};
