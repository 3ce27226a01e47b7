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

TApiResponse TAccountsResource::Users(const TApiRequest& request, const std::string& name) {
    if (!name.empty()) return request.Method == "DELETE" ? RemoveUser(name, request.Caller) : MethodNotAllowed("DELETE");
    if (request.Method == "POST") return AddUser(request);
    if (request.Method != "GET" && request.Method != "HEAD") return MethodNotAllowed("GET, POST");
    json list = json::array();
    for (const TApiUser& user : m_database.With([](TDbQuery& q) { return TApiUsers(q).List(); }))
        list.push_back(AccountJson(user.Name, user.Role));
    return JsonAnswer(200, json{{"users", list}});
}

TApiResponse TAccountsResource::Tokens(const TApiRequest& request, const std::string& name) {
    if (!name.empty())
        return request.Method == "DELETE" ? RemoveToken(name, request.Caller) : MethodNotAllowed("DELETE");
    if (request.Method == "POST") return AddToken(request);
    if (request.Method != "GET" && request.Method != "HEAD") return MethodNotAllowed("GET, POST");
    json list = json::array();
    for (const TApiToken& token : m_database.With([](TDbQuery& q) { return TApiTokens(q).List(); }))
        list.push_back(AccountJson(token.Name, token.Role));
    return JsonAnswer(200, json{{"tokens", list}});
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
