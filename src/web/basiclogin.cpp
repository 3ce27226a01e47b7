// The HTTP Basic login, checked with libcrypt.
#include "web/basiclogin.h"

#include "platform/strutil.h"

#include <crypt.h>

#include <memory>
#include <stdexcept>

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

// Takes as long for every `given` of one `expected`: how far a guess was right does not show in
// the time of the answer.
bool SameBytes(const std::string& given, const std::string& expected) {
    unsigned char differ = given.size() == expected.size() ? 0 : 1;
    for (std::size_t i = 0; i < expected.size(); ++i)
        differ |= static_cast<unsigned char>((i < given.size() ? given[i] : 0) ^ expected[i]);
    return differ == 0;
}

namespace {

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

} // namespace

bool PasswordMatches(const std::string& password, const std::string& hash) {
    if (hash.empty() || hash[0] == '*' || hash[0] == '!') return false; // a locked or unusable hash
    auto data = std::make_unique<crypt_data>();
    const char* result = crypt_r(password.c_str(), hash.c_str(), data.get());
    return result != nullptr && result[0] != '*' && SameBytes(result, hash);
}

// yescrypt where libcrypt has it, else SHA-512; both with the library's default cost.
std::string HashPassword(const std::string& password) {
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    bool salted = false;
    for (const char* prefix : {"$y$", "$6$"})
        if (!salted && crypt_gensalt_rn(prefix, 0, nullptr, 0, salt, sizeof salt) != nullptr) salted = true;
    if (!salted) throw std::runtime_error("libcrypt makes neither yescrypt nor SHA-512 salts");
    auto data = std::make_unique<crypt_data>();
    const char* hash = crypt_r(password.c_str(), salt, data.get());
    if (hash == nullptr || hash[0] == '*') throw std::runtime_error("crypt_r could not hash a password");
    return hash;
}

// Every well-formed login is hashed, whatever its user name: a wrong name costs the same crypt(3)
// as a wrong password, so the time of a refusal does not tell which names exist.
bool BasicLoginMatches(const std::string& authorization, const std::string& user, const std::string& hash) {
    std::string givenUser, password;
    if (!DecodeBasic(authorization, givenUser, password)) return false;
    const bool userMatches = SameBytes(givenUser, user);
    const bool passwordMatches = PasswordMatches(password, hash);
    return userMatches && passwordMatches;
}
