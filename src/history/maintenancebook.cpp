// MaintenanceBook: one lock over a small list; readers take the published list and let go at once.
#include "history/maintenancebook.h"

#include "platform/strutil.h"

#include <algorithm>
#include <ctime>
#include <optional>
#include <random>
#include <utility>

namespace {

/// Ids are drawn at random, so daemons sharing the table never pick the same one in practice.
long long DrawId() {
    std::random_device source;
    const unsigned long long high = source(), low = source();
    return static_cast<long long>(((high << 32) | low) & 0x07FFFFFFFFFFFFFFULL) + 1; // at most 18 digits
}

/// "start.id" as the list's sort key; false when it is not one.
bool ReadCursor(const std::string& text, std::pair<long long, long long>& key) {
    const std::vector<std::string> parts = SplitString(text, '.');
    if (parts.size() != 2) return false;
    for (const std::string& part : parts)
        if (part.empty() || part.size() > 18 || part.find_first_not_of("0123456789") != std::string::npos) return false;
    key = {std::stoll(parts[0]), std::stoll(parts[1])};
    return true;
}

} // namespace

MaintenancePage ListMaintenance(const std::vector<MaintenanceWindow>& windows, long long now, const TimeZone& zone,
                                const std::string& after, std::size_t limit) {
    std::vector<ListedWindow> listed;
    for (const MaintenanceWindow& w : windows)
        if (const std::optional<TimeSpan> next = NextOccurrence(w, now, zone))
            listed.push_back({&w, *next, next->Start <= now});
    const auto key = [](const ListedWindow& l) { return std::make_pair(l.Next.Start, l.Window->Id); };
    std::sort(listed.begin(), listed.end(),
              [&key](const ListedWindow& a, const ListedWindow& b) { return key(a) < key(b); });
    MaintenancePage page;
    page.Total = listed.size();
    auto from = listed.begin();
    std::pair<long long, long long> cursor;
    if (!after.empty()) {
        page.CursorRead = ReadCursor(after, cursor);
        if (page.CursorRead)
            from = std::upper_bound(listed.begin(), listed.end(), cursor,
                                    [&key](const auto& c, const ListedWindow& l) { return c < key(l); });
    }
    const std::size_t count = std::min(limit, std::size_t(listed.end() - from));
    page.Windows.assign(from, from + long(count));
    if (from + long(count) != listed.end() && !page.Windows.empty())
        page.Next =
            std::to_string(page.Windows.back().Next.Start) + "." + std::to_string(page.Windows.back().Window->Id);
    return page;
}

MaintenanceBook::MaintenanceBook(const TimeZone& zone, std::function<long long()> now)
    : m_zone(zone), m_now(std::move(now)), m_windows(std::make_shared<std::vector<MaintenanceWindow>>()) {}

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

std::shared_ptr<std::vector<MaintenanceWindow>> MaintenanceBook::Writable() {
    if (m_windows.use_count() != 1) m_windows = std::make_shared<std::vector<MaintenanceWindow>>(*m_windows);
    ++m_version;
    return m_windows;
}

void MaintenanceBook::Reload(const std::function<std::vector<MaintenanceWindow>()>& load) {
    std::lock_guard<std::mutex> writing(m_writeLock);
    auto stored = std::make_shared<std::vector<MaintenanceWindow>>(load());
    std::lock_guard<std::mutex> lock(m_lock);
    m_windows = std::move(stored);
    ++m_version;
}

// The count is taken, the window stored and then published under the one write lock, so two makers
// never both take the last place, and a reload never drops a window stored meanwhile.
MaintenanceBook::Outcome MaintenanceBook::Make(MaintenanceWindow& window, const Store& store) {
    std::lock_guard<std::mutex> writing(m_writeLock);
    const long long now = Now();
    {
        const Windows windows = Current();
        const auto open = std::count_if(windows->begin(), windows->end(), [&](const MaintenanceWindow& w) {
            return NextOccurrence(w, now, m_zone).has_value();
        });
        if (std::size_t(open) >= MaxOpen) return Outcome::Full;
    }
    window.Id = DrawId();
    store(window, false);
    std::lock_guard<std::mutex> lock(m_lock);
    Writable()->push_back(window);
    return Outcome::Done;
}

MaintenanceBook::Outcome MaintenanceBook::EndEarly(long long id, const Store& store, MaintenanceWindow* ended) {
    std::lock_guard<std::mutex> writing(m_writeLock);
    const long long now = Now();
    MaintenanceWindow window;
    {
        const Windows windows = Current();
        auto it =
            std::find_if(windows->begin(), windows->end(), [id](const MaintenanceWindow& w) { return w.Id == id; });
        if (it == windows->end() || !NextOccurrence(*it, now, m_zone)) return Outcome::NoSuchWindow;
        window = *it;
    }
    window.Ended = now;
    store(window, true);
    if (ended != nullptr) *ended = window;
    std::lock_guard<std::mutex> lock(m_lock);
    const auto windows = Writable();
    for (MaintenanceWindow& w : *windows)
        if (w.Id == id) w.Ended = now;
    return Outcome::Done;
}

void MaintenanceBook::UseTags(std::shared_ptr<const SiteTagMap> tags) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_tags = std::move(tags);
}

std::vector<std::string> MaintenanceBook::TagsOf(const std::string& code) const {
    std::shared_ptr<const SiteTagMap> tags;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        tags = m_tags;
    }
    if (!tags) return {};
    const auto found = tags->find(SiteCodeKey(code));
    return found == tags->end() ? std::vector<std::string>{} : found->second;
}

bool MaintenanceBook::Holds(const std::string& code) const {
    const long long now = Now();
    const Windows windows = Current();
    const std::vector<std::string> tags = TagsOf(code);
    return std::any_of(windows->begin(), windows->end(),
                       [&](const MaintenanceWindow& w) { return w.Covers(code, tags) && HoldsAt(w, now, m_zone); });
}

bool MaintenanceBook::NoteHeld(const std::string& code) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_held.insert(SiteCodeKey(code)).second;
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
    return MaintenanceSeconds(*windows, code, from, to, m_book.Zone(), m_book.TagsOf(code));
}
