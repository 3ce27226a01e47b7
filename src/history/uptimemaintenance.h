// What the uptime leaves out: the time a site spent in a maintenance window. History asks for every
// stretch of time a probe result covers; the windows themselves are kept elsewhere.
#pragma once

#include <string>

class MaintenanceSpans {
public:
    virtual ~MaintenanceSpans() = default;
    /// Seconds of [from, to) (Unix seconds) in which site `code` was in a maintenance window; called for
    /// every covered stretch of every site (a scan of 10,000 sites asks 10,000 times), so keep it cheap.
    virtual long long SecondsIn(const std::string& code, long long from, long long to) const = 0;
};

/// No maintenance windows: every covered second counts.
class NoMaintenance : public MaintenanceSpans {
public:
    long long SecondsIn(const std::string&, long long, long long) const override { return 0; }
};
