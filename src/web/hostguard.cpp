// THostGuard: names are learnt once when the listener starts; addresses are looked up at each
// check, so an address the machine gains later counts too.
#include "web/hostguard.h"

#include "web/httprequest.h"

#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>

namespace {

bool IsLocalAddress(const std::string& host) {
    in_addr v4{};
    in6_addr v6{};
    bool isV4 = ::inet_pton(AF_INET, host.c_str(), &v4) == 1;
    bool isV6 = !isV4 && ::inet_pton(AF_INET6, host.c_str(), &v6) == 1;
    if (!isV4 && !isV6) return false;
    if (isV4 && (ntohl(v4.s_addr) >> 24) == 127) return true;
    if (isV6 && IN6_IS_ADDR_LOOPBACK(&v6)) return true;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return false;
    bool found = false;
    for (ifaddrs* item = list; item != nullptr && !found; item = item->ifa_next) {
        if (item->ifa_addr == nullptr) continue;
        if (isV4 && item->ifa_addr->sa_family == AF_INET)
            found = reinterpret_cast<sockaddr_in*>(item->ifa_addr)->sin_addr.s_addr == v4.s_addr;
        else if (isV6 && item->ifa_addr->sa_family == AF_INET6)
            found = std::memcmp(&reinterpret_cast<sockaddr_in6*>(item->ifa_addr)->sin6_addr, &v6, sizeof v6) == 0;
    }
    ::freeifaddrs(list);
    return found;
}

// The fully qualified name the resolver gives this machine's name, when it knows one.
std::string CanonicalName(const std::string& name) {
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    addrinfo* result = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0) return {};
    std::string canonical = result != nullptr && result->ai_canonname != nullptr ? result->ai_canonname : "";
    ::freeaddrinfo(result);
    return canonical;
}

} // namespace

void THostGuard::Load(const std::string& extra) {
    m_names = {"localhost"};
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) == 0 && buffer[0] != '\0') {
        m_hostName = buffer;
        std::string name = HostName(buffer);
        m_names.push_back(name);
        m_names.push_back(name.substr(0, name.find('.')));
    }
    std::size_t start = 0;
    while (start <= extra.size()) {
        std::size_t comma = extra.find(',', start);
        if (comma == std::string::npos) comma = extra.size();
        if (std::string name = HostName(extra.substr(start, comma - start)); !name.empty()) m_names.push_back(name);
        start = comma + 1;
    }
}

// The resolver is asked last: an address or a listed name never waits for it.
bool THostGuard::Accepts(const std::string& hostHeader) const {
    const std::string host = HostName(hostHeader);
    return !host.empty() && (KnownName(host) || IsLocalAddress(host) || IsCanonicalName(host));
}

bool THostGuard::KnownName(const std::string& host) const {
    return std::find(m_names.begin(), m_names.end(), host) != m_names.end();
}

bool THostGuard::IsCanonicalName(const std::string& host) const {
    if (m_hostName.empty()) return false;
    std::call_once(m_canonicalOnce, [this] { m_canonical = HostName(CanonicalName(m_hostName)); });
    return !m_canonical.empty() && host == m_canonical;
}
