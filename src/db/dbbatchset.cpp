// The batch row set of a restore: records kept on the client until one batch sends them all.
#include "db/dbaccess.h"
#include "db/dbsession.h"

#include "platform/strutil.h"

namespace {

// The table name goes into statement text, so it must be a plain identifier.
bool IsIdentifier(const std::string& name) {
    if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
    return true;
}

// A value as its column's type holds it; EConvertError when it does not convert. A value that
// already has the column's type is kept as it is.
Variant AsColumnValue(Variant value, TFieldClass cls) {
    if (value.IsNull()) return value;
    switch (cls) {
    case TFieldClass::Text:
        return value.Type() == VarType::String ? std::move(value) : Variant(value.AsString());
    case TFieldClass::Integer:
        return value.Type() == VarType::Integer ? std::move(value) : Variant(value.AsInteger());
    case TFieldClass::Float:
        return value.Type() == VarType::Float ? std::move(value) : Variant(value.AsFloat());
    case TFieldClass::DateTime:
        return value.Type() == VarType::DateTime ? std::move(value) : Variant::FromDateTime(value.AsDateTime());
    case TFieldClass::Boolean:
        return value.Type() == VarType::Boolean ? std::move(value) : Variant(value.AsBoolean());
    case TFieldClass::Other:
        break;
    }
    return value;
}

} // namespace

void TDbBatchSet::Open(const std::string& table) {
    Close();
    if (!IsIdentifier(table)) throw EArgumentError("Not a table name: \"" + table + "\"");
    m_columns = m_connection->Session().Describe(table);
    m_table = table;
    m_active = true;
}

void TDbBatchSet::Close() {
    m_active = false;
    m_columns.clear();
    m_pending.clear();
    m_refusals.clear();
    m_editing.reset();
}

TDbRow& TDbBatchSet::Editing() {
    if (!m_editing) throw EDatabaseError("Dataset not in edit or insert mode.");
    return *m_editing;
}

void TDbBatchSet::Append() {
    if (!m_active) throw EDatabaseError("Dataset is closed.");
    Post();
    m_editing = std::make_unique<TDbRow>(m_columns.size());
}

void TDbBatchSet::SetValue(std::size_t column, Variant value) {
    TDbRow& row = Editing();
    if (column >= row.size()) throw EDatabaseError("Column index out of range.");
    row[column] = AsColumnValue(std::move(value), m_columns[column].Class);
}

void TDbBatchSet::SetValue(const std::string& column, Variant value) {
    for (std::size_t i = 0; i < m_columns.size(); ++i)
        if (SameText(m_columns[i].Name, column)) return SetValue(i, std::move(value));
    throw EDatabaseError("Field '" + column + "' not found.");
}

void TDbBatchSet::Post() {
    if (!m_editing) return;
    m_pending.push_back(std::move(*m_editing));
    m_editing.reset();
}

void TDbBatchSet::Cancel() {
    m_editing.reset();
}

void TDbBatchSet::UpdateBatch() {
    Post();
    m_refusals.clear();
    if (m_pending.empty()) return;
    TInsertOutcome outcome = m_connection->Session().InsertRows(m_table, m_columns, m_pending);
    std::vector<TDbRow> refused;
    for (const TRefusedRow& row : outcome.Refused)
        refused.push_back(std::move(m_pending[row.Row]));
    m_pending = std::move(refused);
    m_refusals = std::move(outcome.Refused);
    if (!m_pending.empty()) throw EDatabaseError(m_refusals.front().Reason);
}
