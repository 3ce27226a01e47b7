// TWebGuard: the [Web] settings read once when the listener starts, and the order in which a
// request meets the rules.
#include "web/webguard.h"

#include "platform/profile.h"
#include "platform/strutil.h"

std::vector<std::string> TWebGuard::Load(const std::string& iniFile) {
    std::vector<std::string> lines;
    m_hosts.Load(GetPrivateProfileString("Web", "Hosts", "", iniFile));
    m_listen = Trim(GetPrivateProfileString("Web", "Listen", "", iniFile));
    m_user = Trim(GetPrivateProfileString("Web", "User", "", iniFile));
    m_passwordHash = Trim(GetPrivateProfileString("Web", "Password", "", iniFile));
    std::vector<std::string> rejected;
    m_allow.Parse(Trim(GetPrivateProfileString("Web", "Allow", "", iniFile)), rejected);
    for (const std::string& entry : rejected)
        lines.push_back("[Web] Allow: \"" + entry + "\" is neither an address nor a CIDR block; left out.");
    if ((!m_user.empty() || !m_passwordHash.empty()) && !UsableCryptHash(m_passwordHash))
        lines.push_back("[Web] Password is no crypt(3) hash: every request will be refused.");
    return lines;
}

// A request whose Host is not this machine gets no answer at all, whatever it asks for: a page
// under a hostile name that resolves here (DNS rebinding) would otherwise read the settings, the
// log and the board with the browser's help. The login is asked only of a request that may be
// answered.
TWebGuard::TVerdict TWebGuard::Screen(const THTTPRequest& request) const {
    if (!HostAllowed(request)) return TVerdict::Silence;
    return LoginAccepted(request) ? TVerdict::Answer : TVerdict::AskLogin;
}

// A request without Host (HTTP/1.0 allows it) names nothing to check; one with several is refused.
bool TWebGuard::HostAllowed(const THTTPRequest& request) const {
    if (request.Hosts.empty()) return true;
    return request.Hosts.size() == 1 && m_hosts.Accepts(request.Hosts[0]);
}

// The first Authorization line counts; a request without one is checked as one with an empty one.
bool TWebGuard::LoginAccepted(const THTTPRequest& request) const {
    if (m_user.empty() && m_passwordHash.empty()) return true;
    const std::string given = request.Authorizations.empty() ? std::string() : request.Authorizations[0];
    return BasicLoginMatches(given, m_user, m_passwordHash);
}
