// TApiSettings: reading [Api] and the shape of its Listen value.
#include "api/apisettings.h"

#include "platform/profile.h"
#include "platform/strutil.h"

#include <cctype>

bool SplitHostPort(const std::string& text, std::string& host, int& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    host = text.substr(0, colon);
    const std::string digits = text.substr(colon + 1);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        return false; // an IPv6 address needs its brackets
    }
    if (digits.size() > 5) return false;
    for (unsigned char c : digits)
        if (!std::isdigit(c)) return false;
    port = std::stoi(digits);
    return port <= 65535;
}

std::vector<std::string> TApiSettings::Load(const std::string& iniFile) {
    std::vector<std::string> lines;
    const std::string listen = Trim(GetPrivateProfileString("Api", "Listen", "", iniFile));
    Certificate = Trim(GetPrivateProfileString("Api", "Certificate", "", iniFile));
    Key = Trim(GetPrivateProfileString("Api", "Key", "", iniFile));
    Host.clear();
    Port = 0;
    if (listen.empty()) return lines;
    if (!SplitHostPort(listen, Host, Port)) {
        Host.clear();
        Port = 0;
        lines.push_back("[Api] Listen \"" + listen + "\" is not host:port; the API stays off.");
    } else if (Certificate.empty() != Key.empty()) {
        Host.clear();
        Port = 0;
        lines.push_back("[Api] Certificate and Key go together; the API stays off.");
    }
    return lines;
}
