// The alarm rows of the scanned sites: one row for each failed probe, and their end with the site's
// round-trip time stored once it answers. A failing statement is logged and the scan goes on.
#pragma once

#include <string>

class SiteAlarms {
public:
    /// Records one failed probe of the site.
    void Post(const std::string& code);
    /// Removes the site's alarms and marker and stores its round-trip time.
    void Clear(const std::string& code, int rtt);
    /// Removes the site's alarm and marker rows (the first step of Clear).
    void DeleteOutageRows(const std::string& code);
};
