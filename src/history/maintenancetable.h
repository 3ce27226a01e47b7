// Table maintenance: the windows of every Daemon ID, made and ended early from the status page. The
// table is made the first time a window is stored; while it is missing there is no window.
#pragma once

#include "db/dbaccess.h"
#include "history/maintenance.h"
#include "history/maintenancebook.h"

#include <string>
#include <vector>

class MaintenanceTable {
public:
    /// Every statement on `query`.
    explicit MaintenanceTable(TDbQuery& query) : m_q(query) {}

    /// The statements that make the table and its index.
    static const std::vector<std::string>& Ddl();

    /// The windows of the Daemon ID; none while the table is missing. Errors are raised.
    std::vector<MaintenanceWindow> Load(const std::string& daemonId);
    /// Stores a new window of the Daemon ID, making the table when it is missing.
    void Insert(const std::string& daemonId, const MaintenanceWindow& window);
    /// Ends the window early at `when`, unless it has ended already (or the table is missing).
    void EndEarly(const std::string& daemonId, long long id, long long when);

private:
    TDbQuery& m_q;
};

/// What the book stores through: a window made is inserted, one ended early updated, on `query` (the
/// caller's own connection) under the Daemon ID.
MaintenanceBook::Store TableStore(TDbQuery& query, const std::string& daemonId);
