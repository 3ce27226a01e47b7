// Networked databases through the ODBC driver manager: SQL Server (FreeTDS driver), PostgreSQL
// (its ODBC driver) and any configured data source name.
#include "db/dbsession.h"

#include "platform/datetime.h"
#include "platform/strutil.h"

#include <sql.h>
#include <sqlext.h>

#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace {

SQLHENV Environment() {
    static SQLHENV env = SQL_NULL_HENV;
    static std::once_flag once;
    std::call_once(once, [] {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return;
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    });
    if (env == SQL_NULL_HENV) throw EDatabaseError("The ODBC driver manager could not be initialised.");
    return env;
}

struct Diagnostic {
    std::string State;
    std::string Message;
    long Native = 0;

    /// A key already present: PostgreSQL's unique violation, SQL Server's duplicate key (2601, 2627).
    bool DuplicateKey() const { return State == "23505" || (State == "23000" && (Native == 2601 || Native == 2627)); }
};

// The first diagnostic record of a handle: the driver's own message text.
Diagnostic DiagnosticOf(SQLSMALLINT type, SQLHANDLE handle) {
    SQLCHAR state[6] = {0};
    SQLCHAR text[SQL_MAX_MESSAGE_LENGTH + 1] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof text, &length);
    if (!SQL_SUCCEEDED(rc)) return {"HY000", "Unknown ODBC error"};
    return {reinterpret_cast<char*>(state), reinterpret_cast<char*>(text), static_cast<long>(native)};
}

TFieldClass ClassOfSqlType(SQLSMALLINT type) {
    switch (type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
        return TFieldClass::Text;
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
        return TFieldClass::Integer;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
        return TFieldClass::Float;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_DATETIME:
    case SQL_TIME:
    case SQL_TIMESTAMP:
        return TFieldClass::DateTime;
    case SQL_BIT:
        return TFieldClass::Boolean;
    default:
        return TFieldClass::Other;
    }
}

// A column as read from the driver; blank-padded types lose their padding on reading.
struct OdbcColumn {
    TDbColumn Column;
    bool Padded = false;
};

class OdbcStatement {
public:
    explicit OdbcStatement(SQLHDBC dbc) {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &m_stmt))) {
            m_stmt = SQL_NULL_HSTMT;
            m_failure = DiagnosticOf(SQL_HANDLE_DBC, dbc);
        }
    }
    ~OdbcStatement() {
        if (m_stmt != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, m_stmt);
    }
    OdbcStatement(const OdbcStatement&) = delete;
    OdbcStatement& operator=(const OdbcStatement&) = delete;
    SQLHSTMT Get() const { return m_stmt; }
    const Diagnostic& AllocationFailure() const { return m_failure; }

private:
    SQLHSTMT m_stmt = SQL_NULL_HSTMT;
    Diagnostic m_failure;
};

// The storage of one bound parameter; it must outlive the SQLExecute that reads it.
struct BoundValue {
    std::string Text;
    long long Integer = 0;
    double Float = 0;
    unsigned char Bit = 0;
    SQL_TIMESTAMP_STRUCT Timestamp{};
    SQLLEN Indicator = 0;
};

class TOdbcSession : public TDbSession {
public:
    explicit TOdbcSession(const TOdbcOptions& options);
    ~TOdbcSession() override;

