// Spawning apprise: argv only, its output read through a pipe, a deadline enforced with SIGKILL.
#include "alert/apprisechannel.h"

#include "platform/strutil.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

WebhookChannel::Attempt RunApprise(const std::vector<std::string>& urls, const std::string& title,
                                   const std::string& body, int seconds, const std::atomic<bool>* stop,
                                   const std::string& program) {
    WebhookChannel::Attempt attempt;
    std::vector<std::string> args{program, "-t", title, "-b", body};
    args.insert(args.end(), urls.begin(), urls.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        attempt.Error = "cannot make a pipe";
        return attempt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        attempt.Error = "cannot run " + program;
        return attempt;
    }
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool killed = false;
    for (bool open = true; open;) {
        if (std::chrono::steady_clock::now() > deadline || (stop != nullptr && stop->load())) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        char buf[4096];
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0)
            open = false;
        else if (output.size() < 65536)
            output.append(buf, static_cast<std::size_t>(n));
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (killed) {
        attempt.Error = program + " did not end within " + std::to_string(seconds) + " s";
        return attempt;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        attempt.Delivered = true;
        return attempt;
    }
    std::string last;
    for (const std::string& line : SplitString(output, '\n'))
        if (!Trim(line).empty()) last = Trim(line);
    attempt.Error = program + " exit status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
                    (last.empty() ? "" : ": " + last.substr(0, 200));
    return attempt;
}
