// The group's site rows for the board, read on a thread of its own over a connection of its own: at a
// million sites the read takes many seconds, during which the scan, a takeover of a dead member's
// sites and the next scan at its interval go on as ever.
#pragma once

#include "scan/siterowreader.h"

#include <atomic>
#include <exception>
#include <memory>
#include <string>
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
    /// Waits a few seconds for a read still under way, then leaves it to end on its own: a daemon that
    /// stops is not held by a slow server.
    ~GroupRowsRead();
    GroupRowsRead(const GroupRowsRead&) = delete;
    GroupRowsRead& operator=(const GroupRowsRead&) = delete;

    bool Done() const { return m_state->Done.load(); }
    /// The rows once Done; raises what failed the read (the connection or the statement).
    std::vector<ScanRow> Take();

private:
    /// Shared with the thread, which may outlive this object.
    struct State {
        Source From;
        std::vector<ScanRow> Rows;
        std::exception_ptr Failure;
        std::atomic<bool> Done{false};
    };
    static void Run(const std::shared_ptr<State>& state);

    std::shared_ptr<State> m_state;
};
