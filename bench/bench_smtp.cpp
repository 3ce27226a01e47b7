// Figures for the mail client:
//   bench_smtp send [messages] [port]   messages per second delivered by a loop of Send, each a new
//                                       session, to a server on 127.0.0.1:port (default: starts
//                                       aiosmtpd discarding what it gets, on a port it chooses)
//   bench_smtp render [megabytes]       time to render a message with an attachment of that size
// Compare the send figure with postfix's smtp-source against the same server in the same run:
//   smtp-source -s 1 -m <messages> -c 127.0.0.1:<port>
#include "mail/mssmtp.h"

#include "peerprocess.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

double SecondsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

/// tests/net/smtp_sink.py discarding every message; the test peer's launcher waits for its port line.
std::unique_ptr<PeerProcess> StartServer() {
    return std::make_unique<PeerProcess>(
        std::vector<std::string>{PeerProcess::Python(), VKT_SOURCE_DIR "/tests/net/smtp_sink.py", "127.0.0.1", "-"});
}

void Compose(TmsMessage& message) {
    message.Recipients().AddAddress("ops@example.org", "");
    message.Sender().SetName("Sentrova Vigilor System");
    message.Sender().SetAddress("vkt@example.org");
    message.SetSubject("Sentrova - Lost contact notification");
    message.Body() = {"Sentrova reports the following IP address is currently unreachable.", "",
                      "  " + std::string(65, '*'), "  Report Time : 2024-05-06 07:08:09 "};
}

int Send(int messages, int port) {
    std::unique_ptr<PeerProcess> server = port == 0 ? StartServer() : nullptr;
    if (server) port = server->Port();
    if (port == 0) {
        std::fprintf(stderr, "the mail server did not start (package python3-aiosmtpd)\n");
        return 1;
    }
    TmsMessage message;
    Compose(message);
    TmsSMTPClient client;
    client.SetHost("127.0.0.1:" + std::to_string(port));
    client.SetTimeOut(2);
    client.SetMailMessage(&message);
    auto start = SteadyClock::now();
    int sent = 0;
    try {
        for (; sent < messages; ++sent)
            client.Send();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "send %d failed: %s\n", sent + 1, error.what());
    }
    double elapsed = SecondsSince(start);
    std::printf("send: %d messages in %.2f s = %.0f messages/s (%.2f ms each)\n", sent, elapsed, sent / elapsed,
                elapsed * 1000.0 / sent);
    return sent == messages ? 0 : 1;
}

int Render(int megabytes) {
    TmsMessage message;
    Compose(message);
    auto item = std::make_unique<TmsAttItem>();
    item->SetFileName("report.pdf");
    item->Data().assign(std::size_t(megabytes) << 20, '\0');
    for (std::size_t i = 0; i < item->Data().size(); ++i)
        item->Data()[i] = char(i * 131 % 251);
    message.Attachments().Add(std::move(item));
    std::ostringstream out;
    auto start = SteadyClock::now();
    message.SaveToStream(out);
    std::printf("render: %d MB attachment -> %zu bytes in %.1f ms\n", megabytes, out.str().size(),
                SecondsSince(start) * 1000.0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    auto arg = [&](int i, int def) { return argc > i ? std::atoi(argv[i]) : def; };
    if (mode == "send") return Send(arg(2, 1000), arg(3, 0));
    if (mode == "render") return Render(arg(2, 10));
    std::fprintf(stderr, "usage: bench_smtp send [messages] [port] | render [megabytes]\n");
    return 2;
}
