// Runs the real vkt binary in a temporary program directory and talks to it with signals.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

class VktProcess {
public:
    /// Starts vkt with VKT_HOME=`home`, the working directory `cwd`, stdout and stderr captured to
    /// files in `cwd`, and the extra environment entries (NAME=value). Its stdin is /dev/null, or a
    /// terminal (a pseudo-terminal of its own) with `terminalStdin`. With `netns` it runs in that named
    /// network namespace (/run/netns/<netns>, as `ip netns add` makes it).
    VktProcess(const std::string& home, const std::string& cwd, const std::vector<std::string>& env = {},
               bool terminalStdin = false, const std::string& netns = "");
    ~VktProcess();
    VktProcess(const VktProcess&) = delete;
    VktProcess& operator=(const VktProcess&) = delete;

    void Signal(int sig);
    /// Waits for the exit; returns the exit status, or -1 when it did not end within `limit`.
    int WaitExit(std::chrono::milliseconds limit);
    /// Waits until the captured stdout contains `text`.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit);
    std::string Output() const;
    /// What it wrote to stderr so far.
    std::string ErrorOutput() const;
    pid_t Pid() const { return m_pid; }
    /// Waits until the captured stderr contains `text`.
    bool WaitForErrorOutput(const std::string& text, std::chrono::milliseconds limit);

private:
    pid_t m_pid = -1;
    std::string m_outFile;
    std::string m_errFile;
    bool m_exited = false;
};
