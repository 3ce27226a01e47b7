// The data module: the daemon's settings in memory and (later) its one database connection
// with the query objects the scan, the alarms and the data utilities use.
#pragma once

#include <string>

class TVKTDataModule {
public:
    // Settings in memory, read once from vkt.ini by DataModuleCreate (VKTID again before every scan).
    std::string VKTID;
    std::string DBServer;
    std::string DataBase;
    std::string DBUser;
    std::string DBPass;
    std::string DBProvider;
    int NetPort = 8000;
    int PollDelay = 5;
    int MaxLogFileAgeDays = 10;

    TVKTDataModule();
    ~TVKTDataModule();
    TVKTDataModule(const TVKTDataModule&) = delete;
    TVKTDataModule& operator=(const TVKTDataModule&) = delete;

    /// Reads vkt.ini into the settings above and fixes the program-wide formats.
    void DataModuleCreate();
    /// Opens the connection from the settings in memory; true when connected afterwards.
    bool ActivateConnection();
    /// The connection string built from the settings, with the password shown as "****" when `maskPassword`.
    std::string ConnectionString(bool maskPassword = false) const;
};

/// Path of vkt.ini in the program directory.
std::string ConfigFileName();
/// Path of dwater.ini in the program directory.
std::string DwaterFileName();
/// The backup directory of the data utilities: dwater.ini System/BackupDir, trimmed, or the
/// program directory (with its trailing separator) when missing.
std::string ReadBackupDir();

/// The application's data module (created by the entry sequence; tests create their own).
TVKTDataModule* DataModule();
void SetDataModule(TVKTDataModule* module);
