// A strict Postfix for the mail tests, run in a network namespace of the test's own: its smtpd on
// 127.0.0.1:10025 wants a fully qualified HELO name, takes the extra main.cf lines it is given and
// discards what it accepts; its own log goes to maillog in its directory.
#pragma once

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

class StrictPostfix {
public:
    /// Inside the test's own network namespace every port is free.
    static constexpr int Port = 10025;

    StrictPostfix(const std::filesystem::path& dir, const std::string& extraConfig = "") : m_dir(dir) {
        namespace fs = std::filesystem;
        fs::create_directories(m_dir / "queue");
        fs::create_directories(m_dir / "data");
        if (const passwd* owner = ::getpwnam("postfix")) (void)::chown((m_dir / "data").c_str(), owner->pw_uid, 0);
        std::ofstream(m_dir / "main.cf") << "compatibility_level = 3.6\n"
                                         << "queue_directory = " << (m_dir / "queue").string() << "\n"
                                         << "data_directory = " << (m_dir / "data").string() << "\n"
                                         << "maillog_file_prefixes = " << m_dir.string() << "\n"
                                         << "maillog_file = " << (m_dir / "maillog").string() << "\n"
                                         << "myhostname = mail.example.test\nmydestination =\n"
                                         << "inet_interfaces = loopback-only\ninet_protocols = ipv4\n"
                                         << "mynetworks = 127.0.0.0/8\nlocal_recipient_maps =\n"
                                         << "default_transport = discard\nrelay_transport = discard\n"
                                         << "smtpd_helo_required = yes\n"
                                         << "smtpd_helo_restrictions = reject_non_fqdn_helo_hostname\n"
                                         << extraConfig;
        std::ofstream(m_dir / "master.cf") << "127.0.0.1:" << Port << " inet n - n - - smtpd\n"
                                           << "cleanup unix n - n - 0 cleanup\nqmgr unix n - n 300 1 qmgr\n"
                                           << "rewrite unix - - n - - trivial-rewrite\n"
                                           << "bounce unix - - n - 0 bounce\ndefer unix - - n - 0 bounce\n"
                                           << "trace unix - - n - 0 bounce\nproxymap unix - - n - - proxymap\n"
                                           << "anvil unix - - n - 1 anvil\nscache unix - - n - 1 scache\n"
                                           << "discard unix - - n - - discard\nerror unix - - n - - error\n"
                                           << "retry unix - - n - - error\n"
                                           << "postlog unix-dgram n - n - 1 postlogd\n";
        started = Postfix("start") == 0;
    }
    ~StrictPostfix() {
        if (started) Postfix("abort"); // nothing queued is worth waiting for
        std::filesystem::remove_all(m_dir);
    }
    StrictPostfix(const StrictPostfix&) = delete;
    StrictPostfix& operator=(const StrictPostfix&) = delete;

    std::string Log() const {
        std::ifstream in(m_dir / "maillog");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    /// Waits until the log holds `text` (the log daemon writes it a moment after the event).
    bool WaitForLog(const std::string& text, std::chrono::milliseconds limit) const {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (Log().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    }
    bool started = false;

private:
    int Postfix(const std::string& command) const {
        return std::system(("postfix -c " + m_dir.string() + " " + command + " >/dev/null 2>&1").c_str());
    }
    std::filesystem::path m_dir;
};
