// The board's read of the group's rows, on its own thread.
#include "scan/grouprowsread.h"

#include "db/dbaccess.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

/// How long the read may take: it holds nothing up, and a member on a busy host reads slowly.
constexpr int LeastSeconds = 600;
/// How long a daemon that stops waits for a read under way.
constexpr auto StopWait = std::chrono::seconds(5);

} // namespace

GroupRowsRead::GroupRowsRead(Source source) : m_state(std::make_shared<State>()) {
    m_state->From = std::move(source);
    std::thread([state = m_state] { Run(state); }).detach();
}

GroupRowsRead::~GroupRowsRead() {
    for (const auto end = std::chrono::steady_clock::now() + StopWait;
         !Done() && std::chrono::steady_clock::now() < end;)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

std::vector<ScanRow> GroupRowsRead::Take() {
    if (!Done()) throw std::logic_error("the group's rows are still being read");
    if (m_state->Failure) std::rethrow_exception(m_state->Failure);
    return std::move(m_state->Rows);
}

void GroupRowsRead::Run(const std::shared_ptr<State>& state) {
    // The probes' replies and the heartbeat come first on a busy host: the board can wait a moment.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
    try {
        TDbConnection connection;
        connection.ConnectionString = state->From.ConnectionString;
        connection.ConnectionTimeout = state->From.ConnectionTimeout;
        connection.CommandTimeout = std::max(state->From.CommandTimeout, LeastSeconds);
        connection.Open();
        TDbQuery query(connection);
        std::exception_ptr failed;
        SiteRowReader reader(query,
                             [&](const std::string&, const std::exception&) { failed = std::current_exception(); });
        if (!reader.ReadGroup(state->From.DaemonId, state->Rows)) {
            state->Rows.clear();
            state->Failure = failed ? failed : std::make_exception_ptr(std::runtime_error("the read failed"));
        }
    } catch (...) {
        state->Failure = std::current_exception();
    }
    state->Done = true;
}
