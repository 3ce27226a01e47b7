// Every guard of the admin port in one place, all from section [Web] of vkt.ini: the address it
// listens on (Listen), the peers it accepts (Allow), the names a request may give as Host, and the
// HTTP Basic login every request must carry when one is set.
#pragma once

#include "web/addressfilter.h"
#include "web/basiclogin.h"
#include "web/hostguard.h"
#include "web/httprequest.h"

#include <string>
#include <vector>

class TWebGuard {
public:
    /// What a request gets: its answer, nothing at all, or the request for a login.
    enum class TVerdict { Answer, Silence, AskLogin };

    /// Reads section [Web] of `iniFile` (Listen, Allow, Hosts, User, Password) and learns this
    /// machine's names; returns one log line for each setting it cannot use, in that order.
    std::vector<std::string> Load(const std::string& iniFile);
    /// The local address to bind; empty for every address.
    const std::string& Listen() const { return m_listen; }
    /// Whether an Allow list is in force, so that peers are screened when they connect.
    bool ScreensPeers() const { return m_allow.Active(); }
    /// Whether a peer with this dotted address may connect.
    bool AllowsPeer(const std::string& dotted) const { return m_allow.Allows(dotted); }
    /// The Host rule first, then the login.
    TVerdict Screen(const THTTPRequest& request) const;
    /// Whether a request that Screen answers may change something (a save, a maintenance window):
    /// no Origin, Referer or Sec-Fetch-Site says it comes from another site.
    bool AllowsChange(const THTTPRequest& request) const { return request.SameSite(); }
    /// Who a request that Screen answers is logged in as; empty without a login.
    const std::string& LoggedInUser() const { return m_user; }
    /// The Host rule alone, for a request that proved itself otherwise (the API's tokens).
    bool HostAllowed(const THTTPRequest& request) const;

private:
    bool LoginAccepted(const THTTPRequest& request) const;

    std::string m_listen;
    TAddressFilter m_allow;
    THostGuard m_hosts;
    /// User and Password (a crypt(3) hash); with either set, every request needs the login.
    std::string m_user;
    std::string m_passwordHash;
};
