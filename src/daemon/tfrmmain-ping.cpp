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

/// Why a finished probe got no answer, in a few words for the status page.
std::string NoAnswerCause(int lastError) {
    switch (lastError) {
    case 11010:
        return "timed out";
    case 11018:
        return "address not resolvable";
    case 11002:
    case 11003:
        return "destination unreachable";
    case 11013:
        return "TTL expired in transit";
    default:
        return "no answer (status " + std::to_string(lastError) + ")";
    }
}

} // namespace

bool TfrmMain::PingSite(const std::string& address, int& rtt) {
    try {
        m_probeCause.clear();
        TPingThread worker(address, [] { MainLoop().Wake(); });
        const bool settled = WaitForProbe(worker);
        if (worker.Failed()) WritePaneLine(worker.ErrorText());
        bool answered = worker.Status() == TPingThread::Answered;
        if (answered) rtt = worker.RoundTripTime();
        m_probeRttUs = answered ? worker.RoundTripTimeUs() : 0;
        WaitForThreadEnd(worker);
        if (!answered)
            m_probeCause = worker.Failed() ? worker.ErrorText()
                           : settled       ? NoAnswerCause(worker.LastError())
                                           : "no answer within the probe's guard";
        return answered;
    } catch (const std::exception& e) {
        WriteLog("ERROR", std::string("Exception during ICMP send echo.") + e.what());
        m_probeCause = e.what();
        return false;
    }
}
