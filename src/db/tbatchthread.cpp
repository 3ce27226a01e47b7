// The restore's batch update on its own thread.
#include "db/tbatchthread.h"

TBatchThread::TBatchThread(TDbBatchSet& dataset, std::function<void()> onDone)
    : m_dataset(dataset), m_onDone(std::move(onDone)) {
    // Started last, once every member the body reads is in place.
    m_thread = std::thread([this] { Execute(); });
}

TBatchThread::~TBatchThread() {
    WaitFor();
}

void TBatchThread::WaitFor() {
    if (m_thread.joinable()) m_thread.join();
}

void TBatchThread::Execute() {
    try {
        m_dataset.UpdateBatch();
    } catch (const std::exception& e) {
        // The records that are still pending are the ones the database refused (or never saw).
        m_notWritten = m_dataset.PendingCount();
        m_error = e.what();
    }
    m_done.store(true, std::memory_order_release);
    if (m_onDone) m_onDone();
}
