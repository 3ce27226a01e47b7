// The loop's error reporting hook, shared by every message loop implementation.
#include "platform/msgloop.h"

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
