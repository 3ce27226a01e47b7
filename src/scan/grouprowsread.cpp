// The board's read of the group's rows, on its own thread.
#include "scan/grouprowsread.h"

#include "db/dbaccess.h"

#include <stdexcept>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

GroupRowsRead::GroupRowsRead(Source source) : m_source(std::move(source)), m_thread([this] { Run(); }) {}

GroupRowsRead::~GroupRowsRead() {
    m_thread.join();
}

std::vector<ScanRow> GroupRowsRead::Take() {
    if (!m_done) throw std::logic_error("the group's rows are still being read");
    if (m_failure) std::rethrow_exception(m_failure);
    return std::move(m_rows);
}

void GroupRowsRead::Run() {
    // The probes' replies and the heartbeat come first on a busy host: the board can wait a moment.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
    try {
        TDbConnection connection;
        connection.ConnectionString = m_source.ConnectionString;
        connection.ConnectionTimeout = m_source.ConnectionTimeout;
        connection.CommandTimeout = m_source.CommandTimeout;
        connection.Open();
        TDbQuery query(connection);
        std::exception_ptr failed;
        SiteRowReader reader(query,
                             [&](const std::string&, const std::exception&) { failed = std::current_exception(); });
        if (!reader.ReadGroup(m_source.DaemonId, m_rows)) {
            m_rows.clear();
            m_failure = failed ? failed : std::make_exception_ptr(std::runtime_error("the read failed"));
        }
    } catch (...) {
        m_failure = std::current_exception();
    }
    m_done = true;
}
