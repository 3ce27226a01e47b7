// /api/v1/maintenance: the daemon's maintenance windows running and to come, made from JSON under the
// rules of the status page's form, and ended early. They are in force at once; the scan stores them
// and writes the log line as it does for the page's.
#pragma once

#include "api/apirequest.h"

#include <string>

class MaintenanceBook;

class TMaintenanceResource {
public:
    /// The book the windows are read from and made in; none: the resource is not found.
    MaintenanceBook* Book = nullptr;

    /// GET /maintenance.
    TApiResponse List() const;
    /// POST /maintenance, made by the token named `token`.
    TApiResponse Make(const TApiRequest& request, const std::string& token);
    /// DELETE /maintenance/{id}: ends the window now.
    TApiResponse End(const std::string& id);
};
