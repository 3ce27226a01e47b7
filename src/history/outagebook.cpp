// OutageBook: opening, ending and telling of outages between two writes.
#include "history/outagebook.h"

#include <algorithm>

void OutageBook::Resume(const std::vector<OutageRecord>& open) {
    for (const OutageRecord& record : open)
        m_open.try_emplace(record.Code, Entry{record, false});
}

void OutageBook::Down(const std::string& code, long long start, const std::string& address, const std::string& cause) {
    if (IsOpen(code)) return;
    OutageRecord record;
    record.Code = code;
    record.Start = start;
    record.Address = address;
    record.Cause = cause;
    m_open.emplace(code, Entry{record, true});
}

void OutageBook::Up(const std::string& code, long long when) {
    const auto at = m_open.find(code);
    if (at == m_open.end()) return;
    Entry entry = at->second;
    m_open.erase(at);
    entry.Record.End = std::max(when, entry.Record.Start);
    entry.Changed = true;
    m_ended.push_back(entry);
}

void OutageBook::Notified(const std::string& code) {
    const auto at = m_open.find(code);
    if (at == m_open.end() || at->second.Record.Notified) return;
    at->second.Record.Notified = true;
    at->second.Changed = true;
}

std::vector<OutageRecord> OutageBook::Changes() const {
    std::vector<OutageRecord> changes;
    for (const Entry& entry : m_ended)
        changes.push_back(entry.Record);
    for (const auto& [code, entry] : m_open)
        if (entry.Changed) changes.push_back(entry.Record);
    return changes;
}

void OutageBook::MarkWritten() {
    m_ended.clear();
    for (auto& [code, entry] : m_open)
        entry.Changed = false;
}
