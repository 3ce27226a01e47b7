// A real prometheus-alertmanager on a loopback port, with no receivers of its own, and amtool to ask
// it which of vkt's alerts it shows.
#pragma once

#include "peers.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <string>
#include <thread>

class TestAlertmanager {
public:
    /// Starts it and waits up to 30 s until it listens; `ready` says whether it does.
    TestAlertmanager()
        : m_port(FreePort()),
          m_server({"/bin/sh", "-c",
                    "echo port 1; exec prometheus-alertmanager --config.file=" + Config() + " --storage.path=" +
                        m_dir.File("data") + " --web.listen-address=127.0.0.1:" + std::to_string(m_port) +
                        " --cluster.listen-address= 2>" + m_dir.File("am.log")}) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!(ready = CanConnect(m_port)) && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    TestAlertmanager(const TestAlertmanager&) = delete;
    TestAlertmanager& operator=(const TestAlertmanager&) = delete;

    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    std::string Log() const { return ReadFileText(m_dir.File("am.log")); }
    /// The active alerts named vkt_site_down of site `code`, as `amtool alert query` lists them.
    nlohmann::json Alerts(const std::string& code) const {
        const std::string out = m_dir.File("query.json");
        const std::string cmd = "amtool --alertmanager.url=" + Url() + " alert query -o json > " + out + " 2>&1";
        nlohmann::json mine = nlohmann::json::array();
        if (std::system(cmd.c_str()) != 0) return mine;
        const nlohmann::json alerts = nlohmann::json::parse(ReadFileText(out), nullptr, false);
        for (const nlohmann::json& a : alerts.is_array() ? alerts : nlohmann::json::array())
            if (a["labels"].value("alertname", "") == "vkt_site_down" && a["labels"].value("code", "") == code)
                mine.push_back(a);
        return mine;
    }
    bool ready = false;

private:
    static int FreePort() {
        int port = 0;
        ::close(BindLoopback(SOCK_STREAM, port));
        return port;
    }
    std::string Config() const {
        WriteFileText(m_dir.File("am.yml"), "route:\n  receiver: none\nreceivers:\n  - name: none\n");
        return m_dir.File("am.yml");
    }

    TempDir m_dir; // before the server, which writes into it
    int m_port;
    PeerProcess m_server;
};
