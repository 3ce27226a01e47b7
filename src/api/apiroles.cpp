// The rights of the roles, path by path.
#include "api/apiroles.h"

namespace {
const char* const Names[] = {"viewer", "operator", "admin"};

bool Under(const std::string& path, const std::string& root) {
    return path == root || path.starts_with(root + "/");
}
} // namespace

const char* RoleName(TApiRole role) {
    return Names[int(role)];
}

std::optional<TApiRole> ParseRole(const std::string& name) {
    for (int i = 0; i < 3; ++i)
        if (name == Names[i]) return TApiRole(i);
    return std::nullopt;
}

// The accounts are the admin's alone, read or written; outages and windows are the operator's work.
TApiRole RoleNeeded(const std::string& method, const std::string& path) {
    if (Under(path, "/api/v1/users") || Under(path, "/api/v1/tokens")) return TApiRole::Admin;
    if (method == "GET" || method == "HEAD") return TApiRole::Viewer;
    if (Under(path, "/api/v1/maintenance")) return TApiRole::Operator;
    if (path.starts_with("/api/v1/sites/") && path.ends_with("/ack")) return TApiRole::Operator;
    return TApiRole::Admin;
}
