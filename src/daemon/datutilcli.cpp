// vkt-datutil: back up, restore, clear and inspect the tables from a shell.
#include "daemon/datutilcli.h"

#include "daemon/datutilexit.h"
#include "daemon/datutilsites.h"
#include "daemon/datutiltoken.h"
#include "daemon/tfrmdatutil.h"
#include "db/addresscolumn.h"
#include "db/dbsession.h"
#include "platform/msgloop.h"
#include "platform/strutil.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace {

const std::string kUsage = std::string("usage: vkt-datutil backup|restore|clear|info [--yes] (--all | TABLE ...)\n") +
                           kSitesUsage +
                           "       vkt-datutil token add NAME [--write] | token list | token revoke NAME\n"
                           "       vkt-datutil widen-address\n"
                           "  TABLE is one of alarms, codes, vkt, operator, site.\n"
                           "  widen-address widens site.IPaddr of an existing database to 255 characters.\n"
                           "  clear asks before it drops the tables; without a terminal it needs --yes.\n";

struct CliArgs {
    std::string Command;
    std::vector<std::string> Tables;
    bool All = false;
    bool Yes = false;
};

/// The canonical table name, or "" when `name` is none of the five.
std::string KnownTable(const std::string& name) {
    for (const char* table : {"alarms", "codes", "vkt", "operator", "site"})
        if (SameText(name, table)) return table;
    return "";
}

/// Reads the arguments; an error text when they are not a valid command line.
std::string ParseArgs(int argc, char** argv, CliArgs& args) {
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

/// Draws the progress bar on a terminal's stderr and keeps Log lines from running into it.
class TerminalProgress {
public:
    explicit TerminalProgress(const TfrmDatUtil& form) : m_form(form), m_tty(isatty(STDERR_FILENO) == 1) {}

    void Log(const std::string& line) {
        Erase();
        std::fprintf(stderr, "%s\n", line.c_str());
        Draw();
    }

    void Draw() {
        if (!m_tty) return;
        if (!m_form.lblBusyVisible) return Erase();
        const int filled = m_form.ProgBar * kWidth / 100;
        std::fprintf(stderr, "\r\033[K%s [%s%s] %3d%%", Trim(m_form.lblBusy).c_str(), std::string(filled, '#').c_str(),
                     std::string(kWidth - filled, ' ').c_str(), m_form.ProgBar);
        std::fflush(stderr);
        m_shown = true;
    }

    void Erase() {
        if (!m_shown) return;
        std::fprintf(stderr, "\r\033[K");
        m_shown = false;
    }

private:
    static constexpr int kWidth = 30;
    const TfrmDatUtil& m_form;
    bool m_tty;
    bool m_shown = false;
};

bool AskOnTerminal(const std::string& question) {
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    answer = LowerCase(Trim(answer));
    return answer == "y" || answer == "yes";
}

void PrintGrid(const TDatUtilGrid& grid) {
    std::array<std::size_t, TDatUtilGrid::ColCount> widths{};
    int rows = 1;
    for (int r = 0; r < TDatUtilGrid::RowCount; ++r)
        for (int c = 0; c < TDatUtilGrid::ColCount; ++c) {
            widths[c] = std::max(widths[c], grid.Cells[r][c].size());
            if (!grid.Cells[r][0].empty()) rows = std::max(rows, r + 1);
        }
    for (int r = 0; r < rows; ++r) {
        std::string line;
        for (int c = 0; c < TDatUtilGrid::ColCount; ++c) {
            const std::string& cell = grid.Cells[r][c];
            line += cell + std::string(widths[c] - cell.size() + (c + 1 < TDatUtilGrid::ColCount ? 2 : 0), ' ');
        }
        std::printf("%s\n", TrimRight(line).c_str());
    }
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

int RunCommand(TfrmDatUtil& form, const CliArgs& args) {
    for (TCheckListEntry& entry : form.lstDBName)
        entry.Checked = args.All || std::ranges::count(args.Tables, TfrmDatUtil::TableNameOf(entry.Text)) > 0;
    form.RefreshTableInfo();
    if (args.Command == "info") {
        PrintGrid(form.grdData);
        return ExitDone;
    }
    if (args.Command == "backup") {
        if (!form.btnBackup.Enabled) {
            std::fprintf(stderr, "vkt-datutil: the backup directory \"%s\" does not exist\n",
                         form.txtBackupDir.c_str());
            return ExitIncomplete;
        }
        form.btnBackupClick();
    } else if (args.Command == "restore") {
        form.btnRestoreClick();
    } else {
        bool declined = false;
        if (!args.Yes)
            form.OnConfirm = [&](const std::string& question) {
                declined = !AskOnTerminal(question);
                return !declined;
            };
        form.btnClearClick();
        if (declined) return ExitIncomplete;
    }
    return form.LastCommandComplete() ? ExitDone : ExitIncomplete;
}

} // namespace

int RunDatUtilCli(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "token") return RunTokenCli(argc, argv);
    CliArgs args;
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
    TVKTDataModule dm;
    ScopedDataModule dmGuard(&dm);
    dm.DataModuleCreate();
    if (!dm.ActivateConnection()) {
        std::fprintf(stderr, "vkt-datutil: Unable to connect to database: %s\n", dm.LastConnectionError().c_str());
        return ExitIncomplete;
    }
    if (args.Command == "widen-address") return WidenAddress(dm);
    TfrmDatUtil form(dm);
    TerminalProgress progress(form);
    form.OnLog = [&](const std::string& line) { progress.Log(line); };
    form.OnChange = [&] { progress.Draw(); };
    form.OnConfirm = [](const std::string&) { return true; };
    const int status = RunCommand(form, args);
    progress.Erase();
    return status;
}
