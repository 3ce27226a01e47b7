// The maintenance windows of this daemon in memory, shared by the scan and the web threads: the scan
// reloads them from the table before each scan and asks whether a window holds a site's notices; the
// page and the API show them, and make or end them at once, each stored first on the caller's own
// connection so that nothing answered is lost by a stop.
#pragma once

#include "db/sitetags.h"
#include "history/maintenance.h"
#include "history/uptimemaintenance.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

/// A window running or to come at a moment, with its occurrence that holds the moment, else its next.
struct ListedWindow {
    const MaintenanceWindow* Window = nullptr;
    TimeSpan Next;
    bool Holding = false;
};

/// One page of the windows running or to come, by the start of that occurrence, then by id.
struct MaintenancePage {
    std::vector<ListedWindow> Windows;
    /// How many are running or to come in all.
    std::size_t Total = 0;
    /// The cursor of the page after this one ("start.id" of its last window); empty on the last page.
    std::string Next;
    /// False when the cursor asked for was none of ours.
    bool CursorRead = true;
};

/// The page of at most `limit` windows after the cursor `after` (empty: from the first) at `now`.
MaintenancePage ListMaintenance(const std::vector<MaintenanceWindow>& windows, long long now, const TimeZone& zone,
                                const std::string& after, std::size_t limit);

class MaintenanceBook {
public:
    using Windows = std::shared_ptr<const std::vector<MaintenanceWindow>>;
    /// Writes a window made (`endEarly` false) or ended early (its Id and Ended) to the table, on the
    /// caller's own connection; raises the database's error.
    using Store = std::function<void(const MaintenanceWindow& window, bool endEarly)>;
    /// The windows running or to come one daemon keeps at most.
    static constexpr std::size_t MaxOpen = 10000;
    enum class Outcome { Done, Full, NoSuchWindow };

    /// `now`: whole seconds since 1970; the system's clock by default.
    explicit MaintenanceBook(const TimeZone& zone = LocalTimeZone(), std::function<long long()> now = {});

    const TimeZone& Zone() const { return m_zone; }
    long long Now() const;
    Windows Current() const;
    /// Grows with every change of the windows, so what was made from them can be told stale.
    std::uint64_t Version() const;

    /// The windows as `load` reads them from the table; no window is made or ended meanwhile.
    void Reload(const std::function<std::vector<MaintenanceWindow>()>& load);
    /// Makes a window: Full when MaxOpen are running or to come already. Its Id is drawn here (set in
    /// `window`), `store` writes it, and only then is it in force; a store's error is raised and
    /// nothing is made.
    Outcome Make(MaintenanceWindow& window, const Store& store);
    /// Ends a window that is running or still to come, now, stored first as Make does; NoSuchWindow
    /// when there is none with this Id. `ended`: the window as ended.
    Outcome EndEarly(long long id, const Store& store, MaintenanceWindow* ended = nullptr);

    /// The sites' tags the windows of a tag ("tag:T") go by, as last read before a scan.
    void UseTags(std::shared_ptr<const SiteTagMap> tags);
    /// The code's tags as last given; empty when it has none.
    std::vector<std::string> TagsOf(const std::string& code) const;
    /// Whether a window holds the site's notices now.
    bool Holds(const std::string& code) const;
    /// A notice of the site fell due while a window held it; true the first time until it is freed.
    bool NoteHeld(const std::string& code);
    /// Whether a window that held a notice has ended since; each such site is forgotten here.
    bool TakeFreedHolds();

private:
    /// The list to change: the published one itself while no reader holds it, else a copy.
    std::shared_ptr<std::vector<MaintenanceWindow>> Writable();

    const TimeZone& m_zone;
    std::function<long long()> m_now;
    /// One maker, ender or reload at a time, each with its statement; readers never wait for it.
    std::mutex m_writeLock;
    mutable std::mutex m_lock;
    std::shared_ptr<std::vector<MaintenanceWindow>> m_windows;
    std::set<std::string> m_held;
    std::shared_ptr<const SiteTagMap> m_tags;
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