    TDbRows Run(const std::string& sql) override;
    std::vector<TDbColumn> Describe(const std::string& table) override;
    TInsertOutcome InsertRows(const std::string& table, const std::vector<TDbColumn>& columns,
                              const std::vector<TDbRow>& rows) override;
    bool TableExists(const std::string& table) override;
    bool Alive() const override { return m_alive; }

private:
    // Throws the handle's diagnostic; a broken link marks the session dead first.
    [[noreturn]] void Fail(SQLSMALLINT type, SQLHANDLE handle);
    void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle) {
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) Fail(type, handle);
    }
    SQLHSTMT NewStatement(OdbcStatement& st);
    std::vector<OdbcColumn> DescribeResult(SQLHSTMT stmt);
    Variant ReadValue(SQLHSTMT stmt, SQLUSMALLINT index, const OdbcColumn& column);
    std::string ReadText(SQLHSTMT stmt, SQLUSMALLINT index, bool& isNull);
    TDbRows ReadRows(SQLHSTMT stmt);
    void SetAutoCommit(bool on);
    void BindRow(SQLHSTMT stmt, const std::vector<TDbColumn>& columns, const TDbRow& row, BoundValue* values,
                 SQLUSMALLINT firstParameter);
    bool InsertOne(SQLHSTMT stmt, const std::vector<TDbColumn>& columns, const TDbRow& row, std::string& error,
                   bool& duplicate);
    void InsertAll(SQLHSTMT stmt, const std::vector<TDbColumn>& columns, const std::vector<TDbRow>& rows,
                   TInsertOutcome& outcome);
    void InsertOneByOne(SQLHSTMT stmt, const std::vector<TDbColumn>& columns, const std::vector<TDbRow>& rows,
                        std::size_t first, std::size_t count, TInsertOutcome& outcome);
    bool InsertChunk(SQLHSTMT stmt, const std::vector<TDbColumn>& columns, const std::vector<TDbRow>& rows,
                     std::size_t first, std::size_t count);
    void InsertInChunks(const std::string& table, const std::string& names, SQLHSTMT single,
                        const std::vector<TDbColumn>& columns, const std::vector<TDbRow>& rows,
                        TInsertOutcome& outcome);
    void Prepare(SQLHSTMT stmt, std::string text);

    SQLHDBC m_dbc = SQL_NULL_HDBC;
    TDbDialect m_dialect;
    int m_queryTimeout;
    std::atomic<bool> m_alive{true};
};

TOdbcSession::TOdbcSession(const TOdbcOptions& options)
    : m_dialect(options.Dialect), m_queryTimeout(options.QueryTimeoutSeconds) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, Environment(), &m_dbc)))
        throw EDatabaseError("The ODBC connection handle could not be allocated.");
    const auto login = static_cast<SQLULEN>(options.LoginTimeoutSeconds);
    SQLSetConnectAttr(m_dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(login), 0);
    SQLSetConnectAttr(m_dbc, SQL_ATTR_CONNECTION_TIMEOUT, reinterpret_cast<SQLPOINTER>(login), 0);
    std::string connect = options.ConnectString;
    const SQLRETURN rc =
        SQLDriverConnect(m_dbc, nullptr, reinterpret_cast<SQLCHAR*>(connect.data()),
                         static_cast<SQLSMALLINT>(connect.size()), nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        const Diagnostic d = DiagnosticOf(SQL_HANDLE_DBC, m_dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
        throw EDatabaseError(d.Message);
    }
    // The daemon writes its dates as month/day/year whatever the login's language says.
    if (m_dialect == TDbDialect::SqlServer) Run("SET DATEFORMAT mdy");
    // The PostgreSQL driver would send this before every statement if it were a statement attribute.
    if (m_dialect == TDbDialect::PostgreSQL) Run("SET statement_timeout = " + std::to_string(m_queryTimeout * 1000));
}

