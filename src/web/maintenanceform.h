// The form of POST /status/maintenance, as a browser sends it (application/x-www-form-urlencoded):
// a window to make, or one to end early.
//   code      a site code, or "*" for every site of the Daemon ID (required to make one)
//   minutes   one-off: from now for this many minutes; weekly: how long each occurrence lasts
//   start, end  one-off instead of minutes: "yyyy-mm-dd hh:nn[:ss]" (or with "T"), daemon's local time
//   weekdays  weekly: mon tue wed thu fri sat sun, comma-separated or the field repeated
//   time      weekly: "hh:nn[:ss]", local time of day each occurrence begins
//   reason    free text
//   end_early the id of a window to end now (the other fields are then ignored)
#pragma once

#include "history/maintenancebook.h"

#include <map>
#include <string>

struct MaintenanceRequest {
    /// Ends the window `EndId` early; otherwise makes `Window` (its Id is drawn when it is made).
    bool EndEarly = false;
    long long EndId = 0;
    MaintenanceWindow Window;
    /// Why the form cannot be used; empty when it can.
    std::string Error;
};

/// The fields by name, decoded; a name may come more than once ("weekdays").
using MaintenanceFields = std::multimap<std::string, std::string>;

/// Reads the form's body at the moment `now` in the daemon's time zone.
MaintenanceRequest ParseMaintenanceForm(const std::string& body, long long now, const TimeZone& zone);
/// The same rules over fields that came some other way than a form (the API's JSON).
MaintenanceRequest ParseMaintenanceFields(const MaintenanceFields& fields, long long now, const TimeZone& zone);

/// "yyyy-mm-dd hh:nn:ss" of the moment on the zone's wall clock.
std::string LocalTimeText(long long utc, const TimeZone& zone);

/// The activity log's line of a window made, or ended early by `by`.
std::string MaintenanceLogLine(const MaintenanceWindow& window, bool endedEarly, const std::string& by,
                               const TimeZone& zone);

/// Makes the request's window (made by `by`), or ends the window it names, stored through `store`
/// before it takes effect, and logs it as MAINTAIN. The store's error is raised and nothing changes.
/// `request.Window` is the window made.
MaintenanceBook::Outcome ApplyMaintenance(MaintenanceBook& book, MaintenanceRequest& request, const std::string& by,
                                          const MaintenanceBook::Store& store);

/// The answer to a form or body refused for the book's bound.
std::string MaintenanceFullText();
