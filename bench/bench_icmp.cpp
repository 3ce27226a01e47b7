// Per-probe cost of PingSite over 1,000 loopback addresses, beside two bare loops measured in the same run:
// one socket and one thread per probe (the shape of the probe worker) and one socket reused for every probe.
// fping over the same list is timed too when it is installed. Prints figures; asserts nothing.
#include "platform/activitylog.h"
#include "daemon/tfrmmain.h"
#include "platform/icmpecho.h"
#include "platform/msgloop.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Probes = 1000;
const std::vector<std::uint8_t> Data(56, ' ');
const IpOptionInformation Options{64, 0, 0};

std::vector<std::string> LoopbackAddresses() {
    std::vector<std::string> list;
    for (int i = 0; i < Probes; ++i)
        list.push_back("127.0." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250));
    return list;
}

/// Microseconds per probe of `run` over the list, and how many answered.
double Measure(const char* label, const std::vector<std::string>& list,
               const std::function<bool(const std::string&)>& run) {
    int answered = 0;
    auto start = Clock::now();
    for (const auto& a : list)
        answered += run(a) ? 1 : 0;
    double us =
        std::chrono::duration<double, std::micro>(Clock::now() - start).count() / static_cast<double>(list.size());
    std::printf("%-34s %8.1f us/probe  (%d/%zu answered)\n", label, us, answered, list.size());
    return us;
}

bool ThreadPerProbe(const std::string& address) {
    auto handle = IcmpCreateFile();
    unsigned replies = 0;
    std::thread worker([&] {
        IcmpEchoReply reply;
        std::uint32_t error = 0;
        replies =
            handle->SendEcho(inet_addr(address.c_str()), Data, Options, std::chrono::milliseconds(4000), reply, error);
    });
    worker.join();
    return replies > 0;
}

void TimeFping(const std::vector<std::string>& list) {
    if (std::system("command -v fping >/dev/null 2>&1") != 0) {
        std::printf("%-34s not installed\n", "fping -c1 -i 0");
        return;
    }
    std::string cmd = "fping -q -c1 -i 0";
    for (const auto& a : list)
        cmd += " " + a;
    auto start = Clock::now();
    int rc = std::system((cmd + " >/dev/null 2>&1").c_str());
    double us =
        std::chrono::duration<double, std::micro>(Clock::now() - start).count() / static_cast<double>(list.size());
    std::printf("%-34s %8.1f us/target (exit %d)\n", "fping -c1 -i 0", us, rc);
}

} // namespace

int main() {
    try {
        IcmpCreateFile();
    } catch (const std::exception& e) {
        std::printf("cannot open an ICMP socket: %s\n", e.what());
        return 0;
    }
    auto list = LoopbackAddresses();
    auto loop = CreatePollMessageLoop();
    ScopedMainLoop installLoop(loop.get());
    TfrmMain form;
    double threaded = Measure("bare loop, thread per probe", list, ThreadPerProbe);
    auto shared = IcmpCreateFile();
    Measure("bare loop, one reused socket", list, [&](const std::string& a) {
        IcmpEchoReply reply;
        std::uint32_t error = 0;
        return shared->SendEcho(inet_addr(a.c_str()), Data, Options, std::chrono::milliseconds(4000), reply, error) > 0;
    });
    double site = Measure("PingSite", list, [&](const std::string& a) {
        int rtt = 0;
        return form.PingSite(a, rtt);
    });
    TimeFping(list);
    std::printf("PingSite / thread-per-probe: %.2fx (target: within 2x, under 100 us on loopback)\n", site / threaded);
    return 0;
}
