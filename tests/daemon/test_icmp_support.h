// Helpers of the probe tests: a scripted echo handle installed in place of the sockets, and a console
// with its message loop, clock and log pane in a temporary working directory.
#pragma once

#include "platform/activitylog.h"
#include "daemon/tfrmmain.h"
#include "platform/datetime.h"
#include "platform/icmpecho.h"
#include "platform/msgloop.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

/// What the scripted echo saw and how it answers. `answer` runs on the probe's worker thread.
struct EchoScript {
    std::function<unsigned(IcmpEchoReply&, std::uint32_t&)> answer = [](IcmpEchoReply&, std::uint32_t& error) {
        error = IpStatus::ReqTimedOut;
        return 0u;
    };
    std::mutex lock;
    int calls = 0;
    std::uint32_t address = 0;
    std::vector<std::uint8_t> data;
    IpOptionInformation options;
    std::chrono::milliseconds timeout{0};
};

class ScriptedEchoHandle : public IcmpEchoHandle {
public:
    explicit ScriptedEchoHandle(std::shared_ptr<EchoScript> script) : m_script(std::move(script)) {}
    unsigned SendEcho(std::uint32_t address, std::span<const std::uint8_t> data, const IpOptionInformation& options,
                      std::chrono::milliseconds timeout, IcmpEchoReply& reply, std::uint32_t& lastError) override {
        {
            std::lock_guard<std::mutex> guard(m_script->lock);
            ++m_script->calls;
            m_script->address = address;
            m_script->data.assign(data.begin(), data.end());
            m_script->options = options;
            m_script->timeout = timeout;
        }
        return m_script->answer(reply, lastError);
    }

private:
    std::shared_ptr<EchoScript> m_script;
};

/// Installs the scripted echo for the lifetime of the object; `openError`, when set, makes opening fail.
class ScopedScriptedEcho {
public:
    ScopedScriptedEcho() {
        SetIcmpEchoOpener([s = script, e = openError]() -> std::unique_ptr<IcmpEchoHandle> {
            if (!e->empty()) throw EIcmpEchoError(*e);
            return std::make_unique<ScriptedEchoHandle>(s);
        });
    }
    ~ScopedScriptedEcho() { SetIcmpEchoOpener({}); }
    ScopedScriptedEcho(const ScopedScriptedEcho&) = delete;
    ScopedScriptedEcho& operator=(const ScopedScriptedEcho&) = delete;

    std::shared_ptr<EchoScript> script = std::make_shared<EchoScript>();
    std::shared_ptr<std::string> openError = std::make_shared<std::string>();
};

/// A console on its own message loop, logging into a temporary directory on a fixed day.
class ConsoleWithLoop {
public:
    ConsoleWithLoop() = default;
    ConsoleWithLoop(const ConsoleWithLoop&) = delete;
    ConsoleWithLoop& operator=(const ConsoleWithLoop&) = delete;

    std::string LogFile() const { return ReadFileText(dir.File("2026-12-07.log")); }

    TempDir dir;
    ScopedCwd cwd{dir.Path()};
    std::unique_ptr<MessageLoop> loop = CreatePollMessageLoop();
    ScopedMainLoop installLoop{loop.get()};
    ManualClock clock{EncodeDateTime(2026, 12, 7, 8, 0, 0)};
    ScopedClock installClock{&clock};
    TfrmMain form;
    ScopedLogPane installPane{&form.memLog};
};

/// Whether this process may open an ICMP socket here; `why` tells why not.
inline bool CanOpenIcmp(std::string& why) {
    try {
        IcmpCreateFile();
        return true;
    } catch (const EIcmpEchoError& e) {
        why = e.Message();
        return false;
    }
}

/// A host name the resolver refuses before sending any query: a DNS label is at most 63 characters.
inline std::string UnresolvableName() {
    return std::string(64, 'a') + ".invalid";
}
