// The setup wizard's controller: the fields of vkt.ini that an installer fills in, loaded from
// the file, checked as a window would check them, and written back in one piece.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

/// A spin edit's text and limits; both limits 0 means no limits.
struct TSpinEdit {
    int MinValue = 0;
    int MaxValue = 0;
    std::string Text;
    /// The integer in the text, or the lower limit when the text is none.
    int Value() const;
    void SetValue(int value) { Text = std::to_string(value); }
    /// Leaving the control: a value outside the limits becomes the nearest limit.
    void Exit();
};

/// One field of the wizard as the window shows it.
struct TInstallField {
    const char* Name;               // the control's name (txtDaemon, spnpoll, ...)
    const char* Caption;            // the bold caption on the left ("\n" between two lines)
    const char* ToolTip;            // empty: none
    int MaxLength;                  // 0: no limit
    std::vector<const char*> Lines; // the explanation on the right
    bool RuleAfter;                 // a red rule follows the field
};

class TfrmInstall {
public:
    /// `configFile`: the vkt.ini to load and write (the program directory's by default).
    explicit TfrmInstall(std::string configFile = {});

    std::string Caption = "VKT Setup Wizard";
    std::string txtDaemon = "daemon";
    std::string txtdbprovider = DefaultDBServer;
    std::string txtdatabase = "Sentrova";
    std::string txtuser = "sa";
    std::string txtpass;
    TSpinEdit spnpoll{1, 360, "1"};
    std::string txtbackdir;
    std::string txtServer = DefaultMailServer;
    std::string txtsender = DefaultSender;
    TSpinEdit spnDays{0, 0, "0"};
    std::string txtNetPort = "8000";

    /// Loads every field from the configuration file, with the defaults for missing keys.
    void FormShow();
    /// Focus leaves the NetPort field: returns the message to show (empty when the port is fine).
    std::string txtNetPortExit();
    /// Writes the settings, `install` = 0 last. All keys reach the file or none does: a failure
    /// throws EInOutError "Unable to write to <file>" and leaves the file as it was.
    void btnOKClick();

    /// What the directory chooser does with the path confirmed by its OK button.
    enum class TDirChoice { Accepted, StayOpen, Failed };
    /// Accepts an existing directory; offers to create a missing one through `confirm` (No keeps
    /// the chooser open); on Accepted the path becomes the backup directory. `error` gets the
    /// message of a failure.
    TDirChoice ChooseDirectory(const std::string& path, const std::function<bool(const std::string&)>& confirm,
                               std::string& error);

    const std::string& ConfigFile() const { return m_configFile; }
    /// The value of a text field by its control name (nullptr for an unknown name or a spin edit).
    std::string* TextField(const std::string& name);
    TSpinEdit* SpinField(const std::string& name);

    static const std::vector<TInstallField>& Fields();
    static constexpr const char* DefaultDBServer = "dbserver";
    static constexpr const char* DefaultMailServer = "mailhost";
    static constexpr const char* DefaultSender = "vkt-daemon@example.com";

private:
    std::string m_configFile;
};

/// The information panel's four lines.
extern const char* const InstallInfoLines[4];
extern const char* const MsgNetPortInvalid;
extern const char* const MsgCreateDirectory;
extern const char* const MsgRestart;

/// The wizard on a terminal: asks every field (an empty answer keeps the value shown), then
/// whether to save. Returns true when the settings were written; end of input cancels.
bool RunTerminalSetup(TfrmInstall& wizard, std::istream& in, std::ostream& out);
