// A program directory for the real daemon with a database of either backend, its sites seeded
// through the data layer, and helpers that read the daemon's output.
#pragma once

#include "db/data.h"
#include "platform/icmpecho.h"
#include "platform/strutil.h"
#include "testutil.h"
#include "vktprocess.h"

#include <chrono>
#include <string>
#include <thread>
#include <vector>

/// The database the daemon and the test share, opened by the test through the data layer.
class SharedDb {
public:
    /// `provider` SQLite (DataBase a file path) or PostgreSQL (DataBase and DBServer of the server).
    SharedDb(const std::string& provider, const std::string& database, const std::string& server) {
        dm.DBProvider = provider;
        dm.DataBase = database;
        dm.DBServer = server;
        dm.DBUser = "vkt";
        dm.DBPass = "";
    }
    bool Connect() { return dm.ActivateConnection(); }
    void Exec(const std::string& sql) { ExecStatement(q, {sql}); }
    long long Count(const std::string& sql) {
        OpenStatement(q, {sql});
        return q.FieldByName("n").AsInteger();
    }
    void AddSite(const std::string& daemon, const std::string& code, const std::string& address,
                 const std::string& email = "", const std::string& owner = "") {
        Exec("INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner) VALUES (" +
             SQLLiteral(code) + ", 'Depot', " + SQLLiteral(address) + ", 0, " + SQLLiteral(email) + ", " +
             (email.empty() ? "0" : "2") + ", " + SQLLiteral(owner) + ")");
        Exec("INSERT INTO VKT (VKTID, sitecode) VALUES (" + SQLLiteral(daemon) + ", " + SQLLiteral(code) + ")");
    }
    /// The ini lines that point a daemon at this database.
    std::string IniLines() const {
        return "DBProvider=" + dm.DBProvider + "\r\nDataBase=" + dm.DataBase + "\r\nDBServer=" + dm.DBServer +
               "\r\nDBUser=vkt\r\nDBPass=\r\n";
    }
    TVKTDataModule dm;
    TDbQuery q{dm.conMain};
};

/// A program directory and working directory for one daemon scanning every second.
struct DaemonHome {
    DaemonHome(const SharedDb& db, const std::string& daemonId, const std::string& mail = "") {
        WriteFileText(home.File("vkt.ini"), "[System]\r\nVKTID=" + daemonId + "\r\n" + db.IniLines() +
                                                "PollDelay=0\r\nNetPort=0\r\n[Mail]\r\n" + mail);
    }
    TempDir home, work;
};

/// Whether this process (and so the daemon it starts) may send echo requests; `why` tells why not.
inline bool CanProbe(std::string& why) {
    try {
        IcmpCreateFile();
        return true;
    } catch (const std::exception& e) {
        why = e.what();
        return false;
    }
}

/// How many times `text` occurs in `output`.
inline int Occurrences(const std::string& output, const std::string& text) {
    int n = 0;
    for (std::size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1))
        ++n;
    return n;
}

/// Waits until the daemon's output holds `text` at least `count` times.
inline bool WaitForCount(const VktProcess& vkt, const std::string& text, int count, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (Occurrences(vkt.Output(), text) < count) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

/// "[CATEGORY] message" of the output's log lines whose category is one of `categories`.
inline std::vector<std::string> LogEvents(const std::string& output, const std::vector<std::string>& categories) {
    std::vector<std::string> events;
    for (const std::string& line : SplitString(output, '\n')) {
        if (line.size() < 34 || line[22] != '[') continue;
        std::size_t end = line.find(' ', 22);
        std::string category = line.substr(22, end - 22);
        for (const std::string& c : categories)
            if (category == "[" + c + "]") {
                std::size_t text = line.find_first_not_of(' ', end);
                events.push_back(category + " " + line.substr(text, line.size() - text - 1));
            }
    }
    return events;
}
