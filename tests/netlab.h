// Network namespaces of a test's own, joined to this machine (or to one another) by veth pairs, with the
// addresses, routes and nft rules the test asks for; all of it undone by the destructor, latest first.
// A lab is usable only once Ready() has seen an echo request from each namespace answered across each
// of its links. Needs root.
#pragma once

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

class NetLab {
public:
    /// `tag` names the lab's namespaces and tables. `range` is the /24 ("203.0.113") of the addresses the
    /// lab puts on this machine: a lab of any test program or build holds it alone (empty: none).
    NetLab(const std::string& tag, const std::string& range)
        : m_tag(tag), m_range(range), m_pid(std::to_string(getpid())) {}
    ~NetLab() {
        for (auto undo = m_undo.rbegin(); undo != m_undo.rend(); ++undo)
            Run(*undo);
        if (m_lock >= 0) ::close(m_lock);
    }
    NetLab(const NetLab&) = delete;
    NetLab& operator=(const NetLab&) = delete;

    /// Claims the range and removes what labs of ended programs left behind. False with the reason when
    /// this machine does not allow the lab.
    bool Open(std::string& why) {
        if (geteuid() != 0) {
            why = "network namespaces need root";
            return false;
        }
        if (!m_range.empty()) {
            // Builds of earlier revisions on this machine lock the same file for the range.
            const std::string lock = "/tmp/vkt-silenthost-" + m_range + ".1.lock";
            m_lock = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (m_lock >= 0) ::flock(m_lock, LOCK_EX); // the lock goes with the process, should it die
        }
        RemoveLeftovers();
        return true;
    }

    /// Makes a namespace with its loopback up; its name (for "ip netns exec" and /run/netns).
    std::string AddNamespace(const std::string& name) {
        const std::string ns = "vkt-" + m_pid + "-" + m_tag + name;
        if (Do("ip netns add " + ns, "ip netns del " + ns)) DoIn(ns, "ip link set lo up");
        return ns;
    }
    /// A veth pair from this machine into `ns`: `host`/`prefix` on this side (or, with `bridge`, a port of
    /// that bridge, which holds `host`), `inside`/`prefix` in the namespace. The device's name inside.
    std::string Join(const std::string& ns, const std::string& host, const std::string& inside, int prefix,
                     const std::string& bridge = {}) {
        const std::string outer = NextLink("x"), inner = NextLink("y"), bits = "/" + std::to_string(prefix);
        Do("ip link add " + outer + " type veth peer name " + inner + " netns " + ns, "ip link del " + outer);
        Do(bridge.empty() ? "ip addr add " + host + bits + " dev " + outer
                          : "ip link set " + outer + " master " + bridge);
        Do("ip link set " + outer + " up");
        DoIn(ns, "ip addr add " + inside + bits + " dev " + inner + " && ip link set " + inner + " up");
        m_probes.push_back({ns, host});
        return inner;
    }
    /// A veth pair between namespaces `a` (address `inA`) and `b` (address `inB`), both /`prefix`; with
    /// `inA6` and `inB6` the ends get these IPv6 addresses (/64, usable at once) as well.
    void Link(const std::string& a, const std::string& inA, const std::string& b, const std::string& inB, int prefix,
              const std::string& inA6 = {}, const std::string& inB6 = {}) {
        const std::string endA = NextLink("x"), endB = NextLink("y"), bits = "/" + std::to_string(prefix);
        Do("ip link add " + endA + " netns " + a + " type veth peer name " + endB + " netns " + b);
        DoIn(a, "ip addr add " + inA + bits + " dev " + endA + " && ip link set " + endA + " up");
        DoIn(b, "ip addr add " + inB + bits + " dev " + endB + " && ip link set " + endB + " up");
        m_probes.push_back({a, inB});
        if (inA6.empty()) return;
        DoIn(a, "ip -6 addr add " + inA6 + "/64 dev " + endA + " nodad");
        DoIn(b, "ip -6 addr add " + inB6 + "/64 dev " + endB + " nodad");
        m_probes.push_back({a, inB6});
    }
    /// Makes `ns` a router: it passes on what is not for itself.
    bool Forward(const std::string& ns) { return DoIn(ns, "echo 1 > /proc/sys/net/ipv4/ip_forward"); }
    /// A bridge on this machine holding `addresses` (each "a.b.c.d/n"); its name, for Join.
    std::string AddBridge(const std::vector<std::string>& addresses) {
        const std::string bridge = NextLink("b");
        Do("ip link add " + bridge + " type bridge", "ip link del " + bridge);
        for (const std::string& a : addresses)
            Do("ip addr add " + a + " dev " + bridge);
        Do("ip link set " + bridge + " up");
        return bridge;
    }
    /// Routes `prefix` from this machine through `via`, until the lab ends.
    bool Route(const std::string& prefix, const std::string& via) {
        return Do("ip route add " + prefix + " via " + via, "ip route del " + prefix);
    }
    /// A name for an nft table of the lab's own (removed with the lab when it is made by Do).
    std::string Table(const std::string& name) const { return "vkt_" + m_pid + "_" + m_tag + name; }

