// Reading the [Cluster] keys.
#include "cluster/clustersettings.h"

#include "platform/profile.h"
#include "platform/strutil.h"

#include <algorithm>

namespace {

/// A lease shorter than this could end while a notice is still being delivered to a slow server.
constexpr int MinLeaseSeconds = 5;
/// The node name is stored in a column of this size.
constexpr std::size_t MaxNodeLength = 64;

} // namespace

ClusterSettings ClusterSettings::Read(const std::string& iniFile, const std::string& computerName) {
    TIniFile ini(iniFile);
    ClusterSettings s;
    s.Quorum = std::max(ini.ReadInteger("Cluster", "Quorum", 0), 0);
    s.Node = Trim(ini.ReadString("Cluster", "Node", ""));
    if (s.Node.empty()) s.Node = computerName;
    s.Node = CutToBytes(s.Node, MaxNodeLength);
    s.LeaseSeconds = std::max(ini.ReadInteger("Cluster", "Lease", 300), MinLeaseSeconds);
    s.Copies = std::max(ini.ReadInteger("Cluster", "Copies", 0), 0);
    s.HeartbeatSeconds = std::max(ini.ReadInteger("Cluster", "Heartbeat", 5), 1);
    return s;
}
