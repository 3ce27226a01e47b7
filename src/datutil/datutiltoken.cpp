// vkt-datutil token add NAME [--write | --role ROLE] | list | revoke NAME, and vkt-datutil user add
// NAME --role ROLE | list | remove NAME: a new token is printed once on stdout, a user's password is
// read from stdin; every change is one line on stderr, in the Log's format, naming the account.
#include "datutil/datutiltoken.h"

#include "api/apitokens.h"
#include "api/apiusers.h"
#include "datutil/datutildb.h"
#include "datutil/datutilexit.h"
#include "platform/datetime.h"
#include "platform/strutil.h"

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

const char* const kTokenUsage =
    "usage: vkt-datutil token add NAME [--role viewer|operator|admin | --write] | token list | token revoke NAME\n"
    "  add prints the new token once; only its hash is kept. A token is a viewer (reads) unless\n"
    "  --role says otherwise; --write is the admin role.\n";
const char* const kUserUsage =
    "usage: vkt-datutil user add NAME --role viewer|operator|admin | user list | user remove NAME\n"
    "  add reads the password from the first line of stdin; only its crypt(3) hash is kept.\n";

void LogLine(const std::string& message) {
    std::fprintf(stderr, "%s%s\n", FormatDateTime("yy-mm-dd hh:nn ", Now()).c_str(), message.c_str());
}

int Usage(const std::string& error, const char* usage) {
    std::fprintf(stderr, "vkt-datutil: %s\n%s", error.c_str(), usage);
    return ExitUsage;
}

/// The role the words after "add NAME" give: none for a viewer, "--write", or "--role ROLE";
/// nullopt when they are anything else.
std::optional<TApiRole> RoleArgs(const std::vector<std::string>& rest, bool writeTaken) {
    if (rest.empty()) return TApiRole::Viewer;
    if (rest.size() == 1 && writeTaken && rest[0] == "--write") return TApiRole::Admin;
    if (rest.size() == 2 && rest[0] == "--role") return ParseRole(rest[1]);
    return std::nullopt;
}

template <typename Account> void ListAccounts(const std::vector<Account>& accounts) {
    for (const Account& account : accounts)
        std::printf("%-30s  %s\n", account.Name.c_str(), RoleName(account.Role));
}

int RunToken(TApiTokens& tokens, const std::vector<std::string>& args, TApiRole role) {
    const std::string& command = args[0];
    if (command == "add") {
        std::printf("%s\n", tokens.Add(args[1], role).c_str());
        LogLine("Token " + args[1] + " added (" + RoleName(role) + ").");
    } else if (command == "revoke") {
        tokens.Revoke(args[1]);
        LogLine("Token " + args[1] + " revoked.");
    } else {
        ListAccounts(tokens.List());
    }
    return ExitDone;
}

int RunUser(TApiUsers& users, const std::vector<std::string>& args, TApiRole role) {
    const std::string& command = args[0];
    if (command == "add") {
        std::string password;
        std::getline(std::cin, password);
        if (!password.empty() && password.back() == '\r') password.pop_back();
        users.Add(args[1], password, role);
        LogLine("User " + args[1] + " added (" + RoleName(role) + ").");
    } else if (command == "remove") {
        users.Remove(args[1]);
        LogLine("User " + args[1] + " removed.");
    } else {
        ListAccounts(users.List());
    }
    return ExitDone;
}

/// An error text when the words after "token" or "user" are no valid command; `role` gets an add's role.
std::string CheckArgs(const std::string& kind, const std::vector<std::string>& args, TApiRole& role) {
    const bool user = kind == "user";
    const std::string remove = user ? "remove" : "revoke";
    if (args.empty()) return kind + " needs a command";
    const std::string& command = args[0];
    if (command == "list") return args.size() == 1 ? "" : kind + " list takes no arguments";
    if (command == remove) return args.size() == 2 ? "" : kind + " " + remove + " needs one NAME";
    if (command != "add") return "unknown " + kind + " command \"" + command + "\"";
    const std::optional<TApiRole> given =
        args.size() >= 2 ? RoleArgs({args.begin() + 2, args.end()}, !user) : std::nullopt;
    if (!given || (user && args.size() != 4))
        return user ? "user add needs one NAME and --role viewer|operator|admin"
                    : "token add needs one NAME and at most --role viewer|operator|admin or --write";
    role = *given;
    return "";
}

} // namespace

int RunTokenCli(int argc, char** argv) {
    const std::string kind = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    TApiRole role = TApiRole::Viewer;
    if (const std::string error = CheckArgs(kind, args, role); !error.empty())
        return Usage(error, kind == "user" ? kUserUsage : kTokenUsage);
    DatUtilDatabase db;
    if (!db.Open()) return ExitRefused;
    try {
        if (kind == "user") {
            TApiUsers users(db.Module().adoQ2);
            return RunUser(users, args, role);
        }
        TApiTokens tokens(db.Module().adoQ2);
        return RunToken(tokens, args, role);
    } catch (const ETokenRefused& e) {
        std::fprintf(stderr, "vkt-datutil: %s\n", e.what());
        return ExitRefused;
    }
}
