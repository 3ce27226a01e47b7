// The scan's side of the maintenance windows (the page and the API store what they make or end
// themselves): the windows are read again before each scan, and a window that held a notice and has
// ended has its sites looked at again at once. On the user-interface thread.
#pragma once

#include "db/sitetags.h"

#include <memory>

class MaintenanceBook;
class TVKTDataModule;

class MaintenanceKeeper {
public:
    /// The book the web threads and the notice runner share; none: nothing is done.
    void Use(MaintenanceBook* book) { m_book = book; }
    /// Reads the Daemon ID's windows again; a failure is logged and the windows in memory stay.
    void Reload(TVKTDataModule& dm);
    /// The sites' tags the windows of a tag go by.
    void UseTags(std::shared_ptr<const SiteTagMap> tags);
    /// Whether a window that held a notice has ended since the last call.
    bool HeldNoticesFreed();

private:
    MaintenanceBook* m_book = nullptr;
};
