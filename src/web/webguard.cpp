// [Web] guards: the Allow list's address matching and the Basic login checked with libcrypt.
#include "web/webguard.h"

#include "platform/profile.h"
#include "platform/strutil.h"

#include <crypt.h>

#include <arpa/inet.h>
#include <memory>

TWebGuardSettings ReadWebGuard(const std::string& iniFile) {
    TWebGuardSettings s;
    s.Listen = Trim(GetPrivateProfileString("Web", "Listen", "", iniFile));
    s.Allow = Trim(GetPrivateProfileString("Web", "Allow", "", iniFile));
    s.User = Trim(GetPrivateProfileString("Web", "User", "", iniFile));
    s.PasswordHash = Trim(GetPrivateProfileString("Web", "Password", "", iniFile));
    return s;
}

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

// Standard base64 exactly as RFC 4648 writes it: only its alphabet, a length that is a multiple of
// four, "=" only as the last one or two characters, and the bits the padding leaves over zero. A
// login accepts one spelling of its credentials and nothing appended to them.
bool Base64Decode(const std::string& text, std::string& out) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out.clear();
    if (text.size() % 4 != 0) return false;
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=')
        ++padding;
    unsigned buffer = 0;
    int bits = 0;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        const std::size_t value = alphabet.find(text[i]);
        if (value == std::string::npos) return false; // "=" before the end too
        buffer = (buffer << 6) | unsigned(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += char((buffer >> bits) & 0xFF);
        }
    }
    return (buffer & ((1u << bits) - 1)) == 0;
}

bool UsableCryptHash(const std::string& hash) {
    // crypt(3) marks an unusable setting with a result starting with "*"; a DES hash has 13 characters.
    if (hash.empty() || hash[0] == '*' || hash[0] == '!') return false;
    auto data = std::make_unique<crypt_data>();
    const char* result = crypt_r("", hash.c_str(), data.get());
    return result != nullptr && result[0] != '*';
}

namespace {

// Takes as long for every `given` of one `expected`: how far a guess was right does not show in
// the time of the answer.
bool SameBytes(const std::string& given, const std::string& expected) {
    unsigned char differ = given.size() == expected.size() ? 0 : 1;
    for (std::size_t i = 0; i < expected.size(); ++i)
        differ |= static_cast<unsigned char>((i < given.size() ? given[i] : 0) ^ expected[i]);
    return differ == 0;
}

bool HasControlCharacter(const std::string& text) {
    for (unsigned char c : text)
        if (c < 32 || c == 127) return true;
    return false;
}

// "Basic", then the base64 of user-id ":" password (RFC 7617): the user-id ends at the first colon,
// and neither part may hold a control character (a NUL would cut the password short for crypt).
bool DecodeBasic(const std::string& authorization, std::string& user, std::string& password) {
    const std::string value = Trim(authorization);
    const std::size_t space = value.find(' ');
    if (space == std::string::npos || !SameText(value.substr(0, space), "Basic")) return false;
    std::string login;
    if (!Base64Decode(Trim(value.substr(space + 1)), login) || HasControlCharacter(login)) return false;
    const std::size_t colon = login.find(':');
    if (colon == std::string::npos) return false;
    user = login.substr(0, colon);
    password = login.substr(colon + 1);
    return true;
}

bool PasswordMatches(const std::string& password, const std::string& hash) {
    if (hash.empty() || hash[0] == '*' || hash[0] == '!') return false; // a locked or unusable hash
    auto data = std::make_unique<crypt_data>();
    const char* result = crypt_r(password.c_str(), hash.c_str(), data.get());
    return result != nullptr && result[0] != '*' && SameBytes(result, hash);
}

} // namespace

// Every well-formed login is hashed, whatever its user name: a wrong name costs the same crypt(3)
// as a wrong password, so the time of a refusal does not tell which names exist.
bool BasicLoginMatches(const std::string& authorization, const std::string& user, const std::string& hash) {
    std::string givenUser, password;
    if (!DecodeBasic(authorization, givenUser, password)) return false;
    const bool userMatches = SameBytes(givenUser, user);
    const bool passwordMatches = PasswordMatches(password, hash);
    return userMatches && passwordMatches;
}
