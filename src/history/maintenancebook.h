// The maintenance windows of this daemon in memory, shared by the scan and the web threads: the scan
// reloads them from the table before each scan, stores what the status page made or ended, and asks
// whether a window holds a site's notices; the page shows them and makes or ends them at once.
#pragma once

#include "history/maintenance.h"
#include "history/uptimemaintenance.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class MaintenanceBook {
public:
    using Windows = std::shared_ptr<const std::vector<MaintenanceWindow>>;
    /// A window made, or ended early (its Id and Ended), on the page and not stored yet.
    struct Change {
        bool EndEarly = false;
        MaintenanceWindow Window;
    };

    /// `now`: whole seconds since 1970; the system's clock by default.
    explicit MaintenanceBook(const TimeZone& zone = LocalTimeZone(), std::function<long long()> now = {});

    const TimeZone& Zone() const { return m_zone; }
    long long Now() const;
    Windows Current() const;
    /// Grows with every change of the windows, so what was made from them can be told stale.
    std::uint64_t Version() const;

    /// The windows read from the table, with the changes not stored yet laid over them.
    void Reload(std::vector<MaintenanceWindow> stored);
    /// A window made on the page: in force at once; its Id is drawn here and returned.
    long long Make(MaintenanceWindow window);
    /// Ends a window that is running or still to come, now; false when there is none with this Id.
    bool EndEarly(long long id);
    /// The changes not stored yet, oldest first; the caller stores them.
    std::vector<Change> TakeChanges();
    /// Changes that could not be stored, kept for the next try.
    void KeepChanges(std::vector<Change> changes);

    /// Whether a window holds the site's notices now.
    bool Holds(const std::string& code) const;
    /// A notice of the site fell due while a window held it; true the first time until it is freed.
    bool NoteHeld(const std::string& code);
    /// Whether a window that held a notice has ended since; each such site is forgotten here.
    bool TakeFreedHolds();

private:
    void Publish(std::vector<MaintenanceWindow> windows);

    const TimeZone& m_zone;
    std::function<long long()> m_now;
    mutable std::mutex m_lock;
    Windows m_windows;
    std::vector<Change> m_changes;
    std::set<std::string> m_held;
    std::uint64_t m_version = 0;
};

/// The book's windows as the seconds the uptime leaves out.
class MaintenanceBookSpans : public MaintenanceSpans {
public:
    explicit MaintenanceBookSpans(const MaintenanceBook& book) : m_book(book) {}
    long long SecondsIn(const std::string& code, long long from, long long to) const override;

private:
    const MaintenanceBook& m_book;
};
