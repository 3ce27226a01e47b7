// Connecting a vkt-datutil command to its database.
#include "datutil/datutildb.h"

#include <cstdio>

DatUtilDatabase::DatUtilDatabase() : m_guard(&m_dm) {}

bool DatUtilDatabase::Open() {
    m_dm.DataModuleCreate();
    if (m_dm.ActivateConnection()) return true;
    std::fprintf(stderr, "vkt-datutil: Unable to connect to database: %s\n", m_dm.LastConnectionError().c_str());
    return false;
}
