// MaintenanceKeeper: the table is written and read on the data module's adoQ2 between scans and at a
// scan's start, never while a notification worker shares the connection.
#include "daemon/maintenancekeeper.h"

#include "daemon/activitylog.h"
#include "db/data.h"
#include "history/maintenancebook.h"
#include "history/maintenancetable.h"
#include "web/maintenanceform.h"

#include <exception>

namespace {

std::string MadeLine(const MaintenanceWindow& w, const TimeZone& zone) {
    const std::string when = w.Weekly() ? std::string("weekly")
                                        : "from " + LocalTimeText(w.Start, zone) + " to " + LocalTimeText(w.End, zone);
    return "Maintenance window for " + w.Code + " made by " + w.MadeBy + ": " + when + ".";
}

} // namespace

void MaintenanceKeeper::StoreChanges(TVKTDataModule& dm) {
    if (m_book == nullptr) return;
    std::vector<MaintenanceBook::Change> changes = m_book->TakeChanges();
    MaintenanceTable table(dm.adoQ2);
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const MaintenanceWindow& w = changes[i].Window;
        try {
            if (changes[i].EndEarly) {
                table.EndEarly(dm.VKTID, w.Id, w.Ended);
                WriteLog("MAINTAIN", "Maintenance window for " + w.Code + " ended early.");
            } else {
                table.Insert(dm.VKTID, w);
                WriteLog("MAINTAIN", MadeLine(w, m_book->Zone()));
            }
        } catch (const std::exception& e) {
            LogStepError("Storing a maintenance window", e);
            m_book->KeepChanges({changes.begin() + long(i), changes.end()});
            return;
        }
    }
}

void MaintenanceKeeper::Reload(TVKTDataModule& dm) {
    if (m_book == nullptr) return;
    try {
        m_book->Reload(MaintenanceTable(dm.adoQ2).Load(dm.VKTID));
    } catch (const std::exception& e) {
        LogStepError("Reading maintenance windows", e);
    }
}

bool MaintenanceKeeper::HeldNoticesFreed() {
    return m_book != nullptr && m_book->TakeFreedHolds();
}
