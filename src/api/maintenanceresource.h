// /api/v1/maintenance: the daemon's maintenance windows running and to come, listed a page at a time,
// made from JSON under the rules of the status page's form, and ended early. Each is stored on the
// API's own connection before the answer, logged as the page's are, and in force at once.
#pragma once

#include "api/apirequest.h"
#include "history/maintenancebook.h"

#include <functional>
#include <string>

class TMaintenanceResource {
public:
    /// The book the windows are read from and made in; none: the resource is not found.
    MaintenanceBook* Book = nullptr;
    /// Runs the work with a store on the API's own connection; the database's error is raised.
    std::function<void(const std::function<void(const MaintenanceBook::Store&)>& work)> Storing;

    /// The most windows one page lists, and how many it lists when the request does not say.
    static constexpr std::size_t MaxLimit = 1000, DefaultLimit = 100;

    /// GET /maintenance[?limit=N&after=CURSOR].
    TApiResponse List(const TApiRequest& request) const;
    /// POST /maintenance, made by the token named `token`.
    TApiResponse Make(const TApiRequest& request, const std::string& token);
    /// DELETE /maintenance/{id}: ends the window now, by the token named `token`.
    TApiResponse End(const std::string& id, const std::string& token);
};
