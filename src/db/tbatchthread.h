// The worker that sends a restore's pending records to the database in one batch update, so the
// user-interface thread keeps serving its loop while the database works.
#pragma once

#include "db/dbaccess.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>

class TBatchThread {
public:
    /// Starts the batch update of `dataset` (not owned; left alone by the caller until Done()).
    /// `onDone` runs on the worker after the done flag is set (it wakes the waiting loop).
    explicit TBatchThread(TDbBatchSet& dataset, std::function<void()> onDone = {});
    /// Waits for the worker to end.
    ~TBatchThread();
    TBatchThread(const TBatchThread&) = delete;
    TBatchThread& operator=(const TBatchThread&) = delete;

    /// Blocks until the worker has ended (the caller's loop has already seen Done(), normally).
    void WaitFor();
    bool Done() const { return m_done.load(std::memory_order_acquire); }
    /// The records the batch update did not write; read it only once Done() is true.
    std::size_t RecordsNotWritten() const { return m_notWritten; }
    /// The database's message for the first refused record (empty when all were written).
    const std::string& ErrorText() const { return m_error; }

private:
    void Execute();

    TDbBatchSet& m_dataset;
    std::function<void()> m_onDone;
    std::size_t m_notWritten = 0;
    std::string m_error;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};
