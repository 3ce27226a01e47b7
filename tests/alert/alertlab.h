// Hosts of the alert tests in a network namespace of the test's own, each answering echo requests
// until an nft set cuts it off (or a rule drops a share of its requests). Needs root; removed again
// at the end. The webhook receiver and the mail server are in peers.h.
//
// The cut is made on the way out, in a table of the test's own that matches only its hosts: a
// request dropped there fails at once. Dropped at the host it would cost the probe's 4-s time-out
// per silent site, and an ICMP error from the host would count as an answer, as any reply does.
#pragma once

#include "netlab.h"
#include "peers.h"

#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

class HostLab {
public:
    /// `hosts` addresses in 198.19.N.0/24 (a benchmarking range no real network routes), N from the pid.
    explicit HostLab(int hosts)
        : m_hosts(hosts), m_net("198.19." + std::to_string(getpid() % 250)), m_lab("alert", m_net),
          m_table(m_lab.Table("")) {}

    /// Builds the namespace and the cutting table and waits until it is ready; false with the reason
    /// when this machine does not allow it.
    bool Create(std::string& why) {
        if (!m_lab.Open(why)) return false;
        const std::string ns = m_lab.AddNamespace("");
        const std::string inside = m_lab.Join(ns, m_net + ".1", Address(0), 24);
        for (int i = 1; i < m_hosts; ++i)
            m_lab.DoIn(ns, "ip addr add " + Address(i) + "/24 dev " + inside);
        const std::string t = " ip " + m_table + " ";
        const std::string drop = " icmp type echo-request drop; ";
        m_lab.Do("nft 'add table" + t + "; add set" + t + "cut { type ipv4_addr; }; add set" + t +
                     "lossy { type ipv4_addr; }; add set" + t + "halved { type ipv4_addr; }; add chain" + t +
                     "out { type filter hook output priority 0; }; " + "add rule" + t + "out ip daddr @cut" + drop +
                     "add rule" + t + "out ip daddr @lossy numgen random mod 100 < 50" + drop + "add rule" + t +
                     "out ip daddr @halved numgen inc mod 2 == 0" + drop + "'",
                 "nft delete table ip " + m_table);
        return m_lab.Ready(why);
    }

    std::string Address(int i) const { return m_net + "." + std::to_string(i + 2); }
    /// Cuts hosts off (true) or lets them answer again (false).
    void Cut(const std::vector<int>& hosts, bool cut = true) { Set("cut", hosts, cut); }
    /// Half of the echo requests to these hosts get no answer.
    void MakeLossy(const std::vector<int>& hosts) { Set("lossy", hosts, true); }
    /// Every other echo request to these hosts gets no answer (false: all are answered again).
    void Halve(const std::vector<int>& hosts, bool halve = true) { Set("halved", hosts, halve); }
    std::vector<int> All() const {
        std::vector<int> all;
        for (int i = 0; i < m_hosts; ++i)
            all.push_back(i);
        return all;
    }

private:
    void Set(const std::string& set, const std::vector<int>& hosts, bool add) {
        std::string elements;
        for (int i : hosts)
            elements += (elements.empty() ? "" : ", ") + Address(i);
        NetLab::Run(std::string("nft '") + (add ? "add" : "delete") + " element ip " + m_table + " " + set + " { " +
                    elements + " }'");
    }
    int m_hosts;
    std::string m_net;
    NetLab m_lab;
    std::string m_table;
};

/// The Subject header of a mail the test's server received ("" when it has none).
inline std::string SubjectOf(const std::string& mail) {
    std::smatch m;
    return std::regex_search(mail, m, std::regex("Subject: ([^\\r]*)\\r\\n")) ? m[1].str() : std::string();
}
