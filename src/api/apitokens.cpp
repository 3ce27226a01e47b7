// TApiTokens: the tokens' table and the hash that stands in for each token.
#include "api/apitokens.h"

#include "db/common.h"
#include "db/data.h"
#include "platform/strutil.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>

#include <cctype>
#include <vector>

namespace {

// 32 random bytes: guessing one is out of reach, so one hash lookup per request is safe.
constexpr std::size_t TokenBytes = 32;
constexpr const char* TokenPrefix = "vkt_";

std::string Hex(const unsigned char* bytes, std::size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

// Column canwrite holds the role: 0 and 1 keep the meaning older rows gave them (read only, write
// everything), so a viewer is 0, an admin 1, and an operator, which came later, 2.
int RoleColumn(TApiRole role) {
    return role == TApiRole::Viewer ? 0 : role == TApiRole::Admin ? 1 : 2;
}

TApiRole RoleOfColumn(long long value) {
    return value == 0 ? TApiRole::Viewer : value == 2 ? TApiRole::Operator : TApiRole::Admin;
}

} // namespace

bool PlainName(const std::string& name) {
    if (name.empty() || name.size() > TApiTokens::MaxNameLength) return false;
    for (unsigned char c : name)
        if (!std::isalnum(c) && c != '_' && c != '-' && c != '.') return false;
    return true;
}

std::string RandomHex(std::size_t bytes) {
    std::vector<unsigned char> random(bytes);
    if (gnutls_rnd(GNUTLS_RND_KEY, random.data(), bytes) != 0) throw Exception("No random bytes");
    return Hex(random.data(), bytes);
}

std::string Sha256Hex(const std::string& text) {
    unsigned char digest[32];
    if (gnutls_hash_fast(GNUTLS_DIG_SHA256, text.data(), text.size(), digest) != 0)
        throw Exception("SHA-256 is not available");
    return Hex(digest, sizeof digest);
}

TApiTokens::TApiTokens(TDbQuery& query) : m_query(query) {
    EnsureTable();
}

void TApiTokens::EnsureTable() {
    CreateTableIfMissing(m_query, "apitoken",
                         {"CREATE TABLE apitoken (name varchar(30) NOT NULL, hash varchar(64) NOT NULL, "
                          "canwrite integer NOT NULL)",
                          "CREATE UNIQUE INDEX ixApiToken ON apitoken (name)"});
}

std::string TApiTokens::Add(const std::string& name, TApiRole role) {
    if (!PlainName(name)) throw ETokenRefused("A token name is 1 to 30 letters, digits, \"_\", \"-\" or \".\".");
    OpenStatement(m_query, {"SELECT name FROM apitoken WHERE name = " + SQLLiteral(name)});
    if (!m_query.Eof()) throw ETokenRefused("A token named " + name + " exists already.");
    const std::string token = TokenPrefix + RandomHex(TokenBytes);
    ExecStatement(m_query, {"INSERT INTO apitoken (name, hash, canwrite) VALUES (" + SQLLiteral(name) + ", " +
                            SQLLiteral(Sha256Hex(token)) + ", " + std::to_string(RoleColumn(role)) + ")"});
    return token;
}

std::vector<TApiToken> TApiTokens::List() {
    OpenStatement(m_query, {"SELECT name, canwrite FROM apitoken ORDER BY name"});
    std::vector<TApiToken> tokens;
    for (; !m_query.Eof(); m_query.Next())
        tokens.push_back(
            {VarToStrTrim(m_query.FieldByName("name")), RoleOfColumn(VarToIntDef(m_query.FieldByName("canwrite")))});
    return tokens;
}

void TApiTokens::Revoke(const std::string& name) {
    OpenStatement(m_query, {"SELECT name FROM apitoken WHERE name = " + SQLLiteral(name)});
    if (m_query.Eof()) throw ETokenRefused("No token is named " + name + ".");
    ExecStatement(m_query, {"DELETE FROM apitoken WHERE name = " + SQLLiteral(name)});
}

std::optional<TApiToken> TApiTokens::Find(const std::string& token) {
    if (token.size() > 200) return std::nullopt;
    OpenStatement(m_query, {"SELECT name, canwrite FROM apitoken WHERE hash = " + SQLLiteral(Sha256Hex(token))});
    if (m_query.Eof()) return std::nullopt;
    return TApiToken{VarToStrTrim(m_query.FieldByName("name")),
                     RoleOfColumn(VarToIntDef(m_query.FieldByName("canwrite")))};
}
