// Running the vkt binary for end-to-end tests.
#include "vktprocess.h"

#include "testutil.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// The slave side of a new pseudo-terminal (the master stays open in the child, so it never hangs up).
int OpenTerminal() {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
    return open(ptsname(master), O_RDWR | O_NOCTTY);
}

} // namespace

VktProcess::VktProcess(const std::string& home, const std::string& cwd, const std::vector<std::string>& env,
                       bool terminalStdin, const std::string& netns)
    : m_outFile(cwd + "/vkt.stdout"), m_errFile(cwd + "/vkt.stderr") {
    const std::string nsPath = "/run/netns/" + netns;
    m_pid = fork();
    if (m_pid == 0) {
        if (!netns.empty()) {
            int ns = open(nsPath.c_str(), O_RDONLY | O_CLOEXEC);
            if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) _exit(124);
        }
        int out = open(m_outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        int err = open(m_errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, 2);
        int in = terminalStdin ? OpenTerminal() : open("/dev/null", O_RDONLY);
        if (in < 0) _exit(125);
        dup2(in, 0);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        setenv("VKT_HOME", home.c_str(), 1);
        setenv("VKT_HEADLESS", "1", 1);
        for (const std::string& e : env)
            putenv(const_cast<char*>(e.c_str()));
        execl(VKT_BINARY, "vkt", static_cast<char*>(nullptr));
        _exit(127);
    }
}

VktProcess::~VktProcess() {
    if (m_pid > 0 && !m_exited) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

void VktProcess::Signal(int sig) {
    kill(m_pid, sig);
}

int VktProcess::WaitExit(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_exited = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

bool VktProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (Output().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string VktProcess::Output() const {
    return ReadFileText(m_outFile);
}

std::string VktProcess::ErrorOutput() const {
    return ReadFileText(m_errFile);
}

bool VktProcess::WaitForErrorOutput(const std::string& text, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (ErrorOutput().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}
