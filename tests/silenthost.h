// A host that never answers echo requests, for the tests and benchmarks that need an address whose
// probes time out: a namespace of a NetLab joined to this machine by a /30, with the kernel told to
// ignore echo requests inside it. Needs root; removed again by the destructor.
#pragma once

#include "netlab.h"

#include <string>

class SilentHostNamespace {
public:
    /// The address inside the namespace of the default /30; this side of the pair is 203.0.113.1.
    static constexpr const char* Address = "203.0.113.2";

    /// `tag` keeps the names of concurrent users (test, benchmark) apart.
    /// `net` picks another /30 than 203.0.113.0 ("198.51.100"), so that users running at the same
    /// time do not claim the same address on this side.
    explicit SilentHostNamespace(const std::string& tag, const std::string& net = "203.0.113")
        : m_lab(tag, net), m_host(net + ".1"), m_inside(net + ".2") {}

    /// Builds the namespace and waits until it is ready; false with the reason when this machine does
    /// not allow it.
    bool Create(std::string& why) {
        if (!m_lab.Open(why)) return false;
        m_ns = m_lab.AddNamespace("");
        m_lab.Join(m_ns, m_host, m_inside, 30);
        m_lab.DoIn(m_ns, "echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all");
        return m_lab.Ready(why);
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
        return m_lab.DoIn(m_ns, "ip addr add " + address + "/32 dev lo") && Route(address + "/32") &&
               m_lab.DoIn(m_ns, "nft add table ip vkt && nft \"add chain ip vkt in { type filter hook input "
                                "priority 0; }\" && nft add rule ip vkt in ip daddr " +
                                    address +
                                    " icmp type echo-request reject with icmp type host-unreachable && nft add "
                                    "rule ip vkt in udp dport 53 drop");
    }
    /// Puts `prefix` on the namespace's loopback and routes it there from this machine: addresses that a
    /// responder inside the namespace may answer for.
    bool AddAddresses(const std::string& prefix) {
        return m_lab.DoIn(m_ns, "ip addr add " + prefix + " dev lo") && Route(prefix);
    }
    /// Routes `prefix` from this machine to the namespace, where nothing answers it.
    bool Route(const std::string& prefix) { return m_lab.Route(prefix, m_inside); }
    /// Runs `command` with sh inside the namespace; its exit status.
    int InNamespace(const std::string& command) const { return NetLab::In(m_ns, command); }

private:
    NetLab m_lab;
    std::string m_host, m_inside, m_ns;
};
