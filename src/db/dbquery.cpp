// Statement objects: the text as lines, the rows read at once, fields by name.
#include "db/dbaccess.h"
#include "db/dbsession.h"

#include "platform/strutil.h"

std::string SQLLiteral(const std::string& value) {
    if (value.find('\0') != std::string::npos)
        throw EArgumentError("A text value for a statement contains a NUL character.");
    std::string out = "'";
    for (char c : value) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

std::string TSQLText::Text() const {
    std::string text;
    for (const std::string& line : m_lines)
        text += (text.empty() ? "" : "\n") + line;
    return text;
}

void TDbQuery::Open() {
    Run(true);
}

void TDbQuery::ExecSQL() {
    Run(false);
}

void TDbQuery::Close() {
    m_active = false;
    m_rows = TDbRows();
    m_columnIndex.clear();
    m_position = 0;
}

void TDbQuery::Run(bool keepRows) {
    Close();
    TDbRows rows = m_connection->Session().Run(SQL.Text());
    if (!keepRows) return;
    m_rows = std::move(rows);
    for (std::size_t i = 0; i < m_rows.Columns.size(); ++i)
        m_columnIndex.emplace(LowerCase(m_rows.Columns[i].Name), i); // the first of equal names counts
    m_active = true;
}

void TDbQuery::Next() {
    if (!Eof()) ++m_position;
}

const TDbRow& TDbQuery::CurrentRow() const {
    if (!m_active) throw EDatabaseError("Dataset is closed.");
    if (Eof()) throw EDatabaseError("No current record.");
    return m_rows.Rows[m_position];
}

const Variant* TDbQuery::FindField(const std::string& name) const {
    const TDbRow& row = CurrentRow();
    const auto it = m_columnIndex.find(LowerCase(name));
    return it == m_columnIndex.end() ? nullptr : &row[it->second];
}

const Variant& TDbQuery::FieldByName(const std::string& name) const {
    const Variant* value = FindField(name);
    if (value == nullptr) throw EDatabaseError("Field '" + name + "' not found.");
    return *value;
}

const Variant& TDbQuery::Value(std::size_t index) const {
    const TDbRow& row = CurrentRow();
    if (index >= row.size()) throw EDatabaseError("Column index out of range.");
    return row[index];
}
