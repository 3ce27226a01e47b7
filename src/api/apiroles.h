// Who may do what on the API: three roles, each with the rights of the one below it. A viewer reads
// everything but the users and the tokens; an operator also acknowledges outages and makes or ends
// maintenance windows; an admin also changes sites, users and tokens.
#pragma once

#include <optional>
#include <string>

enum class TApiRole { Viewer = 0, Operator = 1, Admin = 2 };

/// "viewer", "operator" or "admin".
const char* RoleName(TApiRole role);
/// The role a name spells (exactly as RoleName writes it), or none.
std::optional<TApiRole> ParseRole(const std::string& name);
/// The least role that may send `method` to `path` under /api/v1.
TApiRole RoleNeeded(const std::string& method, const std::string& path);

/// Who a request acts for: a bearer token or a signed-in user, by name, with its role.
struct TApiCaller {
    /// "token" or "user".
    std::string Kind;
    std::string Name;
    TApiRole Role = TApiRole::Viewer;
    /// "token deploy", "user ana": how the log names who made a change.
    std::string Text() const { return Kind + " " + Name; }
};
