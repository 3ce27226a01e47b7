// The [Cluster] section: daemons with the same Daemon ID form a group that agrees on each site
// before an alarm and sends each notice once. With Quorum and Copies absent or 0 the daemon works
// alone; with Copies the members share the sites, each probed by that many of them.
#pragma once

#include <algorithm>
#include <string>

struct ClusterSettings {
    /// Members that must have failed a site in their latest scan for the group to count it down; 0: off.
    int Quorum = 0;
    /// This member's name in the group (the computer name by default).
    std::string Node;
    /// Seconds a claim on a notice is held before another member may take it over.
    int LeaseSeconds = 300;
    /// Live members that probe each site (a fleet that shares the sites); 0: every member probes every site.
    int Copies = 0;
    /// Seconds between a fleet member's heartbeats; a member three beats late is counted out.
    int HeartbeatSeconds = 5;

    /// Reads the keys from an INI file; `computerName` is the default of Node.
    static ClusterSettings Read(const std::string& iniFile, const std::string& computerName);
    bool Active() const { return Quorum > 0 || Copies > 0; }
    /// Whether the members share the sites ([Cluster] Copies set).
    bool Fleet() const { return Copies > 0; }
    /// The failures among a site's copies that count it down: the quorum, never more than the copies,
    /// and all the copies when no quorum is given.
    int FleetQuorum() const { return Quorum > 0 ? std::min(Quorum, Copies) : Copies; }
};