TOdbcSession::~TOdbcSession() {
    SQLDisconnect(m_dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
}

void TOdbcSession::Fail(SQLSMALLINT type, SQLHANDLE handle) {
    const Diagnostic d = DiagnosticOf(type, handle);
    SQLULEN dead = SQL_CD_FALSE;
    const bool known = SQL_SUCCEEDED(SQLGetConnectAttr(m_dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr));
    if (d.State.rfind("08", 0) == 0 || (known && dead == SQL_CD_TRUE)) m_alive = false;
    throw EDatabaseError(d.Message);
}

SQLHSTMT TOdbcSession::NewStatement(OdbcStatement& st) {
    if (st.Get() == SQL_NULL_HSTMT) {
        if (st.AllocationFailure().State.rfind("08", 0) == 0) m_alive = false;
        throw EDatabaseError(st.AllocationFailure().Message);
    }
    if (m_dialect != TDbDialect::PostgreSQL) { // PostgreSQL's is set once for the session
        const auto timeout = static_cast<SQLULEN>(m_queryTimeout);
        SQLSetStmtAttr(st.Get(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(timeout), 0);
    }
    return st.Get();
}

std::vector<OdbcColumn> TOdbcSession::DescribeResult(SQLHSTMT stmt) {
    SQLSMALLINT count = 0;
    Check(SQLNumResultCols(stmt, &count), SQL_HANDLE_STMT, stmt);
    std::vector<OdbcColumn> columns;
    for (SQLUSMALLINT i = 1; i <= count; ++i) {
        SQLCHAR name[256] = {0};
        SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        Check(SQLDescribeCol(stmt, i, name, sizeof name, &nameLength, &type, &size, &digits, &nullable),
              SQL_HANDLE_STMT, stmt);
        columns.push_back(
            {{reinterpret_cast<char*>(name), ClassOfSqlType(type)}, type == SQL_CHAR || type == SQL_WCHAR});
    }
    return columns;
}

std::string TOdbcSession::ReadText(SQLHSTMT stmt, SQLUSMALLINT index, bool& isNull) {
    std::string text;
    char buffer[512];
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(stmt, index, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
        if (rc == SQL_NO_DATA) break;
        Check(rc, SQL_HANDLE_STMT, stmt);
        if (indicator == SQL_NULL_DATA) {
            isNull = true;
            return {};
        }
        // More to come when the piece filled the buffer (its last byte is the terminating NUL).
        const bool partial = indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer);
        text.append(buffer, partial ? sizeof buffer - 1 : static_cast<std::size_t>(indicator));
        if (!partial) break;
    }
    isNull = false;
    return text;
}

Variant TOdbcSession::ReadValue(SQLHSTMT stmt, SQLUSMALLINT index, const OdbcColumn& column) {
    SQLLEN indicator = 0;
    switch (column.Column.Class) {
    case TFieldClass::Integer: {
        long long value = 0;
        Check(SQLGetData(stmt, index, SQL_C_SBIGINT, &value, sizeof value, &indicator), SQL_HANDLE_STMT, stmt);
        return indicator == SQL_NULL_DATA ? Variant() : Variant(value);
    }
    case TFieldClass::Float: {
        double value = 0;
        Check(SQLGetData(stmt, index, SQL_C_DOUBLE, &value, sizeof value, &indicator), SQL_HANDLE_STMT, stmt);
        return indicator == SQL_NULL_DATA ? Variant() : Variant(value);
    }
    case TFieldClass::Boolean: {
        unsigned char value = 0;
        Check(SQLGetData(stmt, index, SQL_C_BIT, &value, sizeof value, &indicator), SQL_HANDLE_STMT, stmt);
        return indicator == SQL_NULL_DATA ? Variant() : Variant(value != 0);
    }
    case TFieldClass::DateTime: {
        SQL_TIMESTAMP_STRUCT ts{};
        Check(SQLGetData(stmt, index, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, &indicator), SQL_HANDLE_STMT, stmt);
        if (indicator == SQL_NULL_DATA) return Variant();
        return Variant::FromDateTime(EncodeDateTime(ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second,
                                                    static_cast<int>(ts.fraction / 1000000)));
    }
    default: {
        bool isNull = false;
        std::string text = ReadText(stmt, index, isNull);
        if (isNull) return Variant();
        if (column.Padded) text.erase(text.find_last_not_of(' ') + 1);
        return Variant(std::move(text));
    }
    }
}

TDbRows TOdbcSession::ReadRows(SQLHSTMT stmt) {
    TDbRows rows;
    const std::vector<OdbcColumn> columns = DescribeResult(stmt);
    if (columns.empty()) return rows;
    for (const OdbcColumn& c : columns)
        rows.Columns.push_back(c.Column);
    for (;;) {
        const SQLRETURN rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA) break;
        Check(rc, SQL_HANDLE_STMT, stmt);
        TDbRow row;
        row.reserve(columns.size());
        for (std::size_t i = 0; i < columns.size(); ++i)
            row.push_back(ReadValue(stmt, static_cast<SQLUSMALLINT>(i + 1), columns[i]));
        rows.Rows.push_back(std::move(row));
    }
    return rows;
}

TDbRows TOdbcSession::Run(const std::string& sql) {
    OdbcStatement st(m_dbc);
    const SQLHSTMT stmt = NewStatement(st);
    std::string text = sql;
    Check(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size())),
          SQL_HANDLE_STMT, stmt);
    // The first result with columns is the statement's rows; later results (and their errors) are
    // read to the end so that nothing is left pending on the connection.
    TDbRows result;
    for (;;) {
        TDbRows rows = ReadRows(stmt);
        if (result.Columns.empty()) result = std::move(rows);
        const SQLRETURN rc = SQLMoreResults(stmt);
        if (rc == SQL_NO_DATA) break;
        Check(rc, SQL_HANDLE_STMT, stmt);
    }
    return result;
}

std::vector<TDbColumn> TOdbcSession::Describe(const std::string& table) {
    OdbcStatement st(m_dbc);
    const SQLHSTMT stmt = NewStatement(st);
    std::string text = "SELECT * FROM " + table + " ";
    Check(SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size())),
          SQL_HANDLE_STMT, stmt);
    std::vector<TDbColumn> columns;
    for (const OdbcColumn& c : DescribeResult(stmt))
        columns.push_back(c.Column);
    return columns;
}

