// A peer of the tests in a process of its own (a Python server): it binds a port the system
// chooses and writes "port N" on its standard output once it listens, and the test goes on only
// after that line. No port is chosen for it beforehand, so no other program can take it meanwhile.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class PeerProcess {
public:
    /// Starts `argv` (its first word looked up on PATH) and waits up to `limit` for its port line;
    /// Port() is 0 when none came (the program is missing or failed).
    explicit PeerProcess(const std::vector<std::string>& argv,
                         std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
        ::close(out[1]);
        if (m_pid > 0) m_port = ReadPort(out[0], limit);
        ::close(out[0]);
    }
    ~PeerProcess() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    int Port() const { return m_port; }

    /// The Python that has the test peers' modules (the system's, when a user's own comes first on PATH).
    static std::string Python() { return ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }

private:
    static int ReadPort(int fd, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        std::string text;
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1) return 0;
            char buf[256];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) return 0; // ended without saying it listens
            text.append(buf, static_cast<std::size_t>(n));
            const std::size_t at = text.find("port ");
            const std::size_t eol = at == std::string::npos ? at : text.find('\n', at);
            if (eol != std::string::npos) return std::atoi(text.c_str() + at + 5);
        }
    }
    pid_t m_pid = -1;
    int m_port = 0;
};
