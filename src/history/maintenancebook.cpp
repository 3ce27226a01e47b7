// MaintenanceBook: one lock over a small list; readers take the published list and let go at once.
#include "history/maintenancebook.h"

#include "platform/strutil.h"

#include <algorithm>
#include <ctime>
#include <random>
#include <utility>

namespace {

/// Ids are drawn at random, so daemons sharing the table never pick the same one in practice.
long long DrawId() {
    std::random_device source;
    const unsigned long long high = source(), low = source();
    return static_cast<long long>(((high << 32) | low) & 0x07FFFFFFFFFFFFFFULL) + 1; // at most 18 digits
}

void Apply(std::vector<MaintenanceWindow>& windows, const MaintenanceBook::Change& change) {
    auto same = std::find_if(windows.begin(), windows.end(),
                             [&](const MaintenanceWindow& w) { return w.Id == change.Window.Id; });
    if (!change.EndEarly) {
        if (same == windows.end()) windows.push_back(change.Window);
    } else if (same != windows.end() && same->Ended == 0) {
        same->Ended = change.Window.Ended;
    }
}

} // namespace

MaintenanceBook::MaintenanceBook(const TimeZone& zone, std::function<long long()> now)
    : m_zone(zone), m_now(std::move(now)), m_windows(std::make_shared<const std::vector<MaintenanceWindow>>()) {}

long long MaintenanceBook::Now() const {
    return m_now ? m_now() : static_cast<long long>(std::time(nullptr));
}

MaintenanceBook::Windows MaintenanceBook::Current() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_windows;
}

std::uint64_t MaintenanceBook::Version() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_version;
}

void MaintenanceBook::Publish(std::vector<MaintenanceWindow> windows) {
    m_windows = std::make_shared<const std::vector<MaintenanceWindow>>(std::move(windows));
    ++m_version;
}

void MaintenanceBook::Reload(std::vector<MaintenanceWindow> stored) {
    std::lock_guard<std::mutex> lock(m_lock);
    for (const Change& change : m_changes)
        Apply(stored, change);
    Publish(std::move(stored));
}

long long MaintenanceBook::Make(MaintenanceWindow window) {
    window.Id = DrawId();
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<MaintenanceWindow> windows = *m_windows;
    windows.push_back(window);
    m_changes.push_back({false, window});
    Publish(std::move(windows));
    return window.Id;
}

bool MaintenanceBook::EndEarly(long long id) {
    const long long now = Now();
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<MaintenanceWindow> windows = *m_windows;
    auto it = std::find_if(windows.begin(), windows.end(), [id](const MaintenanceWindow& w) { return w.Id == id; });
    if (it == windows.end() || !NextOccurrence(*it, now, m_zone)) return false;
    it->Ended = now;
    m_changes.push_back({true, *it});
    Publish(std::move(windows));
    return true;
}

std::vector<MaintenanceBook::Change> MaintenanceBook::TakeChanges() {
    std::lock_guard<std::mutex> lock(m_lock);
    return std::exchange(m_changes, {});
}

void MaintenanceBook::KeepChanges(std::vector<Change> changes) {
    std::lock_guard<std::mutex> lock(m_lock);
    changes.insert(changes.end(), m_changes.begin(), m_changes.end());
    m_changes = std::move(changes);
}

bool MaintenanceBook::Holds(const std::string& code) const {
    const long long now = Now();
    const Windows windows = Current();
    return std::any_of(windows->begin(), windows->end(),
                       [&](const MaintenanceWindow& w) { return w.Covers(code) && HoldsAt(w, now, m_zone); });
}

bool MaintenanceBook::NoteHeld(const std::string& code) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_held.insert(UpperCase(Trim(code))).second;
}

bool MaintenanceBook::TakeFreedHolds() {
    std::set<std::string> held;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        held = m_held;
    }
    bool freed = false;
    for (const std::string& code : held)
        if (!Holds(code)) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_held.erase(code);
            freed = true;
        }
    return freed;
}

long long MaintenanceBookSpans::SecondsIn(const std::string& code, long long from, long long to) const {
    const MaintenanceBook::Windows windows = m_book.Current();
    if (!windows || windows->empty()) return 0; // the common case stays cheap: no window at all
    return MaintenanceSeconds(*windows, code, from, to, m_book.Zone());
}
