// Table vktack: the acknowledgement of each site's open outage, shared by every daemon on the database
// (a group's members see each other's). Made when missing. Times are whole seconds: the outage's start
// as the claims key it, the acknowledgement's moment in Unix time. Errors are raised to the caller.
#pragma once

#include "db/dbaccess.h"
#include "platform/datetime.h"

#include <optional>
#include <string>
#include <vector>

struct AckRow {
    std::string Code;
    TDateTime Since = 0;
    std::string By;
    std::string Comment;
    TDateTime At = 0;
};

class AckRows {
public:
    explicit AckRows(TDbQuery& query) : m_q(query) {}

    static constexpr const char* Create =
        "CREATE TABLE vktack (code varchar(30) NOT NULL, since bigint NOT NULL, who varchar(100) NOT NULL, "
        "note varchar(255) NOT NULL, made bigint NOT NULL)";
    static constexpr const char* Index = "CREATE UNIQUE INDEX ixvktack ON vktack (code, since)";

    void EnsureTable();
    /// Stores the row, replacing an earlier acknowledgement of the same outage; each text is cut to its
    /// column at a character boundary.
    void Store(const AckRow& row);
    /// Acknowledges the site's open outage (its earliest alarm row) by `by` at `at`, making the table
    /// when it is missing; none when the site has no open outage.
    std::optional<AckRow> Acknowledge(const std::string& code, const std::string& by, const std::string& comment,
                                      TDateTime at);
    std::vector<AckRow> ReadAll();
    /// Removes the site's rows: its outage is over.
    void Clear(const std::string& code);

private:
    TDbQuery& m_q;
};
