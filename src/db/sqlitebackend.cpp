// The embedded database: one SQLite file shared by the daemons and the data utilities of a machine
// (write-ahead log and a busy time-out, so several processes use it at once).
#include "db/dbsession.h"
#include "db/sqlitecollation.h"

#include "platform/datetime.h"
#include "platform/strutil.h"

#include <sqlite3.h>

#include <sys/stat.h>

#include <cstdio>
#include <string_view>

namespace {

// A writer waits this long for another process's write to finish before the statement fails.
constexpr int kBusyTimeoutMs = 5000;

TFieldClass ClassOfDeclaredType(const char* declared) {
    if (declared == nullptr) return TFieldClass::Other;
    const std::string t = UpperCase(declared);
    auto has = [&t](const char* part) { return t.find(part) != std::string::npos; };
    if (has("DATE") || has("TIME")) return TFieldClass::DateTime;
    if (has("INT")) return TFieldClass::Integer;
    if (has("CHAR") || has("CLOB") || has("TEXT")) return TFieldClass::Text;
    if (has("REAL") || has("FLOA") || has("DOUB") || has("NUMERIC") || has("DECIMAL") || has("MONEY"))
        return TFieldClass::Float;
    if (has("BOOL") || t == "BIT") return TFieldClass::Boolean;
    return TFieldClass::Other;
}

// The class of an expression column (no declared type), from the first value it holds.
TFieldClass ClassOfStorage(int storage) {
    switch (storage) {
    case SQLITE_INTEGER:
        return TFieldClass::Integer;
    case SQLITE_FLOAT:
        return TFieldClass::Float;
    case SQLITE_TEXT:
        return TFieldClass::Text;
    default:
        return TFieldClass::Other;
    }
}

std::string TextOf(sqlite3_stmt* st, int i) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(st, i))) : std::string();
}

Variant ColumnDateValue(sqlite3_stmt* st, int i, int storage) {
    if (storage != SQLITE_TEXT) return Variant::FromDateTime(sqlite3_column_double(st, i));
    const auto* chars = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
    const std::string_view text(chars ? chars : "", static_cast<std::size_t>(sqlite3_column_bytes(st, i)));
    TSqlDate d;
    if (!ParseSqlDate(text, d)) return Variant(std::string(text));
    try {
        return Variant::FromDateTime(EncodeDateTime(d.Year, d.Month, d.Day, d.Hour, d.Minute, d.Second));
    } catch (const EConvertError&) {
        return Variant(std::string(text)); // a date the program cannot represent reads as its text
    }
}

Variant ValueOf(sqlite3_stmt* st, int i, TFieldClass cls) {
    const int storage = sqlite3_column_type(st, i);
    if (storage == SQLITE_NULL) return Variant();
    if (cls == TFieldClass::DateTime) return ColumnDateValue(st, i, storage);
    if (cls == TFieldClass::Boolean && storage == SQLITE_INTEGER) return Variant(sqlite3_column_int64(st, i) != 0);
    switch (storage) {
    case SQLITE_INTEGER:
        return Variant(static_cast<long long>(sqlite3_column_int64(st, i)));
    case SQLITE_FLOAT:
        return Variant(sqlite3_column_double(st, i));
    default:
        return Variant(TextOf(st, i));
    }
}

// Finalizes a statement on every path.
class Statement {
public:
    Statement() = default;
    ~Statement() { sqlite3_finalize(m_st); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt** Out() { return &m_st; }
    sqlite3_stmt* Get() const { return m_st; }

private:
    sqlite3_stmt* m_st = nullptr;
};

class TSqliteSession : public TDbSession {
public:
    explicit TSqliteSession(const std::string& path);
    ~TSqliteSession() override;

    TDbRows Run(const std::string& sql) override;
    std::vector<TDbColumn> Describe(const std::string& table) override;
    TInsertOutcome InsertRows(const std::string& table, const std::vector<TDbColumn>& columns,
                              const std::vector<TDbRow>& rows) override;
    bool TableExists(const std::string& table) override;
    bool Alive() const override;

private:
    [[noreturn]] void Fail() const { throw EDatabaseError(sqlite3_errmsg(m_db)); }
    void Prepare(const std::string& sql, Statement& st) const;
    TDbRows ReadAll(sqlite3_stmt* st) const;
    void Bind(sqlite3_stmt* st, int index, const Variant& value) const;
    void InsertEach(sqlite3_stmt* st, const std::vector<TDbRow>& rows, TInsertOutcome& outcome) const;

    sqlite3* m_db = nullptr;
    // The identity of the file as opened: a file deleted or replaced under the open connection
    // would otherwise take every later write into an inode no other process ever sees.
    std::string m_path;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

TSqliteSession::TSqliteSession(const std::string& path) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close_v2(m_db);
        throw EDatabaseError(message + ": " + path);
    }
    try {
        sqlite3_extended_result_codes(m_db, 1);
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        RegisterCollations(m_db);
        Run("PRAGMA journal_mode = WAL");
        Run("PRAGMA synchronous = NORMAL");
        // The full path as SQLite resolved it; empty for a database in memory, which cannot go away.
        const char* file = sqlite3_db_filename(m_db, "main");
        m_path = file ? file : "";
        struct stat st {};
        if (!m_path.empty() && ::stat(m_path.c_str(), &st) != 0)
            throw EDatabaseError("The database file vanished as it was opened: " + path);
        m_device = st.st_dev;
        m_inode = st.st_ino;
    } catch (...) {
        sqlite3_close_v2(m_db);
        throw;
    }
}