void TOdbcSession::SetAutoCommit(bool on) {
    const auto value = static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF);
    Check(SQLSetConnectAttr(m_dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(value), 0), SQL_HANDLE_DBC, m_dbc);
}

void BindValue(const Variant& value, TFieldClass cls, BoundValue& b, SQLSMALLINT& cType, SQLSMALLINT& sqlType,
               SQLULEN& size, SQLPOINTER& data, SQLLEN& length) {
    b.Indicator = 0;
    switch (cls) {
    case TFieldClass::Integer:
        cType = SQL_C_SBIGINT, sqlType = SQL_INTEGER, size = 10, data = &b.Integer, length = sizeof b.Integer;
        if (!value.IsNull()) b.Integer = value.AsInteger();
        break;
    case TFieldClass::Float:
        cType = SQL_C_DOUBLE, sqlType = SQL_DOUBLE, size = 15, data = &b.Float, length = sizeof b.Float;
        if (!value.IsNull()) b.Float = value.AsFloat();
        break;
    case TFieldClass::Boolean:
        cType = SQL_C_BIT, sqlType = SQL_BIT, size = 1, data = &b.Bit, length = sizeof b.Bit;
        if (!value.IsNull()) b.Bit = value.AsBoolean() ? 1 : 0;
        break;
    case TFieldClass::DateTime: {
        cType = SQL_C_TYPE_TIMESTAMP, sqlType = SQL_TYPE_TIMESTAMP, size = 19, data = &b.Timestamp;
        length = sizeof b.Timestamp;
        if (value.IsNull()) break;
        const DateParts p = DecodeDateTime(value.AsDateTime());
        b.Timestamp = {static_cast<SQLSMALLINT>(p.year),
                       static_cast<SQLUSMALLINT>(p.month),
                       static_cast<SQLUSMALLINT>(p.day),
                       static_cast<SQLUSMALLINT>(p.hour),
                       static_cast<SQLUSMALLINT>(p.minute),
                       static_cast<SQLUSMALLINT>(p.second),
                       0};
        break;
    }
    default:
        if (!value.IsNull()) b.Text = value.AsString();
        cType = SQL_C_CHAR, sqlType = SQL_VARCHAR, size = b.Text.empty() ? 1 : b.Text.size();
        data = b.Text.data(), length = static_cast<SQLLEN>(b.Text.size());
        b.Indicator = static_cast<SQLLEN>(b.Text.size());
        break;
    }
    if (value.IsNull()) b.Indicator = SQL_NULL_DATA;
}

// Binds the row's values to the parameters from `firstParameter` on, kept in `values` (one per column).
void TOdbcSession::BindRow(SQLHSTMT stmt, const std::vector<TDbColumn>& columns, const TDbRow& row, BoundValue* values,
                           SQLUSMALLINT firstParameter) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
        SQLSMALLINT cType = 0, sqlType = 0;
        SQLULEN size = 0;
        SQLPOINTER data = nullptr;
        SQLLEN length = 0;
        BindValue(i < row.size() ? row[i] : Variant(), columns[i].Class, values[i], cType, sqlType, size, data, length);
        Check(SQLBindParameter(stmt, static_cast<SQLUSMALLINT>(firstParameter + i), SQL_PARAM_INPUT, cType, sqlType,
                               size, 0, data, length, &values[i].Indicator),
              SQL_HANDLE_STMT, stmt);
    }
}

// One row inside the batch's transaction, behind a savepoint so that a refused row leaves the
// transaction usable (PostgreSQL aborts a transaction on any error otherwise).
bool TOdbcSession::InsertOne(SQLHSTMT stmt, const std::vector<TDbColumn>& columns, const TDbRow& row,
                             std::string& error, bool& duplicate) {
    const bool postgres = m_dialect == TDbDialect::PostgreSQL;
    const bool savepoint = m_dialect != TDbDialect::OdbcDsn; // an unknown server runs each row on its own
    std::vector<BoundValue> values(columns.size());
    try {
        BindRow(stmt, columns, row, values.data(), 1);
    } catch (const Exception& e) { // a value that does not convert to its column's type
        error = e.Message();
        return false;
    }
    if (savepoint) Run(postgres ? "SAVEPOINT vkt_row" : "SAVE TRANSACTION vkt_row");
    const SQLRETURN rc = SQLExecute(stmt);
    if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) {
        if (postgres) Run("RELEASE SAVEPOINT vkt_row");
        return true;
    }
    const Diagnostic d = DiagnosticOf(SQL_HANDLE_STMT, stmt);
    if (!Alive() || d.State.rfind("08", 0) == 0) Fail(SQL_HANDLE_STMT, stmt);
    error = d.Message;
    duplicate = d.DuplicateKey();
    if (savepoint) Run(postgres ? "ROLLBACK TO SAVEPOINT vkt_row" : "ROLLBACK TRANSACTION vkt_row");
    return false;
}

