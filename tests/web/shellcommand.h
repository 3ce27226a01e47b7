// Running the real clients of the web tests (curl, python3, chromium, promtool) from a shell.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

/// What `command` printed on stdout; "<exit status not 0>" is appended when it failed.
inline std::string RunCommand(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            out.append(buffer, n);
        if (::pclose(pipe) != 0) out += "\n<exit status not 0>";
    }
    return out;
}

/// Whether `tool` is installed.
inline bool Have(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}
