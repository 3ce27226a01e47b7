// /api/v1/users and /api/v1/tokens: who may use the API, listed, added and removed by an admin. A
// user's password is hashed before it is stored; a token is shown once, in the answer that made it.
#pragma once

#include "api/apidatabase.h"
#include "api/apiroles.h"
#include "api/apirequest.h"

#include <functional>
#include <string>

class TAccountsResource {
public:
    explicit TAccountsResource(TApiDatabase& database) : m_database(database) {}

    /// Called with a removed user's name (to end their sessions).
    std::function<void(const std::string& user)> UserRemoved;
    /// Called with a user whose role was changed (for their open sessions).
    std::function<void(const std::string& user, TApiRole role)> RoleChanged;

    /// GET, POST /users, PATCH (the role) and DELETE /users/{name}; the same of /tokens but PATCH.
    TApiResponse Users(const TApiRequest& request, const std::string& name);
    TApiResponse Tokens(const TApiRequest& request, const std::string& name);

private:
    TApiResponse AddUser(const TApiRequest& request);
    TApiResponse AddToken(const TApiRequest& request);
    TApiResponse ChangeRole(const std::string& name, const TApiRequest& request);
    TApiResponse RemoveUser(const std::string& name, const TApiCaller& by);
    TApiResponse RemoveToken(const std::string& name, const TApiCaller& by);

    TApiDatabase& m_database;
};
