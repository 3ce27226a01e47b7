// Every site's outages: from the first failed probe (or, in a group, the group's first alarm row) to
// the first answer, with the address and cause of the failure and whether its contacts were told.
// Kept in memory between two writes to the outage table.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

struct OutageRecord {
    std::string Code, Address, Cause;
    long long Start = 0; ///< seconds since 1970
    long long End = 0;   ///< 0 while it lasts
    bool Notified = false;
    bool Open() const { return End == 0; }
};

class OutageBook {
public:
    /// Outages an earlier run left open: a site still down goes on with its outage, one that answers
    /// ends it.
    void Resume(const std::vector<OutageRecord>& open);
    bool IsOpen(const std::string& code) const { return m_open.count(code) != 0; }
    /// The site is down: opens its outage from `start` unless one is open.
    void Down(const std::string& code, long long start, const std::string& address, const std::string& cause);
    /// The site answers at `when`: its open outage ends.
    void Up(const std::string& code, long long when);
    /// The contacts were told of the site's open outage.
    void Notified(const std::string& code);

    /// The outages opened, ended or told of since the last MarkWritten (pages that read the table
    /// between two writes add them).
    std::vector<OutageRecord> Changes() const;
    /// The changes are in the table.
    void MarkWritten();

private:
    struct Entry {
        OutageRecord Record;
        bool Changed = true;
    };
    std::unordered_map<std::string, Entry> m_open; ///< by code
    std::vector<Entry> m_ended;                    ///< ended since the last write
};