TSqliteSession::~TSqliteSession() {
    // Closing does not checkpoint a file that was moved or deleted, and its write-ahead log would stay
    // at the path, where the next open replays it into whatever file is there now: empty it first.
    if (!Alive()) sqlite3_exec(m_db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    sqlite3_close_v2(m_db);
}

bool TSqliteSession::Alive() const {
    if (m_path.empty()) return true;
    struct stat st {};
    return ::stat(m_path.c_str(), &st) == 0 && st.st_dev == m_device && st.st_ino == m_inode;
}

void TSqliteSession::Prepare(const std::string& sql, Statement& st) const {
    if (sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()), st.Out(), nullptr) != SQLITE_OK) Fail();
}

TDbRows TSqliteSession::Run(const std::string& sql) {
    TDbRows result;
    const char* next = sql.c_str();
    const char* end = next + sql.size();
    while (next < end) {
        Statement st;
        const char* tail = nullptr;
        if (sqlite3_prepare_v2(m_db, next, static_cast<int>(end - next), st.Out(), &tail) != SQLITE_OK) Fail();
        if (tail == next) break;
        next = tail;
        if (st.Get() == nullptr) continue; // only blanks or a comment
        TDbRows rows = ReadAll(st.Get());
        if (!rows.Columns.empty()) result = std::move(rows);
    }
    return result;
}

TDbRows TSqliteSession::ReadAll(sqlite3_stmt* st) const {
    TDbRows rows;
    const int count = sqlite3_column_count(st);
    for (int i = 0; i < count; ++i)
        rows.Columns.push_back({sqlite3_column_name(st, i), ClassOfDeclaredType(sqlite3_column_decltype(st, i))});
    for (;;) {
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_DONE) return rows;
        if (rc != SQLITE_ROW) Fail();
        TDbRow row;
        row.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            TDbColumn& column = rows.Columns[static_cast<std::size_t>(i)];
            if (rows.Rows.empty() && sqlite3_column_decltype(st, i) == nullptr)
                column.Class = ClassOfStorage(sqlite3_column_type(st, i));
            row.push_back(ValueOf(st, i, column.Class));
        }
        rows.Rows.push_back(std::move(row));
    }
}

std::vector<TDbColumn> TSqliteSession::Describe(const std::string& table) {
    Statement st;
    Prepare("SELECT * FROM " + table + " ", st);
    std::vector<TDbColumn> columns;
    for (int i = 0; i < sqlite3_column_count(st.Get()); ++i)
        columns.push_back(
            {sqlite3_column_name(st.Get(), i), ClassOfDeclaredType(sqlite3_column_decltype(st.Get(), i))});
    return columns;
}

void TSqliteSession::Bind(sqlite3_stmt* st, int index, const Variant& value) const {
    int rc = SQLITE_OK;
    switch (value.Type()) {
    case VarType::Null:
        rc = sqlite3_bind_null(st, index);
        break;
    case VarType::Integer:
    case VarType::Boolean:
        rc = sqlite3_bind_int64(st, index, value.Type() == VarType::Boolean ? value.AsBoolean() : value.AsInteger());
        break;
    case VarType::Float:
        rc = sqlite3_bind_double(st, index, value.AsFloat());
        break;
    case VarType::DateTime: {
        std::string text;
        AppendDateTime(text, value.AsDateTime(), false);
        rc = sqlite3_bind_text(st, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        break;
    }
    case VarType::String: {
        // The row outlives the statement's step, so the text is not copied.
        const std::string& text = *value.IfString();
        rc = sqlite3_bind_text(st, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
        break;
    }
    }
    if (rc != SQLITE_OK) Fail();
}

void TSqliteSession::InsertEach(sqlite3_stmt* st, const std::vector<TDbRow>& rows, TInsertOutcome& outcome) const {
    for (std::size_t r = 0; r < rows.size(); ++r) {
        sqlite3_reset(st);
        for (std::size_t c = 0; c < rows[r].size(); ++c)
            Bind(st, static_cast<int>(c + 1), rows[r][c]);
        if (sqlite3_step(st) == SQLITE_DONE) continue;
        // A refused row: the statement is rolled back on its own, the transaction goes on.
        const int code = sqlite3_extended_errcode(m_db);
        outcome.Refuse(r, sqlite3_errmsg(m_db),
                       code == SQLITE_CONSTRAINT_UNIQUE || code == SQLITE_CONSTRAINT_PRIMARYKEY);
    }
}

TInsertOutcome TSqliteSession::InsertRows(const std::string& table, const std::vector<TDbColumn>& columns,
                                          const std::vector<TDbRow>& rows) {
    std::string names, marks;
    for (const TDbColumn& column : columns) {
        names += (names.empty() ? "\"" : ", \"") + column.Name + "\"";
        marks += marks.empty() ? "?" : ", ?";
    }
    TInsertOutcome outcome;
    Run("BEGIN IMMEDIATE");
    try {
        Statement st;
        Prepare("INSERT INTO " + table + " (" + names + ") VALUES (" + marks + ")", st);
        InsertEach(st.Get(), rows, outcome);
    } catch (...) {
        Run("ROLLBACK");
        throw;
    }
    Run("COMMIT");
    return outcome;
}

bool TSqliteSession::TableExists(const std::string& table) {
    Statement st;
    Prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE", st);
    sqlite3_bind_text(st.Get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(st.Get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail();
    return rc == SQLITE_ROW;
}

} // namespace

std::unique_ptr<TDbSession> OpenSqliteSession(const std::string& path) {
    return std::make_unique<TSqliteSession>(path);
}
