// The TCP port a process listens on, for a daemon told to take whatever port the system gives.
#pragma once

#include "../web/shellcommand.h"

#include <chrono>
#include <regex>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <thread>

/// The first TCP port `pid` listens on, asked of ss(8) until it shows one (about 10 s); 0 when none.
inline int ListeningTcpPort(pid_t pid) {
    const std::string owner = "pid=" + std::to_string(pid) + ",";
    const std::regex port(":(\\d+) ");
    for (int i = 0; i < 500; ++i) {
        std::istringstream lines(RunCommand("ss -Hltnp"));
        for (std::string line; std::getline(lines, line);) {
            std::smatch m;
            if (line.find(owner) != std::string::npos && std::regex_search(line, m, port)) return std::stoi(m[1].str());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
}
