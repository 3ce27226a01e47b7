// TAccountsResource: strict JSON bodies ({"name","role"} and a user's "password"), 409 for a name taken.
#include "api/accountsresource.h"

#include "api/apitokens.h"
#include "api/apiusers.h"
#include "api/sitebody.h"
#include "platform/activitylog.h"

#include <nlohmann/json.hpp>

#include <set>

using nlohmann::json;

namespace {

TApiResponse NoContent() {
    TApiResponse response;
    response.Status = 204;
    response.ContentType.clear();
    return response;
}

TApiResponse MethodNotAllowed(const char* allow) {
    TApiResponse response = ApiError(405, "method not allowed here");
    response.Headers.emplace_back("Allow", allow);
    return response;
}

/// The text fields of an account's body, each of `fields` and no other; false with the 400 answer.
bool ReadAccount(const std::string& body, const std::set<std::string>& fields, std::map<std::string, std::string>& out,
                 TApiResponse& refusal) {
    json document;
    if (!ReadJsonObject(body, document, refusal)) return false;
    for (const auto& [name, value] : document.items()) {
        if (!fields.contains(name) || !value.is_string()) {
            refusal = ApiError(400, name + (fields.contains(name) ? " is not text" : " is not a field here"), name);
            return false;
        }
        out[name] = value.get<std::string>();
    }
    if (!PlainName(out["name"])) {
        refusal = ApiError(400, "name is 1 to 30 letters, digits, \"_\", \"-\" or \".\"", "name");
        return false;
    }
    if (!ParseRole(out["role"])) {
        refusal = ApiError(400, "role is viewer, operator or admin", "role");
        return false;
    }
    return true;
}

json AccountJson(const std::string& name, TApiRole role) {
    return {{"name", name}, {"role", RoleName(role)}};
}

} // namespace

// DELETE of /{name}; GET and POST of the collection.
template <typename List, typename Add, typename Remove>
TApiResponse Accounts(const TApiRequest& request, const std::string& name, List list, Add add, Remove remove,
                      const char* allowForName = "DELETE") {
    if (!name.empty()) return request.Method == "DELETE" ? remove() : MethodNotAllowed(allowForName);
    if (request.Method == "POST") return add();
    if (request.Method != "GET" && request.Method != "HEAD") return MethodNotAllowed("GET, POST");
    return list();
}

template <typename Account> TApiResponse Listed(const char* key, const std::vector<Account>& accounts) {
    json list = json::array();
    for (const Account& account : accounts)
        list.push_back(AccountJson(account.Name, account.Role));
    return JsonAnswer(200, json{{key, list}});
}

TApiResponse TAccountsResource::Users(const TApiRequest& request, const std::string& name) {
    if (!name.empty() && request.Method == "PATCH") return ChangeRole(name, request);
    return Accounts(
        request, name,
        [&] { return Listed("users", m_database.With([](TDbQuery& q) { return TApiUsers(q).List(); })); },
        [&] { return AddUser(request); }, [&] { return RemoveUser(name, request.Caller); }, "PATCH, DELETE");
}

TApiResponse TAccountsResource::Tokens(const TApiRequest& request, const std::string& name) {
    return Accounts(
        request, name,
        [&] { return Listed("tokens", m_database.With([](TDbQuery& q) { return TApiTokens(q).List(); })); },
        [&] { return AddToken(request); }, [&] { return RemoveToken(name, request.Caller); });
}

TApiResponse TAccountsResource::AddUser(const TApiRequest& request) {
    std::map<std::string, std::string> fields;
    if (TApiResponse refusal; !ReadAccount(request.Body, {"name", "password", "role"}, fields, refusal)) return refusal;
    const std::string& password = fields["password"];
    if (password.empty() || password.size() > TApiUsers::MaxPassword || password.find('\0') != std::string::npos)
        return ApiError(400, "password is 1 to 256 bytes", "password");
    const TApiRole role = *ParseRole(fields["role"]);
    try {
        m_database.With([&](TDbQuery& q) { TApiUsers(q).Add(fields["name"], password, role); });
    } catch (const ETokenRefused&) {
        return ApiError(409, "a user is named " + fields["name"] + " already", "name");
    }
    WriteLog("API", "User " + fields["name"] + " added (" + RoleName(role) + ") by " + request.Caller.Text() + ".");
    return JsonAnswer(201, AccountJson(fields["name"], role));
}

TApiResponse TAccountsResource::AddToken(const TApiRequest& request) {
    std::map<std::string, std::string> fields;
    if (TApiResponse refusal; !ReadAccount(request.Body, {"name", "role"}, fields, refusal)) return refusal;
    const TApiRole role = *ParseRole(fields["role"]);
    std::string token;
    try {
        token = m_database.With([&](TDbQuery& q) { return TApiTokens(q).Add(fields["name"], role); });
    } catch (const ETokenRefused&) {
        return ApiError(409, "a token is named " + fields["name"] + " already", "name");
    }
    WriteLog("API", "Token " + fields["name"] + " added (" + RoleName(role) + ") by " + request.Caller.Text() + ".");
    json out = AccountJson(fields["name"], role);
    out["token"] = token;
    return JsonAnswer(201, out);
}

// The body names the role and nothing else: a password is set by removing and adding the user.
TApiResponse TAccountsResource::ChangeRole(const std::string& name, const TApiRequest& request) {
    if (!PlainName(name)) return ApiError(404, "no user is named " + name);
    std::map<std::string, std::string> fields{{"name", name}};
    if (TApiResponse refusal; !ReadAccount(request.Body, {"role"}, fields, refusal)) return refusal;
    const TApiRole role = *ParseRole(fields["role"]);
    TApiRole before = role;
    try {
        before = m_database.With([&](TDbQuery& q) { return TApiUsers(q).SetRole(name, role); });
    } catch (const ETokenRefused&) {
        return ApiError(404, "no user is named " + name);
    }
    if (RoleChanged) RoleChanged(name, role);
    WriteLog("API", "Role of user " + name + " changed from " + RoleName(before) + " to " + RoleName(role) + " by " +
                        request.Caller.Text() + ".");
    return JsonAnswer(200, AccountJson(name, role));
}

TApiResponse TAccountsResource::RemoveUser(const std::string& name, const TApiCaller& by) {
    try {
        m_database.With([&](TDbQuery& q) { TApiUsers(q).Remove(name); });
    } catch (const ETokenRefused&) {
        return ApiError(404, "no user is named " + name);
    }
    if (UserRemoved) UserRemoved(name);
    WriteLog("API", "User " + name + " removed by " + by.Text() + ".");
    return NoContent();
}

TApiResponse TAccountsResource::RemoveToken(const std::string& name, const TApiCaller& by) {
    try {
        m_database.With([&](TDbQuery& q) { TApiTokens(q).Revoke(name); });
    } catch (const ETokenRefused&) {
        return ApiError(404, "no token is named " + name);
    }
    WriteLog("API", "Token " + name + " revoked by " + by.Text() + ".");
    return NoContent();
}
