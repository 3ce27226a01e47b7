// The API's own database connection: the listener's threads must not share the scan's, so the API
// opens one of its own from the same settings and lets one request use it at a time.
#pragma once

#include "db/dbaccess.h"

#include <mutex>
#include <string>

class TApiDatabase {
public:
    TApiDatabase(std::string connectionString, TDbDialect dialect);

    /// Runs `work(query)` alone on the connection, opening it first when it is closed or broken;
    /// errors reach the caller (EDatabaseError when the database cannot be reached).
    template <typename Work> auto With(Work work) {
        std::lock_guard<std::mutex> lock(m_lock);
        Connect();
        return work(m_query);
    }
    TDbDialect Dialect() const { return m_dialect; }

private:
    void Connect();

    std::mutex m_lock;
    TDbConnection m_connection;
    TDbQuery m_query{m_connection};
    TDbDialect m_dialect;
};
