// Console controller: probing one site address, the same probe the scan makes one site at a time.
#include "daemon/tfrmmain.h"
#include "scan/singleprobe.h"

bool TfrmMain::PingSite(const std::string& address, int& rtt) {
    return ::PingSite(address, ScanSettings.Family, rtt);
}

SiteResult TfrmMain::ProbeOnce(const std::string& address, AddressFamily family) {
    return ::ProbeOnce(address, family);
}

SiteResult TfrmMain::ProbeFamily(const std::string& address, AddressFamily family) {
    return ::ProbeFamily(address, family);
}
