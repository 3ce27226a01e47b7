// What every message loop implementation shares: the run-and-wait hand-over and the error
// reporting hook.
#include "platform/msgloop.h"

#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>

namespace {
std::mutex g_reporterLock;
LoopErrorReporter g_reporter;
} // namespace

LoopErrorReporter SetLoopErrorReporter(LoopErrorReporter reporter) {
    std::lock_guard<std::mutex> guard(g_reporterLock);
    std::swap(g_reporter, reporter);
    return reporter;
}

void ReportLoopException() noexcept {
    std::string message;
    try {
        throw;
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
        message = "Unknown exception";
    }
    LoopErrorReporter reporter;
    {
        std::lock_guard<std::mutex> guard(g_reporterLock);
        reporter = g_reporter;
    }
    try {
        if (reporter) {
            reporter(message);
            return;
        }
    } catch (...) {
        // A reporter that fails falls back to stderr below.
    }
    std::fprintf(stderr, "vkt: %s\n", message.c_str());
}

void MessageLoop::RunHere(Job job) {
    if (IsLoopThread()) {
        job();
        return;
    }
    struct Handover {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
        std::exception_ptr error;
    };
    auto h = std::make_shared<Handover>();
    Post([h, job = std::move(job)] {
        try {
            job();
        } catch (...) {
            h->error = std::current_exception();
        }
        std::lock_guard<std::mutex> guard(h->lock);
        h->finished = true;
        h->done.notify_all();
    });
    std::unique_lock<std::mutex> guard(h->lock);
    h->done.wait(guard, [&] { return h->finished; });
    if (h->error) std::rethrow_exception(h->error);
}
