// One open session with a database, as each backend provides it: run statement text, describe a
// table's columns, insert a batch of rows, and tell whether the link to the server still holds.
#pragma once

#include "db/dbaccess.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

/// The outcome of a batch insert: the rows the database refused (in row order) with its reasons.
struct TInsertOutcome {
    std::vector<TRefusedRow> Refused;
    /// Records a refusal of row `row`.
    void Refuse(std::size_t row, std::string reason, bool duplicate) {
        Refused.push_back({row, std::move(reason), duplicate});
    }
};

class TDbSession {
public:
    virtual ~TDbSession() = default;

    /// Runs the statement text as it stands and reads every row it returns.
    virtual TDbRows Run(const std::string& sql) = 0;
    /// The columns that "SELECT * FROM <table> " returns, without reading any row.
    virtual std::vector<TDbColumn> Describe(const std::string& table) = 0;
    /// Inserts the rows (values in column order) in one batch; a refused row does not stop the others.
    virtual TInsertOutcome InsertRows(const std::string& table, const std::vector<TDbColumn>& columns,
                                      const std::vector<TDbRow>& rows) = 0;
    /// Whether a table of this name exists (matched the way the database matches identifiers).
    virtual bool TableExists(const std::string& table) = 0;
    /// False once a statement has found the link to the server broken (or the embedded file is gone).
    virtual bool Alive() const = 0;
};

/// Opens the embedded database file, creating it when missing.
std::unique_ptr<TDbSession> OpenSqliteSession(const std::string& path);

struct TOdbcOptions {
    std::string ConnectString; // the ODBC connection string, driver included
    TDbDialect Dialect = TDbDialect::OdbcDsn;
    int LoginTimeoutSeconds = 3;  // a dead server fails the open within this
    int QueryTimeoutSeconds = 30; // a statement that hangs is cancelled after this
};

/// The ODBC driver for SQL Server or PostgreSQL: the library installed beside the driver manager
/// (so no registration is needed), else the name the driver packages register.
std::string OdbcDriverFor(TDbDialect dialect);

/// Connects through the ODBC driver manager.
std::unique_ptr<TDbSession> OpenOdbcSession(const TOdbcOptions& options);
