// TApiSessions: ids and CSRF values of 32 random bytes each, expired on use and when the table is full.
#include "api/apisessions.h"

#include "api/apitokens.h"

#include <algorithm>

TApiSession TApiSessions::Open(const std::string& user, TApiRole role, Clock::MonoTime now) {
    TApiSession session{RandomHex(32), RandomHex(32), user, role, now};
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_sessions.size() >= MaxSessions) {
        std::erase_if(m_sessions, [now](const auto& item) { return now - item.second.Last >= IdleTime; });
        if (m_sessions.size() >= MaxSessions)
            m_sessions.erase(std::min_element(m_sessions.begin(), m_sessions.end(), [](const auto& a, const auto& b) {
                return a.second.Last < b.second.Last;
            }));
    }
    m_sessions[session.Id] = session;
    return session;
}

std::optional<TApiSession> TApiSessions::Find(const std::string& id, Clock::MonoTime now) {
    std::lock_guard<std::mutex> lock(m_lock);
    const auto it = m_sessions.find(id);
    if (it == m_sessions.end()) return std::nullopt;
    if (now - it->second.Last >= IdleTime) {
        m_sessions.erase(it);
        return std::nullopt;
    }
    it->second.Last = now;
    return it->second;
}

void TApiSessions::Close(const std::string& id) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_sessions.erase(id);
}

void TApiSessions::CloseUser(const std::string& user) {
    std::lock_guard<std::mutex> lock(m_lock);
    std::erase_if(m_sessions, [&](const auto& item) { return item.second.User == user; });
}

void TApiSessions::SetRole(const std::string& user, TApiRole role) {
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto& [id, session] : m_sessions)
        if (session.User == user) session.Role = role;
}
