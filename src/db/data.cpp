// The data module: settings read from vkt.ini and the connection built from them.
#include "db/data.h"

#include "platform/profile.h"
#include "platform/progdir.h"
#include "platform/strutil.h"

namespace {
TVKTDataModule* g_dataModule = nullptr;
}

TVKTDataModule* DataModule() {
    return g_dataModule;
}

void SetDataModule(TVKTDataModule* module) {
    g_dataModule = module;
}

std::string ConfigFileName() {
    return ProgramDir() + "vkt.ini";
}

std::string DwaterFileName() {
    return ProgramDir() + "dwater.ini";
}

std::string ReadBackupDir() {
    return Trim(GetPrivateProfileString("System", "BackupDir", ProgramDir(), DwaterFileName()));
}

TVKTDataModule::TVKTDataModule() = default;

TVKTDataModule::~TVKTDataModule() = default;

void TVKTDataModule::DataModuleCreate() {
    const std::string computer = ComputerName();
    // The program-wide date, time and number formats are fixed constants of the platform layer
    // ("yyyy-mm-dd", "hh:nn", "hh:nn:ss", "," and "."), whatever the user's locale says.
    VKTID.clear();
    TIniFile ini(ConfigFileName());
    DBServer = ini.ReadString("System", "DBServer", computer);
    DBPass = ini.ReadString("System", "DBPass", "");
    DBUser = ini.ReadString("System", "DBUSer", "sa");
    DataBase = ini.ReadString("System", "Database", "Duskwater");
    DBProvider = ini.ReadString("System", "DBProvider", "SQLOLEDB.1");
    NetPort = ini.ReadInteger("System", "NetPort", 8000);
    MaxLogFileAgeDays = ini.ReadInteger("System", "MaxLogFileAgeDays", 10);
    PollDelay = ini.ReadInteger("System", "PollDelay", 5);
    VKTID = Trim(ini.ReadString("System", "VKTID", ""));
}

std::string TVKTDataModule::ConnectionString(bool maskPassword) const {
    return Format("Provider=%s;Persist Security Info=True;User ID=%s;Password=%s;Initial Catalog=%s;Data Source=%s",
                  DBProvider.c_str(), DBUser.c_str(), maskPassword ? "****" : DBPass.c_str(), DataBase.c_str(),
                  DBServer.c_str());
}

bool TVKTDataModule::ActivateConnection() {
    // No data-access backend is built in yet: there is never a connection.
    return false;
}
