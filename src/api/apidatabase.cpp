// TApiDatabase: the connection is opened when first needed and again after it broke.
#include "api/apidatabase.h"

TApiDatabase::TApiDatabase(std::string connectionString, TDbDialect dialect) : m_dialect(dialect) {
    m_connection.ConnectionString = std::move(connectionString);
}

void TApiDatabase::Connect() {
    if (!m_connection.Connected()) m_connection.Open();
}
