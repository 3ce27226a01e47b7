// A host that never answers echo requests, for the tests and benchmarks that need an address
// whose probes time out: a network namespace of our own joined by a veth pair, with the kernel
// told to ignore echo requests inside it. Needs root; removed again by the destructor.
#pragma once

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

class SilentHostNamespace {
public:
    /// The address inside the namespace of the default /30; this side of the pair is 203.0.113.1.
    static constexpr const char* Address = "203.0.113.2";

    /// `tag` keeps the names of concurrent users (test, benchmark) apart.
    /// `net` picks another /30 than 203.0.113.0 ("198.51.100"), so that users running at the same
    /// time do not claim the same address on this side.
    explicit SilentHostNamespace(const std::string& tag, const std::string& net = "203.0.113")
        : m_host(net + ".1"), m_inside(net + ".2"), m_ns("vkt-" + tag + "-" + std::to_string(getpid())),
          m_veth("vk" + tag.substr(0, 1) + std::to_string(getpid())) {}
    ~SilentHostNamespace() {
        if (m_made) Run("ip link del " + m_veth + "h; ip netns del " + m_ns); // the host routes go with the link
        if (m_lock >= 0) ::close(m_lock);
    }
    SilentHostNamespace(const SilentHostNamespace&) = delete;
    SilentHostNamespace& operator=(const SilentHostNamespace&) = delete;

    /// Builds the namespace; false with the reason when this machine does not allow it.
    bool Create(std::string& why) {
        if (geteuid() != 0) {
            why = "network namespaces need root";
            return false;
        }
        // Test programs of other builds on this machine use the same addresses: one at a time (the
        // lock goes with the process, should it die).
        m_lock = ::open(("/tmp/vkt-silenthost-" + m_host + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_lock >= 0) ::flock(m_lock, LOCK_EX);
        if (Run("ip netns add " + m_ns) != 0) {
            why = "ip netns add failed";
            return false;
        }
        m_made = true;
        const std::string n = "ip -n " + m_ns + " ";
        const std::string script = "ip link add " + m_veth + "h type veth peer name " + m_veth + "n netns " + m_ns +
                                   " && ip addr add " + m_host + "/30 dev " + m_veth + "h && ip link set " + m_veth +
                                   "h up && " + n + "addr add " + m_inside + "/30 dev " + m_veth + "n && " + n +
                                   "link set " + m_veth + "n up && " + n + "link set lo up && ip netns exec " + m_ns +
                                   " sh -c 'echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all'";
        if (Run(script) != 0) {
            why = "setting up the namespace failed";
            return false;
        }
        return true;
    }

    /// The namespace's name, for "ip netns exec".
    const std::string& Name() const { return m_ns; }
    /// This side's address and the one inside.
    const std::string& HostSide() const { return m_host; }
    const std::string& Inside() const { return m_inside; }
    /// An address behind the host whose echo requests are rejected with "host unreachable" by an nft rule
    /// inside the namespace; UDP to the host's DNS port is dropped there as well, so a lookup sent to it
    /// never ends. False when nft is missing.
    bool AddRejectingAddress(const std::string& address) {
        const std::string nft = "ip netns exec " + m_ns + " nft ";
        return Run("ip -n " + m_ns + " addr add " + address + "/32 dev lo && ip route add " + address + "/32 via " +
                   m_inside + " && " + nft + "add table ip vkt && " + nft +
                   "'add chain ip vkt in { type filter hook input priority 0; }' && " + nft +
                   "add rule ip vkt in ip daddr " + address +
                   " icmp type echo-request reject with icmp type host-unreachable && " + nft +
                   "add rule ip vkt in udp dport 53 drop") == 0;
    }
    /// Runs `command` with sh inside the namespace; its exit status.
    int InNamespace(const std::string& command) const {
        return Run("ip netns exec " + m_ns + " sh -c '" + command + "'");
    }

private:
    static int Run(const std::string& command) {
        int status = std::system((command + " >/dev/null 2>&1").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string m_host, m_inside, m_ns, m_veth;
    bool m_made = false;
    int m_lock = -1;
};
