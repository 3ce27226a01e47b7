// The data module: the daemon's settings in memory and (later) its one database connection
// with the query objects the scan, the alarms and the data utilities use.
#pragma once

#include "db/dbaccess.h"
#include "db/tablescripts.h"

#include <functional>
#include <string>
#include <vector>

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

    /// The daemon's one database connection; disconnected until ActivateConnection.
    TDbConnection conMain;
    /// The scan's site list and site rows; the daily purge.
    TDbQuery adoQ1{conMain};
    /// Alarm posting and clearing, the round-trip time; the data utilities' scripts, backups and counts.
    TDbQuery adoQ2{conMain};
    /// The notification decision: marker lookup, alarm list, site row.
    TDbQuery adoAlarms{conMain};

    TVKTDataModule();
    ~TVKTDataModule();
    TVKTDataModule(const TVKTDataModule&) = delete;
    TVKTDataModule& operator=(const TVKTDataModule&) = delete;

    /// Reads vkt.ini into the settings above and fixes the program-wide formats.
    void DataModuleCreate();
    /// Closes conMain and opens it again from the settings in memory; true when connected afterwards.
    /// Never throws: a failure returns false and leaves its message in LastConnectionError().
    bool ActivateConnection();
    /// The message of the last failed ActivateConnection (empty after a success).
    const std::string& LastConnectionError() const { return m_lastConnectionError; }
    /// The three statements that recreate one of the five tables (by its lower-case name), in the DDL
    /// of the configured provider (SQL Server's when the provider is unknown); false for any other name.
    bool TableScripts(const std::string& table, TTableScript& script) const;
    /// The kind of database the provider names; an ODBC data source of unknown kind for any other name.
    TDbDialect Dialect() const;
    /// The connection string built from the settings, with the password shown as "****" when `maskPassword`.
    std::string ConnectionString(bool maskPassword = false) const;

private:
    std::string m_lastConnectionError;
};

/// The statement pattern every caller follows: close the query, clear its text, add the lines, show
/// the busy cursor, open it (OpenStatement) or execute it (ExecStatement), and restore the cursor,
/// also when the statement fails. Errors are raised to the caller.
void OpenStatement(TDbQuery& query, const std::vector<std::string>& lines);
void ExecStatement(TDbQuery& query, const std::vector<std::string>& lines);
/// Opens the rows of table site whose code the database matches to `code`, every column.
void OpenSiteRows(TDbQuery& query, const std::string& code);
/// Opens the rows of table site whose code matches one of `codes` (not empty), in one statement.
void OpenSiteRows(TDbQuery& query, const std::vector<std::string>& codes);
/// Makes a table that the database does not have by running its statements (the create, then its
/// index) one by one on `query`. Another process making the same table at the same moment is no error.
void CreateTableIfMissing(TDbQuery& query, const std::string& table, const std::vector<std::string>& statements);
/// Runs `body` in one transaction on `query`'s connection: committed when it returns, rolled back when
/// it throws (the error goes on to the caller), so a write is stored whole or not at all.
void RunInTransaction(TDbQuery& query, TDbDialect dialect, const std::function<void()>& body);
/// Installs what shows and hides the busy cursor (the console window); none by default.
void SetBusyCursorHook(std::function<void(bool busy)> hook);

/// Path of vkt.ini in the program directory.
std::string ConfigFileName();
/// The daemon's ID: System/VKTID of the INI file `configFile` (vkt.ini), trimmed; empty when not set.
std::string ReadDaemonId(const std::string& configFile);
/// Path of dwater.ini in the program directory.
std::string DwaterFileName();
/// The backup directory of the data utilities: dwater.ini System/BackupDir, trimmed, or the
/// program directory (with its trailing separator) when missing.
std::string ReadBackupDir();

/// The application's data module (created by the entry sequence; tests create their own).
TVKTDataModule* DataModule();
/// Installs the application's data module and returns the one it replaced. Prefer ScopedDataModule.
TVKTDataModule* SetDataModule(TVKTDataModule* module);
using ScopedDataModule = ScopedInstall<TVKTDataModule, &SetDataModule>;
