// The setup wizard asked on a terminal, for a first run without a desktop.
#include "daemon/tfrminstall.h"

#include "platform/errors.h"
#include "platform/strutil.h"

#include <istream>
#include <ostream>

namespace {

std::string OneLineCaption(const char* caption) {
    std::string s = caption;
    for (char& c : s)
        if (c == '\n') c = ' ';
    return s;
}

// Asks one field; false at the end of input.
bool Ask(std::istream& in, std::ostream& out, const TInstallField& f, std::string& value) {
    for (const char* line : f.Lines)
        out << "  " << line << "\n";
    out << OneLineCaption(f.Caption) << " [" << value << "] " << std::flush;
    std::string answer;
    if (!std::getline(in, answer)) return false;
    if (!answer.empty() && answer.back() == '\r') answer.pop_back();
    if (!answer.empty()) value = f.MaxLength > 0 ? CutToBytes(answer, static_cast<std::size_t>(f.MaxLength)) : answer;
    return true;
}

// The backup directory goes through the chooser's rule: a missing one is created after a yes.
bool AskDirectory(TfrmInstall& wizard, std::istream& in, std::ostream& out, const TInstallField& f) {
    const auto confirm = [&](const std::string& question) {
        out << question << " [y/N] " << std::flush;
        std::string answer;
        return std::getline(in, answer) && (answer == "y" || answer == "Y");
    };
    for (;;) {
        std::string value = wizard.txtbackdir;
        if (!Ask(in, out, f, value)) return false;
        if (value == wizard.txtbackdir) return true;
        std::string error;
        const TfrmInstall::TDirChoice choice = wizard.ChooseDirectory(value, confirm, error);
        if (choice == TfrmInstall::TDirChoice::Accepted) return true;
        if (choice == TfrmInstall::TDirChoice::Failed) out << error << "\n";
    }
}

bool AskField(TfrmInstall& wizard, std::istream& in, std::ostream& out, const TInstallField& f) {
    if (std::string(f.Name) == "txtbackdir") return AskDirectory(wizard, in, out, f);
    if (TSpinEdit* spin = wizard.SpinField(f.Name)) {
        if (!Ask(in, out, f, spin->Text)) return false;
        spin->SetValue(spin->Value());
        spin->Exit();
        return true;
    }
    std::string& value = *wizard.TextField(f.Name);
    if (!Ask(in, out, f, value)) return false;
    if (std::string(f.Name) == "txtNetPort") {
        const std::string message = wizard.txtNetPortExit();
        if (!message.empty()) out << message << "\n";
    }
    return true;
}

} // namespace

bool RunTerminalSetup(TfrmInstall& wizard, std::istream& in, std::ostream& out) {
    wizard.FormShow();
    out << wizard.Caption << "\n";
    for (const char* line : InstallInfoLines)
        out << line << "\n";
    out << "(Enter keeps the value in brackets.)\n";
    for (const TInstallField& f : TfrmInstall::Fields())
        if (!AskField(wizard, in, out, f)) return false;
    for (;;) {
        out << "Write these settings to " << wizard.ConfigFile() << "? [Y/n] " << std::flush;
        std::string answer;
        if (!std::getline(in, answer)) return false;
        if (answer == "n" || answer == "N") return false;
        if (!answer.empty() && answer != "y" && answer != "Y") continue;
        try {
            wizard.btnOKClick();
            return true;
        } catch (const EInOutError& e) {
            out << e.Message() << "\n"; // nothing was written; the question is asked again
        }
    }
}
