// Probing one site address with a worker while the message loop keeps running.
#include "scan/singleprobe.h"

#include "platform/activitylog.h"
#include "platform/msgloop.h"
#include "scan/icmp.h"

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

bool PingSite(const std::string& address, AddressFamily family, int& rtt) {
    const SiteResult result = ProbeOnce(address, family);
    if (result.Answered) rtt = result.RttAvg;
    return result.Answered;
}

SiteResult ProbeOnce(const std::string& address, AddressFamily family) {
    if (family != AddressFamily::Both || !ProbeAddress::Parse(address).Literal.Empty())
        return ProbeFamily(address, family == AddressFamily::Both ? AddressFamily::Auto : family);
    const SiteResult v4 = ProbeFamily(address, AddressFamily::V4);
    SiteResult both = CombineFamilies(v4, ProbeFamily(address, AddressFamily::V6));
    both.Address = address;
    return both;
}

SiteResult ProbeFamily(const std::string& address, AddressFamily family) {
    SiteResult result;
    result.Address = address;
    result.Sent = 1;
    try {
        TPingThread worker(
            address, [] { MainLoop().Wake(); }, family);
        const bool settled = WaitForProbe(worker);
        if (worker.Failed()) WritePaneLine(worker.ErrorText());
        if (worker.Status() == TPingThread::Answered) { // read now: an answer after the guard does not count
            result.Answered = true;
            result.Received = 1;
            result.RttMin = result.RttAvg = result.RttMax = worker.RoundTripTime();
            result.RttAvgUs = worker.RoundTripTimeUs();
        }
        WaitForThreadEnd(worker);
        result.Probed = worker.Probed();
        if (result.Answered) return result;
        // Past the guard only a name lookup can still be running: the same cause as the engine's guard.
        result.LastCause = settled ? worker.Cause() : ProbeCause::NameTemporary;
        result.Reporter = worker.Reporter();
        result.Reporter6 = worker.Reporter6();
        if (worker.Failed()) result.ErrorText = worker.ErrorText();
    } catch (const std::exception& e) {
        WriteLog("ERROR", std::string("Exception during ICMP send echo.") + e.what());
        result.LastCause = ProbeCause::NoPermission; // no echo handle, as the engine without a socket
        result.ErrorText = e.what();
    }
    return result;
}
