// Setup wizard: load, checks, the directory chooser's rule and the all-or-nothing write.
#include "daemon/tfrminstall.h"

#include "db/data.h"
#include "platform/errors.h"
#include "platform/profile.h"

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

const char* const InstallInfoLines[4] = {
    "Complete the following fields necessary for the VKT congiration.",
    "These settings can be modified by editing the vkt configuration file (vkt.ini)",
    "or by connecting to the daemons local IP address on the configured netport",
    "via an Internet browser.",
};
const char* const MsgNetPortInvalid = "The NetPort field must be a valid real value.";
const char* const MsgCreateDirectory = "The specified directory does not exist. Create it?";
const char* const MsgRestart = "PLEASE NOTE: You must restart Sentrova to effect all changes made.";

int TSpinEdit::Value() const {
    return ProfileTextToInt(Text, MinValue);
}

void TSpinEdit::Exit() {
    if (MinValue == 0 && MaxValue == 0) return;
    SetValue(std::clamp(Value(), MinValue, MaxValue));
}

const std::vector<TInstallField>& TfrmInstall::Fields() {
    static const std::vector<TInstallField> fields = {
        {"txtDaemon",
         "Daemon ID:",
         "Daemon identifier",
         20,
         {"The unique identifier for this VKT module on the", "Sentrova enviroment. ie: daemon1"},
         true},
        {"txtdbprovider",
         "DB Server:",
         "Database server.",
         35,
         {"The machine name of the database provider, ", "in the case of MSDE, set to (local)."},
         false},
        {"txtdatabase",
         "Database:",
         "Database name.",
         35,
         {"The name of the repository where Sentrova's", "data structure can be found. ie: Sentrova"},
         false},
        {"txtuser",
         "DB User:",
         "Database username.",
         35,
         {"The user name to used when connecting to the", "supplied database."},
         false},
        {"txtpass",
         "DB Password:",
         "Database password.",
         35,
         {"The password to be used in conjunction with", "user name provided."},
         true},
        {"spnpoll",
         "Poll Delay:",
         "",
         0,
         {"The interval in minutes the VKT module is to ", "perform a status check on the registered servers."},
         false},
        {"txtbackdir",
         "Backup\nDirectory:",
         "",
         0,
         {"The directory in which Sentrova's table backups", "will be placed."},
         true},
        {"txtServer",
         "Mail Server:",
         "",
         35,
         {"The name or address of the responsible mail server",
          "contactable by Sentrova when sending email notifications."},
         false},
        {"txtsender", "Sender ID:", "", 50, {"The sender name to be used when sending notifications."}, true},
        {"spnDays",
         "Max. log file\nage (days)",
         "",
         0,
         {"The maximum age in days allowed for log files generated", "by the Daemon before they are deleted."},
         true},
        {"txtNetPort",
         "NetPort",
         "",
         0,
         {"This is the TCP/IP port that will be made available on the ",
          "client machine for connection by Internet Browser  for ", "administrative puposes."},
         false},
    };
    return fields;
}

TfrmInstall::TfrmInstall(std::string configFile)
    : m_configFile(configFile.empty() ? ConfigFileName() : std::move(configFile)) {}

std::string* TfrmInstall::TextField(const std::string& name) {
    std::pair<const char*, std::string*> map[] = {
        {"txtDaemon", &txtDaemon},     {"txtdbprovider", &txtdbprovider},
        {"txtdatabase", &txtdatabase}, {"txtuser", &txtuser},
        {"txtpass", &txtpass},         {"txtbackdir", &txtbackdir},
        {"txtServer", &txtServer},     {"txtsender", &txtsender},
        {"txtNetPort", &txtNetPort},
    };
    for (auto& [n, field] : map)
        if (name == n) return field;
    return nullptr;
}

TSpinEdit* TfrmInstall::SpinField(const std::string& name) {
    if (name == "spnpoll") return &spnpoll;
    if (name == "spnDays") return &spnDays;
    return nullptr;
}

void TfrmInstall::FormShow() {
    const TIniFile ini(m_configFile);
    txtDaemon = ini.ReadString("System", "VKTID", "daemon");
    txtdbprovider = ini.ReadString("System", "DBServer", DefaultDBServer);
    txtdatabase = ini.ReadString("System", "DataBase", "Sentrova");
    txtuser = ini.ReadString("System", "DBUSer", "sa");
    txtpass = ini.ReadString("System", "DBPass", "");
    spnpoll.SetValue(ini.ReadInteger("System", "PollDelay", 5));
    txtbackdir = ini.ReadString("System", "BackUpDir", "");
    txtNetPort = std::to_string(ini.ReadInteger("System", "NetPort", 8000));
    spnDays.SetValue(ini.ReadInteger("System", "MaxLogFileAgeDays", 10));
    txtServer = ini.ReadString("Mail", "Server", DefaultMailServer);
    txtsender = ini.ReadString("mail", "Sender", DefaultSender);
}

std::string TfrmInstall::txtNetPortExit() {
    if (ProfileTextToInt(txtNetPort, 0) != 0) return {};
    txtNetPort = "0";
    return MsgNetPortInvalid;
}

void TfrmInstall::btnOKClick() {
    // The keys go to a scratch copy beside the file, which then replaces it in one rename:
    // a failure at any key leaves vkt.ini (and its install=1) exactly as it was.
    const std::string scratch = m_configFile + ".setup";
    std::error_code ec;
    try {
        fs::remove(scratch, ec);
        if (fs::exists(m_configFile)) fs::copy_file(m_configFile, scratch);
        TIniFile ini(scratch);
        ini.WriteString("System", "VKTID", txtDaemon);
        ini.WriteString("System", "DBServer", txtdbprovider);
        ini.WriteString("System", "Database", txtdatabase);
        ini.WriteString("System", "DBUser", txtuser);
        ini.WriteString("System", "DBPass", txtpass);
        ini.WriteInteger("System", "PollDelay", spnpoll.Value());
        ini.WriteString("System", "BackUpDir", txtbackdir);
        ini.WriteInteger("System", "NetPort", ProfileTextToInt(txtNetPort, 8000));
        ini.WriteInteger("System", "MaxLogFileAgeDays", spnDays.Value());
        ini.WriteString("Mail", "server", txtServer);
        ini.WriteString("Mail", "sender", txtsender);
        ini.WriteInteger("System", "install", 0);
        fs::rename(scratch, m_configFile);
    } catch (const EArgumentError& e) {
        fs::remove(scratch, ec);
        throw EInOutError("Unable to write to " + m_configFile + ": " + e.Message());
    } catch (const std::exception&) {
        fs::remove(scratch, ec);
        throw EInOutError("Unable to write to " + m_configFile);
    }
}

TfrmInstall::TDirChoice TfrmInstall::ChooseDirectory(const std::string& path,
                                                     const std::function<bool(const std::string&)>& confirm,
                                                     std::string& error) {
    std::error_code ec;
    if (path.empty()) {
        error = "Unable to create directory";
        return TDirChoice::Failed;
    }
    if (!fs::is_directory(path, ec)) {
        if (!confirm(MsgCreateDirectory)) return TDirChoice::StayOpen;
        fs::create_directories(path, ec);
        if (!fs::is_directory(path)) {
            error = "Unable to create directory " + path + (ec ? ": " + ec.message() : "");
            return TDirChoice::Failed;
        }
    }
    txtbackdir = path;
    return TDirChoice::Accepted;
}
