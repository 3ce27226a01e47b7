// Console controller: probing one site address with a worker while the message loop keeps running.
#include "daemon/activitylog.h"
#include "daemon/icmp.h"
#include "daemon/tfrmmain.h"
#include "platform/msgloop.h"

#include <chrono>

namespace {

/// How long the console waits for a probe before counting the site as not answering: more than 20 whole
/// seconds. The probe's own time-out (4 s) normally ends it long before; a stuck name lookup does not.
constexpr std::chrono::milliseconds PingGuard{21000};

/// Waits for the worker while timers, posted jobs and sockets keep being served. The worker wakes the
/// loop when it ends, so nothing spins.
bool WaitForProbe(const TPingThread& worker) {
    return MainLoop().WaitUntil([&] { return !worker.Running() || worker.Failed(); }, PingGuard);
}

/// A worker past the guard is still freed only after its thread has ended; meanwhile the loop keeps
/// running, so the console never freezes on a stuck probe.
void WaitForThreadEnd(const TPingThread& worker) {
    while (!MainLoop().WaitUntil([&] { return !worker.Running(); }, PingGuard)) {
    }
}

} // namespace

bool TfrmMain::PingSite(const std::string& address, int& rtt) {
    try {
        TPingThread worker(address, [] { MainLoop().Wake(); });
        WaitForProbe(worker);
        if (worker.Failed()) WritePaneLine(worker.ErrorText());
        bool answered = worker.Status() == TPingThread::Answered;
        if (answered) rtt = worker.RoundTripTime();
        WaitForThreadEnd(worker);
        return answered;
    } catch (const std::exception& e) {
        WriteLog("ERROR", std::string("Exception during ICMP send echo.") + e.what());
        return false;
    }
}
