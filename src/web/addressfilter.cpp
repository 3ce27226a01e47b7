// TAddressFilter: dotted IPv4 addresses matched against addresses and CIDR blocks.
#include "web/addressfilter.h"

#include "platform/strutil.h"

#include <arpa/inet.h>

bool ParseIPv4(const std::string& text, std::uint32_t& address) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
    address = ntohl(parsed.s_addr);
    return true;
}

void TAddressFilter::Parse(const std::string& list, std::vector<std::string>& rejected) {
    m_blocks.clear();
    m_active = !Trim(list).empty();
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        const std::string entry = Trim(list.substr(start, comma - start));
        start = comma + 1;
        if (entry.empty()) continue;
        const std::size_t slash = entry.find('/');
        std::uint32_t network = 0;
        int bits = 32;
        bool ok = ParseIPv4(entry.substr(0, slash), network);
        if (ok && slash != std::string::npos) {
            const std::string prefix = entry.substr(slash + 1);
            ok = !prefix.empty() && prefix.size() <= 2 && prefix.find_first_not_of("0123456789") == std::string::npos;
            bits = ok ? std::stoi(prefix) : 0;
            ok = ok && bits <= 32;
        }
        if (!ok) {
            rejected.push_back(entry);
            continue;
        }
        const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t(0) << (32 - bits);
        m_blocks.push_back({network & mask, mask});
    }
}

bool TAddressFilter::Allows(const std::string& dotted) const {
    if (!m_active) return true;
    std::uint32_t address = 0;
    if (!ParseIPv4(dotted, address)) return false;
    for (const Block& block : m_blocks)
        if ((address & block.mask) == block.network) return true;
    return false;
}
