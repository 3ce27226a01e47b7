// The data module: settings read from vkt.ini and the connection built from them.
#include "db/data.h"

#include "db/dbsession.h"

#include <atomic>
#include <clocale>
#include <cstring>

#include "db/connstring.h"

#include "platform/profile.h"
#include "platform/progdir.h"
#include "platform/strutil.h"

namespace {
std::atomic<TVKTDataModule*> g_dataModule{nullptr};
}

TVKTDataModule* DataModule() {
    return g_dataModule;
}

TVKTDataModule* SetDataModule(TVKTDataModule* module) {
    return g_dataModule.exchange(module);
}

std::string ConfigFileName() {
    return ProgramDir() + "vkt.ini";
}

std::string ReadDaemonId(const std::string& configFile) {
    return Trim(GetPrivateProfileString("System", "VKTID", "", configFile));
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
    // ("yyyy-mm-dd", "hh:nn", "hh:nn:ss", "," and "."), whatever the user's locale says. The C
    // library's number conversions follow LC_NUMERIC, which the desktop face's toolkit sets from the
    // user's locale: put it back so that 2.5 is written and read as "2.5" and never as "2,5".
    const char* numeric = std::setlocale(LC_NUMERIC, nullptr);
    if (numeric == nullptr || std::strcmp(numeric, "C") != 0) std::setlocale(LC_NUMERIC, "C");
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
    VKTID = ReadDaemonId(ConfigFileName());
}

std::string TVKTDataModule::ConnectionString(bool maskPassword) const {
    return Format("Provider=%s;Persist Security Info=True;User ID=%s;Password=%s;Initial Catalog=%s;Data Source=%s",
                  DBProvider.c_str(), DBUser.c_str(), maskPassword ? "****" : DBPass.c_str(), DataBase.c_str(),
                  DBServer.c_str());
}

bool TVKTDataModule::ActivateConnection() {
    conMain.Close();
    conMain.ConnectionString = ConnectionString();
    try {
        if (!conMain.Connected()) conMain.Open();
    } catch (const std::exception& e) {
        m_lastConnectionError = e.what();
        return false;
    }
    m_lastConnectionError.clear();
    return conMain.Connected();
}

bool TVKTDataModule::TableScripts(const std::string& table, TTableScript& script) const {
    TDbDialect dialect = TDbDialect::SqlServer;
    try {
        dialect = DialectOfProvider(DBProvider);
    } catch (const EDatabaseError&) {
        // an unknown provider never connects; its scripts are the SQL Server ones
    }
    return TableScript(dialect, table, script);
}

void RunInTransaction(TDbQuery& query, TDbDialect dialect, const std::function<void()>& body) {
    const TransactionText text = TransactionOf(dialect);
    ExecStatement(query, {text.Begin});
    try {
        body();
    } catch (...) {
        try {
            ExecStatement(query, {text.Rollback});
        } catch (const Exception&) {
            // The link is gone: the server drops the open transaction with it.
        }
        throw;
    }
    ExecStatement(query, {text.Commit});
}

void CreateTableIfMissing(TDbQuery& query, const std::string& table, const std::vector<std::string>& statements) {
    TDbSession& session = query.Connection().Session();
    if (session.TableExists(table)) return;
    try {
        for (const std::string& statement : statements)
            ExecStatement(query, {statement});
    } catch (const EDatabaseError&) {
        if (!session.TableExists(table)) throw; // not made by another process meanwhile
    }
}

TDbDialect TVKTDataModule::Dialect() const {
    try {
        return DialectOfProvider(DBProvider);
    } catch (const EDatabaseError&) {
        return TDbDialect::OdbcDsn;
    }
}

namespace {

std::function<void(bool)>& BusyCursorHook() {
    static std::function<void(bool)> hook;
    return hook;
}

// Shows the busy cursor for its lifetime.
class BusyCursor {
public:
    BusyCursor() { Show(true); }
    ~BusyCursor() { Show(false); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    static void Show(bool busy) {
        if (BusyCursorHook()) BusyCursorHook()(busy);
    }
};

void Prepare(TDbQuery& query, const std::vector<std::string>& lines) {
    query.Close();
    query.SQL.Clear();
    for (const std::string& line : lines)
        query.SQL.Add(line);
}

} // namespace

void SetBusyCursorHook(std::function<void(bool busy)> hook) {
    BusyCursorHook() = std::move(hook);
}

void OpenStatement(TDbQuery& query, const std::vector<std::string>& lines) {
    Prepare(query, lines);
    BusyCursor cursor;
    query.Open();
}

void ExecStatement(TDbQuery& query, const std::vector<std::string>& lines) {
    Prepare(query, lines);
    BusyCursor cursor;
    query.ExecSQL();
}

void OpenSiteRows(TDbQuery& query, const std::string& code) {
    OpenStatement(query, {"SELECT * FROM site WHERE code = " + SQLLiteral(code) + " "});
}

void OpenSiteRows(TDbQuery& query, const std::vector<std::string>& codes) {
    std::string list;
    for (const std::string& code : codes)
        list += (list.empty() ? "" : ", ") + SQLLiteral(code);
    OpenStatement(query, {"SELECT * FROM site WHERE code IN (" + list + ") "});
}
