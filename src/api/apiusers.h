// The people who sign in to the API and its pages: table vktuser holds each user's name, role and a
// crypt(3) hash of the password (yescrypt where the system's libcrypt has it, else SHA-512).
#pragma once

#include "api/apiroles.h"
#include "api/apitokens.h"
#include "db/dbaccess.h"

#include <optional>
#include <string>
#include <vector>

struct TApiUser {
    std::string Name;
    TApiRole Role = TApiRole::Viewer;
};

class TApiUsers {
public:
    /// The longest password taken, in bytes; a longer one only costs the hash time.
    static constexpr std::size_t MaxPassword = 256;

    /// Every statement runs on `query`; the table is made when the database lacks it.
    explicit TApiUsers(TDbQuery& query);

    /// ETokenRefused for a name that is taken or not plain (PlainName), or an empty or overlong password.
    void Add(const std::string& name, const std::string& password, TApiRole role);
    std::vector<TApiUser> List();
    /// ETokenRefused when there is none of that name.
    void Remove(const std::string& name);
    /// Gives the user `role`; answers the role they had. ETokenRefused when there is none of that name.
    TApiRole SetRole(const std::string& name, TApiRole role);
    /// The user when the password is theirs; none for an unknown name or a wrong password.
    std::optional<TApiUser> SignIn(const std::string& name, const std::string& password);

private:
    TDbQuery& m_query;
};
