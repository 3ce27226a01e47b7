// Peers of the alert tests: hosts in a network namespace of the test's own, each answering echo
// requests until an nft set cuts it off (or a rule drops a share of its requests), and a webhook
// receiver that stores what it is sent. Namespace hosts need root; they are removed again at the end.
//
// The cut is made on the way out, in a table of the test's own that matches only its hosts: a
// request dropped there fails at once. Dropped at the host it would cost the probe's 4-s time-out
// per silent site, and an ICMP error from the host would count as an answer, as any reply does.
#pragma once

#include "peers.h"

#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class HostLab {
public:
    /// `hosts` addresses in 198.19.N.0/24 (a benchmarking range no real network routes), N from the pid.
    explicit HostLab(int hosts)
        : m_hosts(hosts), m_net("198.19." + std::to_string(getpid() % 250) + "."),
          m_ns("vkt-alert-" + std::to_string(getpid())), m_veth("vka" + std::to_string(getpid())),
          m_table("vkt_alert_" + std::to_string(getpid())) {}
    ~HostLab() {
        if (m_made) Run("nft delete table ip " + m_table + "; ip link del " + m_veth + "h; ip netns del " + m_ns);
    }
    HostLab(const HostLab&) = delete;
    HostLab& operator=(const HostLab&) = delete;

    bool Create(std::string& why) {
        if (geteuid() != 0) {
            why = "network namespaces need root";
            return false;
        }
        if (Run("ip netns add " + m_ns) != 0) {
            why = "ip netns add failed";
            return false;
        }
        m_made = true;
        const std::string n = "ip -n " + m_ns + " ";
        std::string script = "ip link add " + m_veth + "h type veth peer name " + m_veth + "n netns " + m_ns +
                             " && ip addr add " + m_net + "1/24 dev " + m_veth + "h && ip link set " + m_veth +
                             "h up && " + n + "link set " + m_veth + "n up && " + n + "link set lo up";
        for (int i = 0; i < m_hosts; ++i)
            script += " && " + n + "addr add " + Address(i) + "/24 dev " + m_veth + "n";
        const std::string t = " ip " + m_table + " ";
        const std::string drop = " icmp type echo-request drop; ";
        script += " && nft 'add table" + t + "; add set" + t + "cut { type ipv4_addr; }; add set" + t +
                  "lossy { type ipv4_addr; }; add chain" + t + "out { type filter hook output priority 0; }; " +
                  "add rule" + t + "out ip daddr @cut" + drop + "add rule" + t +
                  "out ip daddr @lossy numgen random mod 100 < 50" + drop + "'";
        if (Run(script) != 0) {
            why = "setting up the namespace failed (iproute2, nftables)";
            return false;
        }
        return true;
    }

    std::string Address(int i) const { return m_net + std::to_string(i + 2); }
    /// Cuts hosts off (true) or lets them answer again (false).
    void Cut(const std::vector<int>& hosts, bool cut = true) { Set("cut", hosts, cut); }
    /// Half of the echo requests to these hosts get no answer.
    void MakeLossy(const std::vector<int>& hosts) { Set("lossy", hosts, true); }
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
        Run(std::string("nft '") + (add ? "add" : "delete") + " element ip " + m_table + " " + set + " { " + elements +
            " }'");
    }
    static int Run(const std::string& command) {
        int status = std::system((command + " >/dev/null 2>&1").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int m_hosts;
    std::string m_net, m_ns, m_veth, m_table;
    bool m_made = false;
};

/// tests/webhook_sink.py on a loopback port the system chooses: each POST's content type and body in NNNN.json.
class TestWebhook {
public:
    TestWebhook()
        : m_server({PeerProcess::Python(), VKT_SOURCE_DIR "/tests/webhook_sink.py", "0", m_dir.Path()}),
          port(m_server.Port()), ready(port != 0) {}
    TestWebhook(const TestWebhook&) = delete;
    TestWebhook& operator=(const TestWebhook&) = delete;

    /// While failing, every POST gets 503 and nothing is stored.
    void SetFailing(bool failing) const {
        if (failing)
            WriteFileText(m_dir.File("fail"), "");
        else
            std::filesystem::remove(m_dir.File("fail"));
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port) + "/hook"; }
    /// The bodies received so far, in order, each after its content type and a line break.
    std::vector<std::string> Received() const {
        std::vector<std::string> all;
        for (int n = 1;; ++n) {
            char name[16];
            std::snprintf(name, sizeof name, "%04d.json", n);
            std::string text = ReadFileText(m_dir.File(name));
            if (text.empty()) return all;
            all.push_back(text);
        }
    }

private:
    TempDir m_dir; // before the server, which stores into it
    PeerProcess m_server;

public:
    int port = 0;
    bool ready = false;
};
