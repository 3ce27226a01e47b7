// Running the vkt binary for end-to-end tests.
#include "vktprocess.h"

#include "testutil.h"

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

VktProcess::VktProcess(const std::string& home, const std::string& cwd, const std::vector<std::string>& env)
    : m_outFile(cwd + "/vkt.stdout") {
    m_pid = fork();
    if (m_pid == 0) {
        int out = open(m_outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        int in = open("/dev/null", O_RDONLY);
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
