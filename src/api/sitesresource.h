// /api/v1/sites: the sites with what the board saw of them, and their creation, change and removal
// through the one store that checks site values against the columns.
#pragma once

#include "api/apidatabase.h"
#include "api/apirequest.h"
#include "db/sitestore.h"

#include <functional>
#include <string>
#include <vector>

class TStatusView;

class TSitesResource {
public:
    explicit TSitesResource(TApiDatabase& database) : m_database(database) {}

    /// Fills a view of the board and the maintenance windows; false when there is no board.
    std::function<bool(TStatusView& view)> LoadView;
    /// Hands an outage's acknowledgement (code as the board has it, by, comment), stored already, to the
    /// daemon; none when acknowledgements are not taken.
    std::function<void(const std::string& code, const std::string& by, const std::string& comment)> Acknowledge;

    /// This daemon's ID: the daemon a new site is given when the request names none.
    std::function<std::string()> DaemonId;

    /// GET /sites (`?daemon=ID` keeps that daemon's sites; state, tag, q, limit and after as SiteFilter
    /// reads them).
    TApiResponse List(const TApiRequest& request);
    /// GET /sites/{code}.
    TApiResponse Get(const std::string& code);
    /// POST /sites; `by` names the caller in the log ("token deploy", "user ana").
    TApiResponse Create(const TApiRequest& request, const std::string& by);
    /// PUT (`merge` false: fields left out are empty) or PATCH (`merge`: they keep their values).
    TApiResponse Change(const std::string& code, const TApiRequest& request, bool merge, const std::string& by);
    /// DELETE /sites/{code}: the site and its VKT rows.
    TApiResponse Remove(const std::string& code, const std::string& by);
    /// POST /sites/{code}/ack: acknowledges the site's open outage in the name `by` (a token's or user's).
    TApiResponse AckOutage(const std::string& code, const TApiRequest& request, const std::string& by);

private:
    TApiResponse Answer(int status, const SiteFields& site, const std::vector<std::string>& tags) const;

    TApiDatabase& m_database;
};
