// vkt-datutil: back up, restore, clear and inspect the tables from a shell.
#include "datutil/datutilcli.h"

#include "datutil/datutilexit.h"
#include "datutil/datutilsites.h"
#include "datutil/datutiltoken.h"
#include "datutil/datutildb.h"
#include "db/addresscolumn.h"
#include "db/dbsession.h"
#include "platform/msgloop.h"
#include "platform/strutil.h"

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

const std::string kUsage =
    std::string("usage: vkt-datutil backup|restore|clear|info [--yes] (--all | TABLE ...)\n") + kSitesUsage +
    "       vkt-datutil token add NAME [--role ROLE | --write] | token list | token revoke NAME\n"
    "       vkt-datutil user add NAME --role viewer|operator|admin | user list | user remove NAME\n"
    "       vkt-datutil widen-address\n"
    "  TABLE is one of alarms, codes, vkt, operator, site.\n"
    "  widen-address widens site.IPaddr of an existing database to 255 characters.\n"
    "  clear asks before it drops the tables; without a terminal it needs --yes.\n";

/// The canonical table name, or "" when `name` is none of the five.
std::string KnownTable(const std::string& name) {
    for (const char* table : {"alarms", "codes", "vkt", "operator", "site"})
        if (SameText(name, table)) return table;
    return "";
}

/// Reads the arguments; an error text when they are not a valid command line.
std::string ParseArgs(int argc, char** argv, DatUtilTableArgs& args) {
    if (argc < 2) return "no command given";
    args.Command = argv[1];
    if (args.Command == "widen-address") return argc == 2 ? "" : "widen-address takes no arguments";
    if (args.Command != "backup" && args.Command != "restore" && args.Command != "clear" && args.Command != "info")
        return "unknown command \"" + args.Command + "\"";
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--all")
            args.All = true;
        else if (arg == "--yes")
            args.Yes = true;
        else if (!KnownTable(arg).empty())
            args.Tables.push_back(KnownTable(arg));
        else
            return "unknown table \"" + arg + "\"";
    }
    if (args.All == !args.Tables.empty()) return "name the tables or give --all (not both)";
    return "";
}

/// Widens the address column, printing what it did.
int WidenAddress(TVKTDataModule& dm) {
    try {
        for (const std::string& line : WidenAddressColumn(dm.conMain.Session(), dm.Dialect()))
            std::printf("%s\n", line.c_str());
        return ExitDone;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vkt-datutil: widen-address: %s\n", e.what());
        return ExitIncomplete;
    }
}

} // namespace

int RunDatUtilCli(int argc, char** argv, const DatUtilTableRunner& runTables) {
    if (argc >= 2 && (std::string(argv[1]) == "token" || std::string(argv[1]) == "user"))
        return RunTokenCli(argc, argv);
    DatUtilTableArgs args;
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::fputs(kUsage.c_str(), stdout);
        return ExitDone;
    }
    if (argc >= 2 && IsSitesCommand(argv[1])) return RunSitesCommand(argc, argv);
    if (const std::string error = ParseArgs(argc, argv, args); !error.empty()) {
        std::fprintf(stderr, "vkt-datutil: %s\n%s", error.c_str(), kUsage.c_str());
        return ExitUsage;
    }
    if (args.Command == "clear" && !args.Yes && isatty(STDIN_FILENO) != 1) {
        std::fprintf(stderr, "vkt-datutil: clear drops the tables; give --yes when no terminal can be asked\n");
        return ExitUsage;
    }
    std::unique_ptr<MessageLoop> loop = CreatePollMessageLoop();
    ScopedMainLoop loopGuard(loop.get());
    DatUtilDatabase db;
    if (!db.Open()) return ExitRefused;
    if (args.Command == "widen-address") return WidenAddress(db.Module());
    return runTables(db.Module(), args);
}
