// vkt-datutil token add NAME [--write] | list | revoke NAME: the new token is printed once on stdout;
// every change is one line on stderr, in the Log's format, naming the token.
#include "datutil/datutiltoken.h"

#include "api/apitokens.h"
#include "datutil/datutildb.h"
#include "datutil/datutilexit.h"
#include "platform/datetime.h"
#include "platform/strutil.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char* const kTokenUsage = "usage: vkt-datutil token add NAME [--write] | token list | token revoke NAME\n"
                                "  add prints the new token once; only its hash is kept. A token may read (GET)\n"
                                "  unless --write lets it change sites too.\n";

void LogLine(const std::string& message) {
    std::fprintf(stderr, "%s%s\n", FormatDateTime("yy-mm-dd hh:nn ", Now()).c_str(), message.c_str());
}

int TokenUsage(const std::string& error) {
    std::fprintf(stderr, "vkt-datutil: %s\n%s", error.c_str(), kTokenUsage);
    return ExitUsage;
}

int RunTokenCommand(TApiTokens& tokens, const std::vector<std::string>& args) {
    const std::string& command = args[0];
    if (command == "add") {
        const std::string token = tokens.Add(args[1], args.size() == 3);
        std::printf("%s\n", token.c_str());
        LogLine("Token " + args[1] + " added (" + (args.size() == 3 ? "read and write" : "read only") + ").");
    } else if (command == "revoke") {
        tokens.Revoke(args[1]);
        LogLine("Token " + args[1] + " revoked.");
    } else {
        for (const TApiToken& token : tokens.List())
            std::printf("%-30s  %s\n", token.Name.c_str(), token.Write ? "write" : "read");
    }
    return ExitDone;
}

/// An error text when the words after "token" are no valid command.
std::string CheckArgs(const std::vector<std::string>& args) {
    if (args.empty()) return "token needs a command";
    const std::string& command = args[0];
    if (command == "list") return args.size() == 1 ? "" : "token list takes no arguments";
    if (command == "revoke") return args.size() == 2 ? "" : "token revoke needs one NAME";
    if (command != "add") return "unknown token command \"" + command + "\"";
    if (args.size() == 2 || (args.size() == 3 && args[2] == "--write")) return "";
    return "token add needs one NAME and at most --write";
}

} // namespace

int RunTokenCli(int argc, char** argv) {
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (const std::string error = CheckArgs(args); !error.empty()) return TokenUsage(error);
    DatUtilDatabase db;
    if (!db.Open()) return ExitRefused;
    try {
        TApiTokens tokens(db.Module().adoQ2);
        return RunTokenCommand(tokens, args);
    } catch (const ETokenRefused& e) {
        std::fprintf(stderr, "vkt-datutil: %s\n", e.what());
        return ExitRefused;
    }
}
