// Address literals of both families.
#include "platform/ipaddress.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>

IpAddress IpAddress::V4(std::uint32_t networkOrder) {
    IpAddress a;
    a.Family = AF_INET;
    std::memcpy(a.Bytes.data(), &networkOrder, 4);
    return a;
}

IpAddress IpAddress::V6(const std::uint8_t* bytes16) {
    IpAddress a;
    a.Family = AF_INET6;
    std::memcpy(a.Bytes.data(), bytes16, 16);
    return a;
}

std::uint32_t IpAddress::V4Value() const {
    std::uint32_t v = 0;
    if (IsV4()) std::memcpy(&v, Bytes.data(), 4);
    return v;
}

bool IpAddress::IsV4() const {
    return Family == AF_INET;
}

bool IpAddress::IsV6() const {
    return Family == AF_INET6;
}

std::string IpAddress::Text() const {
    char buf[INET6_ADDRSTRLEN];
    if (Empty() || !inet_ntop(Family, Bytes.data(), buf, sizeof buf)) return {};
    return buf;
}

const char* IpAddress::FamilyName() const {
    return IsV4() ? "v4" : IsV6() ? "v6" : "";
}

bool ParseIpLiteral(const std::string& text, IpAddress& address) {
    const std::uint32_t v4 = inet_addr(text.c_str());
    if (v4 != INADDR_NONE) {
        address = IpAddress::V4(v4);
        return true;
    }
    std::string inner = text;
    if (inner.size() > 2 && inner.front() == '[' && inner.back() == ']') inner = inner.substr(1, inner.size() - 2);
    in6_addr six{};
    if (inner.find(':') == std::string::npos || inet_pton(AF_INET6, inner.c_str(), &six) != 1) return false;
    address = IpAddress::V6(six.s6_addr);
    return true;
}
