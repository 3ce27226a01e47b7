// The data utilities on a terminal: vkt-datutil backup, restore, clear and info drive the controller,
// with the Log on stderr, a progress bar when stderr is a terminal and the information grid on stdout.
#include "daemon/tfrmdatutil.h"

#include "datutil/datutilcli.h"
#include "datutil/datutilexit.h"
#include "platform/strutil.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace {

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

int RunCommand(TfrmDatUtil& form, const DatUtilTableArgs& args) {
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
        if (declined) return ExitRefused;
    }
    return form.LastCommandComplete() ? ExitDone : ExitIncomplete;
}

} // namespace

int RunDatUtilTableCommand(TVKTDataModule& dm, const DatUtilTableArgs& args) {
    TfrmDatUtil form(dm);
    TerminalProgress progress(form);
    form.OnLog = [&](const std::string& line) { progress.Log(line); };
    form.OnChange = [&] { progress.Draw(); };
    form.OnConfirm = [](const std::string&) { return true; };
    const int status = RunCommand(form, args);
    progress.Erase();
    return status;
}
