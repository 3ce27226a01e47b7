// The group's site rows for the board, read on a thread of its own over a connection of its own: at a
// million sites the read takes many seconds, during which the scan, a takeover of a dead member's
// sites and the next scan at its interval go on as ever.
#pragma once

#include "scan/siterowreader.h"

#include <atomic>
#include <exception>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class GroupRowsRead {
public:
    struct Source {
        std::string ConnectionString;
        int ConnectionTimeout = 3;
        int CommandTimeout = 30;
        std::string DaemonId;
    };

    /// Starts reading at once.
    explicit GroupRowsRead(Source source);
    /// Waits for the read to end (a command time-out bounds it).
    ~GroupRowsRead();
    GroupRowsRead(const GroupRowsRead&) = delete;
    GroupRowsRead& operator=(const GroupRowsRead&) = delete;

    bool Done() const { return m_done.load(); }
    /// The rows once Done; raises what failed the read (the connection or the statement).
    std::vector<ScanRow> Take();

private:
    void Run();

    const Source m_source;
    std::vector<ScanRow> m_rows;
    std::exception_ptr m_failure;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};
