// The sites a scan probes, read the same way by both engines: the codes listed for this daemon, then
// one code's rows by its own statement, or every listed code's rows gathered into few statements and
// matched back to the codes the way the database matches them.
#pragma once

#include "db/dbaccess.h"
#include "platform/probeaddress.h"
#include "scan/siteresult.h"

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

/// One site row to probe: code and address as the scan logs them, the site's name for the board.
struct ScanRow {
    std::string Code;
    std::string Address;
    std::string Name;
    /// Which addresses of the row's name are probed (the scan sets it from table sitefamily or [Scan]).
    AddressFamily Family = AddressFamily::Auto;
    /// The round-trip time the row holds (LastRTT) as read, or -1 when it holds none or the scan
    /// cannot rely on it (another row of the same code shares its statement).
    int StoredRtt = -1;

    /// `result` (a probe of this row's address) with the row's code, address and name attached.
    SiteResult Attach(SiteResult result) const;
};

class SiteRowReader {
public:
    /// Told of a statement that failed, with the step it was ("Reading site A1").
    using StepFailed = std::function<void(const std::string& step, const std::exception& error)>;

    SiteRowReader(TDbQuery& query, StepFailed failed) : m_query(query), m_failed(std::move(failed)) {}

    /// The codes of the sites listed for `daemonId` (every listed site when it is empty), in the order
    /// the database returns them; false, the failure told, when the list cannot be read.
    bool ReadList(const std::string& daemonId, std::vector<std::string>& codes);
    /// A short text that changes whenever the list of `daemonId` changes (the count and a sum of the
    /// codes' hashes, reckoned by the server), so that a list of a million codes need not be read again
    /// to learn it did not change. False, nothing told, where the server cannot reckon it (PostgreSQL
    /// only) or the statement fails: the list is read then.
    bool ListFingerprint(const std::string& daemonId, TDbDialect dialect, std::string& print);
    /// Every site row listed for `daemonId`, in one statement, with the columns the board shows; false,
    /// the failure told, when they cannot be read.
    bool ReadGroup(const std::string& daemonId, std::vector<ScanRow>& rows);
    /// Appends the code's rows, in the order the database returns them. A failing statement is told and
    /// adds nothing. False when the connection is gone, before or after: the rest of the scan would only
    /// fail the same way.
    bool ReadCode(const std::string& code, std::vector<ScanRow>& rows);
    /// The rows of every listed code, in list order and within a code in the order the database returns
    /// them. Codes the gathered statements cannot read (bytes beyond ASCII, a failed statement) are read
    /// one by one as ReadCode does; a lost connection ends the list there. `between` runs after each
    /// gathered statement, while the query is free for statements of its own.
    std::vector<ScanRow> ReadAll(const std::vector<std::string>& codes, const std::function<void()>& between = {});

private:
    /// One gathered statement: the rows of `codes`.
    void OpenGathered(const std::vector<std::string>& codes);
    /// Whether the site table has the columns the narrow statements name (asked once); raises when the
    /// connection is gone.
    bool NarrowColumns();
    /// The narrow statements' columns, of `table` ("site." or "").
    static std::string NarrowList(const std::string& table);

    TDbQuery& m_query;
    StepFailed m_failed;
    std::optional<bool> m_narrow;
};
