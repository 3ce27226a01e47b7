// The data-access interface of the daemon and the data utilities: a connection opened from a
// connection string, statements kept as lines of text, row sets read by column name, and the
// batch row set that a restore fills and sends in one go.
#pragma once

#include "platform/errors.h"
#include "platform/variant.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

/// The class of a column's data type, as the backup and the restore convert values by it.
enum class TFieldClass { Text, Integer, Float, DateTime, Boolean, Other };

/// A row a batch insert did not write: its position in the batch, the database's reason, and
/// whether that reason is a key already present (a duplicate) rather than a value refused.
struct TRefusedRow {
    std::size_t Row = 0;
    std::string Reason;
    bool Duplicate = false;
};

/// The kind of database behind a connection; it decides the backend and the table scripts' DDL.
enum class TDbDialect { SQLite, SqlServer, PostgreSQL, OdbcDsn };

/// The statements that open, commit and undo a transaction on one kind of database.
struct TransactionText {
    const char* Begin;
    const char* Commit;
    const char* Rollback;
};

/// The database server's own clock as local time in a statement ("GETDATE()" and the like), or empty
/// where statements carry a literal of this computer's time instead: the embedded file has no clock of
/// its own and a data source of unknown kind may not have one.
inline std::string ServerClock(TDbDialect dialect) {
    switch (dialect) {
    case TDbDialect::PostgreSQL:
        return "LOCALTIMESTAMP";
    case TDbDialect::SqlServer:
        return "GETDATE()";
    default:
        return "";
    }
}

inline TransactionText TransactionOf(TDbDialect dialect) {
    switch (dialect) {
    case TDbDialect::SQLite:
        // Taking the write lock at once: a second writer waits here, not halfway through.
        return {"BEGIN IMMEDIATE", "COMMIT", "ROLLBACK"};
    case TDbDialect::PostgreSQL:
        return {"BEGIN", "COMMIT", "ROLLBACK"};
    default:
        return {"BEGIN TRANSACTION", "COMMIT TRANSACTION", "ROLLBACK TRANSACTION"};
    }
}

struct TDbColumn {
    std::string Name;
    TFieldClass Class = TFieldClass::Other;
};

using TDbRow = std::vector<Variant>;

/// What a statement returned: its columns and every row, read at once (empty for other statements).
struct TDbRows {
    std::vector<TDbColumn> Columns;
    std::vector<TDbRow> Rows;
};

/// A failure reported by the database or its client library; the message is the provider's text.
class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};

/// A text value as a SQL string literal: enclosed in apostrophes, every apostrophe doubled.
/// This is the only way a value may enter statement text. Throws EArgumentError for a NUL character,
/// which no backend can carry inside a literal.
std::string SQLLiteral(const std::string& value);

class TDbSession;

/// The one database connection: opened from a connection string of the form
/// "Provider=...;Persist Security Info=...;User ID=...;Password=...;Initial Catalog=...;Data Source=...".
class TDbConnection {
public:
    TDbConnection();
    ~TDbConnection();
    TDbConnection(const TDbConnection&) = delete;
    TDbConnection& operator=(const TDbConnection&) = delete;

    std::string ConnectionString;
    /// Seconds a login may take before Open fails (a dead or unreachable server).
    int ConnectionTimeout = 3;
    /// Seconds a statement on a networked server may take before it is cancelled.
    int CommandTimeout = 30;

    /// Connects (closing any open session first); throws EDatabaseError with the provider's message.
    /// Login and statements are bounded by time-outs, so a dead server fails within seconds.
    void Open();
    /// Closes the session; Connected() is false afterwards.
    void Close();
    /// True while a session is open and no statement has found the link to the server broken;
    /// for an embedded file, while the file at its path is still the one that was opened.
    bool Connected() const;

    /// The open session; EDatabaseError "Connection is closed." when there is none.
    TDbSession& Session();
    /// How often Session was asked for: a caller that sees it unchanged knows no statement ran (and
    /// need not ask Connected again).
    std::uint64_t Uses() const { return m_uses; }

private:
    std::unique_ptr<TDbSession> m_session;
    std::uint64_t m_uses = 0;
};

