// The API's bearer tokens: table apitoken holds each token's name, its role, and the SHA-256 hash of
// the token, never the token itself; a token is shown once, when it is made.
#pragma once

#include "api/apiroles.h"
#include "db/dbaccess.h"
#include "platform/errors.h"

#include <optional>
#include <string>
#include <vector>

struct TApiToken {
    std::string Name;
    TApiRole Role = TApiRole::Viewer;
};

/// A name that is taken or not a plain name, or a token that is unknown.
class ETokenRefused : public Exception {
public:
    using Exception::Exception;
};

class TApiTokens {
public:
    static constexpr std::size_t MaxNameLength = 30;

    /// Every statement runs on `query`; the table is made when the database lacks it.
    explicit TApiTokens(TDbQuery& query);

    /// Makes a token named `name` and returns it; only its hash is stored. ETokenRefused for a
    /// name that is taken or not 1 to 30 letters, digits, "_", "-", ".".
    std::string Add(const std::string& name, TApiRole role);
    std::vector<TApiToken> List();
    /// Removes the token; ETokenRefused when there is none of that name.
    void Revoke(const std::string& name);
    /// The token a bearer presents, or none when no stored hash matches it.
    std::optional<TApiToken> Find(const std::string& token);

private:
    void EnsureTable();
    TDbQuery& m_query;
};

/// Whether `name` may name a token or a user: 1 to 30 letters, digits, "_", "-", ".".
bool PlainName(const std::string& name);
/// `bytes` random bytes of the key generator in lower-case hexadecimal.
std::string RandomHex(std::size_t bytes);
/// The SHA-256 hash of `text` in lower-case hexadecimal.
std::string Sha256Hex(const std::string& text);
