// Runs the real vkt binary in a temporary program directory and talks to it with signals.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

class VktProcess {
public:
    /// Starts vkt with VKT_HOME=`home`, the working directory `cwd`, stdout captured to a file
    /// in `cwd`, and the extra environment entries (NAME=value).
    VktProcess(const std::string& home, const std::string& cwd, const std::vector<std::string>& env = {});
    ~VktProcess();
    VktProcess(const VktProcess&) = delete;
    VktProcess& operator=(const VktProcess&) = delete;

    void Signal(int sig);
    /// Waits for the exit; returns the exit status, or -1 when it did not end within `limit`.
    int WaitExit(std::chrono::milliseconds limit);
    /// Waits until the captured stdout contains `text`.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit);
    std::string Output() const;

private:
    pid_t m_pid = -1;
    std::string m_outFile;
    bool m_exited = false;
};
