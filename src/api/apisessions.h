// The signed-in users of the API's pages: sessions kept in memory only (a restart signs everyone
// out), each known by a random id in a cookie, with a second random value that every change sent
// with the cookie must repeat in a header, which another site's page cannot read or set.
#pragma once

#include "api/apiroles.h"
#include "platform/clock.h"

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>

struct TApiSession {
    std::string Id;
    std::string Csrf;
    std::string User;
    TApiRole Role = TApiRole::Viewer;
    Clock::MonoTime Last{};
};

class TApiSessions {
public:
    /// A session unused this long is gone.
    static constexpr std::chrono::minutes IdleTime{30};
    /// The most sessions kept; past that the one unused longest is dropped.
    static constexpr std::size_t MaxSessions = 10000;

    TApiSession Open(const std::string& user, TApiRole role, Clock::MonoTime now);
    /// The session of the id, its idle time started afresh; none when unknown or expired.
    std::optional<TApiSession> Find(const std::string& id, Clock::MonoTime now);
    void Close(const std::string& id);
    /// Drops every session of `user` (a removed user is signed out).
    void CloseUser(const std::string& user);
    /// Gives every session of `user` the role: a change of role holds from the next request on.
    void SetRole(const std::string& user, TApiRole role);

private:
    std::mutex m_lock;
    std::map<std::string, TApiSession> m_sessions;
};
