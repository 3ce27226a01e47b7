// Site addresses and address family choices.
#include "platform/probeaddress.h"

#include "platform/strutil.h"

#include <cstdlib>

bool ParseAddressFamily(const std::string& text, AddressFamily& family) {
    const std::string t = LowerCase(Trim(text));
    for (AddressFamily f : {AddressFamily::Auto, AddressFamily::V4, AddressFamily::V6, AddressFamily::Both}) {
        if (t == AddressFamilyText(f)) {
            family = f;
            return true;
        }
    }
    return false;
}

const char* AddressFamilyText(AddressFamily family) {
    switch (family) {
    case AddressFamily::Auto:
        return "auto";
    case AddressFamily::V4:
        return "v4";
    case AddressFamily::V6:
        return "v6";
    case AddressFamily::Both:
        return "both";
    }
    return "auto";
}

namespace {

/// "host:port" or "[v6]:port" of a TCP address; false when the port is missing or out of range.
bool SplitHostPort(const std::string& rest, std::string& host, int& port) {
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size()) return false;
    host = rest.substr(0, colon);
    const std::string digits = rest.substr(colon + 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 5) return false;
    port = std::atoi(digits.c_str());
    if (host.front() == '[') {
        if (host.back() != ']') return false;
    } else if (host.find(':') != std::string::npos) {
        return false; // an IPv6 literal needs its brackets before the port
    }
    return port >= 1 && port <= 65535;
}

} // namespace

ProbeAddress ProbeAddress::Parse(const std::string& address) {
    ProbeAddress p;
    p.Host = address;
    static const std::string Scheme = "tcp://";
    std::string host;
    int port = 0;
    if (LowerCase(address.substr(0, Scheme.size())) == Scheme &&
        SplitHostPort(address.substr(Scheme.size()), host, port)) {
        p.Host = host;
        p.Port = port;
    }
    if (ParseIpLiteral(p.Host, p.Literal) && p.Host.front() == '[') p.Host = p.Host.substr(1, p.Host.size() - 2);
    return p;
}