    /// Runs `command` (a shell line) on this machine and, when it succeeded, `undo` as the lab ends.
    /// The first failure is kept for Ready; later steps still run (their failure says no more).
    bool Do(const std::string& command, const std::string& undo = {}) {
        std::string output;
        if (Run(command, &output) != 0) {
            if (m_failed.empty()) m_failed = command + ": " + output;
            return false;
        }
        if (!undo.empty()) m_undo.push_back(undo);
        return true;
    }
    /// Runs `command` with sh inside namespace `ns`, as Do does.
    bool DoIn(const std::string& ns, const std::string& command) { return Do(InNamespace(ns, command)); }

    /// Waits up to `limit` until every step succeeded and an echo request from each namespace is
    /// answered across each of its links (a link carries traffic only once both ends are up). False with
    /// the reason.
    bool Ready(std::string& why, std::chrono::seconds limit = std::chrono::seconds(30)) const {
        if (!m_failed.empty()) {
            why = "setting up the lab failed (iproute2, nftables): " + m_failed;
            return false;
        }
        const auto end = std::chrono::steady_clock::now() + limit;
        for (const auto& [ns, address] : m_probes) {
            const std::string probe = InNamespace(ns, "ping -c 1 -W 1 -q " + address);
            std::string output;
            while (Run(probe, &output) != 0) {
                if (std::chrono::steady_clock::now() >= end) {
                    why = "no echo answered from " + address + " in " + ns + " (iputils-ping): " + output;
                    return false;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50)); // ping's own 1-s wait paces it too
            }
        }
        return true;
    }

    /// Moves the calling thread into namespace `ns`: the sockets it opens from then on live there.
    static bool Enter(const std::string& ns) {
        const int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        const bool entered = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0) ::close(fd);
        return entered;
    }
    /// Runs `command` with sh inside namespace `ns`; its exit status.
    static int In(const std::string& ns, const std::string& command) { return Run(InNamespace(ns, command)); }
    static std::string InNamespace(const std::string& ns, const std::string& command) {
        return "ip netns exec " + ns + " sh -c '" + command + "'";
    }
    /// Runs a shell line; its exit status and, in `output`, what it printed.
    static int Run(const std::string& command, std::string* output = nullptr) {
        FILE* p = ::popen((command + " 2>&1").c_str(), "r");
        if (!p) return -1;
        std::string text;
        char buf[512];
        while (std::fgets(buf, sizeof buf, p))
            text += buf;
        const int status = ::pclose(p);
        if (output) *output = text;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    std::string NextLink(const char* kind) {
        static std::atomic<int> links{0};
        return "vk" + m_pid + kind + std::to_string(++links); // at most 15 characters
    }

    /// Namespaces, links and tables named after a process that has ended (killed before its destructor).
    static void RemoveLeftovers() {
        if (DIR* d = ::opendir("/run/netns")) {
            while (dirent* e = ::readdir(d))
                if (Ended(e->d_name, "vkt-")) Run(std::string("ip netns del ") + e->d_name);
            ::closedir(d);
        }
        if (DIR* d = ::opendir("/sys/class/net")) {
            while (dirent* e = ::readdir(d))
                if (Ended(e->d_name, "vk")) Run(std::string("ip link del ") + e->d_name);
            ::closedir(d);
        }
        std::string tables;
        Run("nft list tables ip", &tables);
        for (std::size_t at = 0; (at = tables.find("table ip vkt_", at)) != std::string::npos; ++at) {
            const std::string name = tables.substr(at + 9, tables.find('\n', at) - at - 9);
            if (Ended(name, "vkt_")) Run("nft delete table ip " + name);
        }
    }
    /// Whether `name` is `prefix`, a process id and more, and that process has ended.
    static bool Ended(const std::string& name, const std::string& prefix) {
        if (name.rfind(prefix, 0) != 0) return false;
        std::size_t end = prefix.size();
        while (end < name.size() && name[end] >= '0' && name[end] <= '9')
            ++end;
        if (end == prefix.size() || end == name.size()) return false;
        const pid_t owner = static_cast<pid_t>(std::atol(name.c_str() + prefix.size()));
        return ::kill(owner, 0) != 0 && errno == ESRCH;
    }

    std::string m_tag, m_range, m_pid;
    std::vector<std::string> m_undo;
    std::vector<std::pair<std::string, std::string>> m_probes; // namespace, address answering across a link
    std::string m_failed;
    int m_lock = -1;
};