void TOdbcSession::InsertAll(SQLHSTMT stmt, const std::vector<TDbColumn>& columns, const std::vector<TDbRow>& rows,
                             TInsertOutcome& outcome) {
    InsertOneByOne(stmt, columns, rows, 0, rows.size(), outcome);
}

void TOdbcSession::InsertOneByOne(SQLHSTMT stmt, const std::vector<TDbColumn>& columns, const std::vector<TDbRow>& rows,
                                  std::size_t first, std::size_t count, TInsertOutcome& outcome) {
    for (std::size_t r = first; r < first + count; ++r) {
        std::string error;
        bool duplicate = false;
        if (InsertOne(stmt, columns, rows[r], error, duplicate)) continue;
        outcome.Refuse(r, error, duplicate);
    }
}

// The rows [first, first + count) in one multi-row statement behind a savepoint. False, with the
// transaction as it was before, when the server refused it or a value did not convert: the caller
// then sends the rows one by one to tell the refused ones from the rest.
bool TOdbcSession::InsertChunk(SQLHSTMT stmt, const std::vector<TDbColumn>& columns, const std::vector<TDbRow>& rows,
                               std::size_t first, std::size_t count) {
    std::vector<BoundValue> values(count * columns.size());
    try {
        for (std::size_t r = 0; r < count; ++r)
            BindRow(stmt, columns, rows[first + r], values.data() + r * columns.size(),
                    static_cast<SQLUSMALLINT>(r * columns.size() + 1));
    } catch (const Exception&) {
        if (!Alive()) throw;
        return false;
    }
    Run("SAVEPOINT vkt_rows");
    const SQLRETURN rc = SQLExecute(stmt);
    if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) {
        Run("RELEASE SAVEPOINT vkt_rows");
        return true;
    }
    const Diagnostic d = DiagnosticOf(SQL_HANDLE_STMT, stmt);
    if (!Alive() || d.State.rfind("08", 0) == 0) Fail(SQL_HANDLE_STMT, stmt);
    Run("ROLLBACK TO SAVEPOINT vkt_rows");
    Run("RELEASE SAVEPOINT vkt_rows");
    return false;
}

void TOdbcSession::Prepare(SQLHSTMT stmt, std::string text) {
    Check(SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size())),
          SQL_HANDLE_STMT, stmt);
}

// Sends the rows in multi-row statements of up to kChunkRows rows; a chunk the server refuses goes
// again row by row through `single`, so each refused row is counted and the others still go in.
void TOdbcSession::InsertInChunks(const std::string& table, const std::string& names, SQLHSTMT single,
                                  const std::vector<TDbColumn>& columns, const std::vector<TDbRow>& rows,
                                  TInsertOutcome& outcome) {
    // A server takes only so many parameters in one statement.
    constexpr std::size_t kChunkRows = 500, kChunkParameters = 2000;
    const std::size_t perChunk = std::max<std::size_t>(1, std::min(kChunkRows, kChunkParameters / columns.size()));
    std::string marks = "(?";
    for (std::size_t i = 1; i < columns.size(); ++i)
        marks += ", ?";
    marks += ")";
    auto statementFor = [&](std::size_t count) {
        std::string text = "INSERT INTO " + table + " (" + names + ") VALUES " + marks;
        for (std::size_t r = 1; r < count; ++r)
            text += ", " + marks;
        return text;
    };
    OdbcStatement chunk(m_dbc);
    const SQLHSTMT stmt = NewStatement(chunk);
    std::size_t prepared = 0; // the row count the chunk statement is prepared for
    for (std::size_t first = 0; first < rows.size();) {
        const std::size_t count = std::min(perChunk, rows.size() - first);
        bool written = false;
        if (count > 1) {
            if (prepared != count) {
                SQLFreeStmt(stmt, SQL_RESET_PARAMS);
                Prepare(stmt, statementFor(count));
                prepared = count;
            }
            written = InsertChunk(stmt, columns, rows, first, count);
        }
        if (!written) InsertOneByOne(single, columns, rows, first, count, outcome);
        first += count;
    }
}

