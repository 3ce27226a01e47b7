// LastRTT of many answering sites stored at once, in the statement text each kind of database takes
// best. The other gathered statements of a scan (the alarm rows posted, cleared and read by code
// lists) read the same on every kind; this is the one place where they differ.
#pragma once

#include "db/dbaccess.h"

#include <string>
#include <vector>

/// A site's code and the round-trip time its rows get.
struct SiteRtt {
    std::string Code;
    int Rtt = 0;
};

/// The statements that set LastRTT of every row of each code to its round-trip time: one for all of
/// them on the embedded file, PostgreSQL and SQL Server; on a data source of unknown kind one per
/// distinct time, in the plainest text. The codes must be told apart by the database (no two match).
std::vector<std::string> LastRttStatements(TDbDialect dialect, const std::vector<SiteRtt>& sites);
