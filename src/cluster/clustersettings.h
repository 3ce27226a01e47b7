// The [Cluster] section: daemons with the same Daemon ID form a group that agrees on each site
// before an alarm and sends each notice once. With Quorum absent or 0 the daemon works alone.
#pragma once

#include <string>

struct ClusterSettings {
    /// Members that must have failed a site in their latest scan for the group to count it down; 0: off.
    int Quorum = 0;
    /// This member's name in the group (the computer name by default).
    std::string Node;
    /// Seconds a claim on a notice is held before another member may take it over.
    int LeaseSeconds = 300;

    /// Reads the keys from an INI file; `computerName` is the default of Node.
    static ClusterSettings Read(const std::string& iniFile, const std::string& computerName);
    bool Active() const { return Quorum > 0; }
};
