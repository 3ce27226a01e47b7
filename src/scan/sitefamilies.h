// The per-site address family choice: table sitefamily (CODE, Family), made when missing and read at the
// start of each scan once [Scan] Family is given. A site without a row, or with a value other than
// auto, v4, v6 or both, is probed on the scan's Family.
#pragma once

#include "db/dbaccess.h"
#include "platform/probeaddress.h"

#include <string>
#include <unordered_map>

class SiteFamilies {
public:
    /// Makes the table when missing and reads it; raises the database's error (the scan then probes
    /// every site on `fallback`).
    void Load(TDbQuery& query, AddressFamily fallback);
    /// The family the site of `code` is probed on.
    AddressFamily For(const std::string& code) const;

private:
    AddressFamily m_fallback = AddressFamily::Auto;
    std::unordered_map<std::string, AddressFamily> m_chosen; // by the code's match key
};
