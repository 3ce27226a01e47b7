// MaintenanceKeeper: the table is read on the data module's adoQ2 at a scan's start, never while a
// notification worker shares the connection.
#include "monitor/maintenancekeeper.h"

#include "platform/activitylog.h"
#include "db/data.h"
#include "history/maintenancebook.h"
#include "history/maintenancetable.h"

#include <exception>

void MaintenanceKeeper::Reload(TVKTDataModule& dm) {
    if (m_book == nullptr) return;
    try {
        m_book->Reload([&dm] { return MaintenanceTable(dm.adoQ2).Load(dm.VKTID); });
    } catch (const std::exception& e) {
        LogStepError("Reading maintenance windows", e);
    }
}

void MaintenanceKeeper::UseTags(std::shared_ptr<const SiteTagMap> tags) {
    if (m_book != nullptr) m_book->UseTags(std::move(tags));
}

bool MaintenanceKeeper::HeldNoticesFreed() {
    return m_book != nullptr && m_book->TakeFreedHolds();
}
