// /api/v1/sites: the sites with what the board saw of them, and their creation, change and removal
// through the one store that checks site values against the columns.
#pragma once

#include "api/apidatabase.h"
#include "api/apirequest.h"

#include <functional>
#include <string>

class TStatusBoard;

class TSitesResource {
public:
    TSitesResource(TApiDatabase& database, const TStatusBoard* board) : m_database(database), m_board(board) {}

    /// This daemon's ID: the daemon a new site is given when the request names none.
    std::function<std::string()> DaemonId;
    /// Writes one line of the activity log for each change.
    std::function<void(const std::string& message)> Log;

    /// GET /sites (`?daemon=ID` keeps that daemon's sites).
    TApiResponse List(const TApiRequest& request);
    /// GET /sites/{code}.
    TApiResponse Get(const std::string& code);
    /// POST /sites, by the token named `token`.
    TApiResponse Create(const TApiRequest& request, const std::string& token);
    /// PUT (`merge` false: fields left out are empty) or PATCH (`merge`: they keep their values).
    TApiResponse Change(const std::string& code, const TApiRequest& request, bool merge, const std::string& token);
    /// DELETE /sites/{code}: the site and its VKT rows.
    TApiResponse Remove(const std::string& code, const std::string& token);

private:
    TApiDatabase& m_database;
    const TStatusBoard* m_board;
};