/// The text of a statement, kept as lines; they are sent joined by line breaks.
class TSQLText {
public:
    void Clear() { m_lines.clear(); }
    void Add(std::string line) { m_lines.push_back(std::move(line)); }
    std::size_t Count() const { return m_lines.size(); }
    const std::string& operator[](std::size_t i) const { return m_lines.at(i); }
    std::string Text() const;

private:
    std::vector<std::string> m_lines;
};

/// A statement object on a connection. A colon in the text has no meaning (no parameters).
class TDbQuery {
public:
    explicit TDbQuery(TDbConnection& connection) : m_connection(&connection) {}

    TSQLText SQL;

    /// Runs a statement that returns rows and positions on the first row.
    void Open();
    /// Runs a statement that returns no rows (rows a statement returns anyway are dropped).
    void ExecSQL();
    void Close();
    bool Active() const { return m_active; }

    /// True when there is no current row (no rows, past the last, or closed).
    bool Eof() const { return !m_active || m_position >= m_rows.Rows.size(); }
    void Next();
    void First() { m_position = 0; }
    std::size_t RecordCount() const { return m_rows.Rows.size(); }

    /// The current row's value of a column, the name matched without regard to case; null stays null.
    /// EDatabaseError when the column does not exist or there is no current row.
    const Variant& FieldByName(const std::string& name) const;
    /// Like FieldByName, but nullptr for a column that does not exist.
    const Variant* FindField(const std::string& name) const;

    /// The columns of the open row set, in order.
    const std::vector<TDbColumn>& Columns() const { return m_rows.Columns; }
    /// The current row's value of column `index`.
    const Variant& Value(std::size_t index) const;
    /// The current row's value of column `index` as text in the program-wide formats (null as "").
    std::string ColumnText(std::size_t index) const { return Value(index).AsString(); }

    TDbConnection& Connection() const { return *m_connection; }

private:
    void Run(bool keepRows);
    const TDbRow& CurrentRow() const;

    TDbConnection* m_connection;
    TDbRows m_rows;
    std::unordered_map<std::string, std::size_t> m_columnIndex; // lower-case name -> first column
    std::size_t m_position = 0;
    bool m_active = false;
};

/// The batch row set of a restore: records appended on the client, kept pending, and sent to the
/// table in one batch. Records the database refuses (a duplicate key, a missing value) stay pending.
class TDbBatchSet {
public:
    explicit TDbBatchSet(TDbConnection& connection) : m_connection(&connection) {}

    /// Opens the row set on "SELECT * FROM <table> " with its view restricted to pending records:
    /// the rows already in the table are not read. The table name must be a plain identifier.
    void Open(const std::string& table);
    void Close();
    bool Active() const { return m_active; }
    const std::vector<TDbColumn>& Columns() const { return m_columns; }

    /// Starts a new record with every value null.
    void Append();
    void SetValue(std::size_t column, Variant value);
    void SetValue(const std::string& column, Variant value);
    /// Adds the record being edited to the pending batch.
    void Post();
    /// Drops the record being edited.
    void Cancel();

    /// The number of records still pending (the view is always restricted to them).
    std::size_t PendingCount() const { return m_pending.size(); }
    /// Sends every pending record; the records written leave the batch. When any record is refused,
    /// the refused ones stay pending and EDatabaseError carries the first refusal's message.
    void UpdateBatch();
    /// The records the last UpdateBatch refused; Row counts the records in the order they were posted
    /// for that batch.
    const std::vector<TRefusedRow>& Refusals() const { return m_refusals; }

private:
    TDbRow& Editing();

    TDbConnection* m_connection;
    std::string m_table;
    std::vector<TDbColumn> m_columns;
    std::vector<TDbRow> m_pending;
    std::vector<TRefusedRow> m_refusals;
    std::unique_ptr<TDbRow> m_editing;
    bool m_active = false;
};