TInsertOutcome TOdbcSession::InsertRows(const std::string& table, const std::vector<TDbColumn>& columns,
                                        const std::vector<TDbRow>& rows) {
    std::string names, marks;
    for (const TDbColumn& column : columns) {
        names += (names.empty() ? "" : ", ") + column.Name;
        marks += marks.empty() ? "?" : ", ?";
    }
    OdbcStatement st(m_dbc);
    const SQLHSTMT stmt = NewStatement(st);
    Prepare(stmt, "INSERT INTO " + table + " (" + names + ") VALUES (" + marks + ")");
    TInsertOutcome outcome;
    if (m_dialect == TDbDialect::OdbcDsn) {
        InsertAll(stmt, columns, rows, outcome);
        return outcome;
    }
    SetAutoCommit(false);
    try {
        // PostgreSQL takes many rows per statement; the others get one statement per row.
        if (m_dialect == TDbDialect::PostgreSQL && !columns.empty())
            InsertInChunks(table, names, stmt, columns, rows, outcome);
        else
            InsertAll(stmt, columns, rows, outcome);
        Check(SQLEndTran(SQL_HANDLE_DBC, m_dbc, SQL_COMMIT), SQL_HANDLE_DBC, m_dbc);
    } catch (...) {
        SQLEndTran(SQL_HANDLE_DBC, m_dbc, SQL_ROLLBACK);
        SQLSetConnectAttr(m_dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
        throw;
    }
    SetAutoCommit(true);
    return outcome;
}

bool TOdbcSession::TableExists(const std::string& table) {
    // The servers we know are asked the way their statements resolve the name: the search path of
    // PostgreSQL (folded to lower case), the dbo schema of SQL Server. No table right is needed.
    if (m_dialect == TDbDialect::PostgreSQL)
        return !Run("SELECT 1 AS found WHERE to_regclass(" + SQLLiteral(table) + ") IS NOT NULL").Rows.empty();
    if (m_dialect == TDbDialect::SqlServer)
        return !Run("SELECT 1 AS found WHERE OBJECT_ID(" + SQLLiteral("dbo." + table) + ", 'U') IS NOT NULL")
                    .Rows.empty();
    OdbcStatement st(m_dbc);
    const SQLHSTMT stmt = NewStatement(st);
    std::string name = table;
    std::string kind = "TABLE";
    Check(SQLTables(stmt, nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(name.data()),
                    static_cast<SQLSMALLINT>(name.size()), reinterpret_cast<SQLCHAR*>(kind.data()),
                    static_cast<SQLSMALLINT>(kind.size())),
          SQL_HANDLE_STMT, stmt);
    return !ReadRows(stmt).Rows.empty();
}

} // namespace

std::unique_ptr<TDbSession> OpenOdbcSession(const TOdbcOptions& options) {
    return std::make_unique<TOdbcSession>(options);
}

namespace {

int FindDriverManager(dl_phdr_info* info, size_t, void* data) {
    const std::string name = info->dlpi_name ? info->dlpi_name : "";
    if (name.find("/libodbc.so") == std::string::npos) return 0;
    *static_cast<std::string*>(data) = name.substr(0, name.rfind('/'));
    return 1;
}

} // namespace

std::string OdbcDriverFor(TDbDialect dialect) {
    const bool postgres = dialect == TDbDialect::PostgreSQL;
    const std::string file = postgres ? "psqlodbca.so" : "libtdsodbc.so";
    std::string dir;
    dl_iterate_phdr(FindDriverManager, &dir);
    if (!dir.empty())
        for (const std::string& base : {dir + "/odbc/", dir + "/"})
            if (access((base + file).c_str(), R_OK) == 0) return base + file;
    return postgres ? "PostgreSQL ANSI" : "FreeTDS";
}

#if defined(__SANITIZE_ADDRESS__)
// The ODBC driver manager and the drivers keep a few small allocations to the end of the process
// (per-process caches of the dlopen-ed drivers) that nothing can free; they are not ours to report.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libodbc.so\nleak:libodbcinst.so\nleak:psqlodbca.so\nleak:psqlodbcw.so\nleak:libtdsodbc.so\n";
}
#endif
