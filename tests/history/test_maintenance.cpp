// Occurrences of maintenance windows in Europe/Berlin (CET, CEST from the last Sunday of March at
// 02:00 to the last Sunday of October at 03:00), asked at a moment the test chooses: across midnight,
// across both clock changes, clipped by the window's making and its early end; and the seconds a site
// spent in maintenance, counted once where windows overlap.
#include "history/maintenance.h"
#include "history/maintenancebook.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <algorithm>
#include <optional>
#include <stdexcept>
#include <ostream>

namespace {

/// "yyyy-mm-dd hh:nn" read as UTC.
long long Utc(const char* text) {
    std::tm tm{};
    strptime(text, "%Y-%m-%d %H:%M", &tm);
    return timegm(&tm);
}

constexpr int Mon = 1, Sun = 64, Every = 127;

MaintenanceWindow Weekly(int days, int hour, int minute, int minutes, const char* made = "2025-01-01 00:00",
                         long long ended = 0) {
    MaintenanceWindow w;
    w.Code = "A1";
    w.Weekdays = days;
    w.DayTime = hour * 3600 + minute * 60;
    w.Seconds = minutes * 60;
    w.Start = Utc(made);
    w.Ended = ended;
    return w;
}

MaintenanceWindow OneOff(const char* start, const char* end, const char* code = "A1", long long ended = 0) {
    MaintenanceWindow w;
    w.Code = code;
    w.Start = Utc(start);
    w.End = Utc(end);
    w.Ended = ended;
    return w;
}

class Berlin : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::setenv("TZ", "Europe/Berlin", 1);
        ::tzset();
    }
    const TimeZone& zone = LocalTimeZone();
};

struct Occurrence {
    const char* name;
    MaintenanceWindow window;
    const char* asked; // UTC
    const char* start; // UTC; nullptr: no occurrence comes
    const char* end;
};

void PrintTo(const Occurrence& c, std::ostream* os) {
    *os << c.name;
}

class NextOccurrenceOf : public Berlin, public ::testing::WithParamInterface<Occurrence> {};

TEST_P(NextOccurrenceOf, IsComputedFromTheCalendar) {
    const Occurrence& c = GetParam();
    const std::optional<TimeSpan> span = NextOccurrence(c.window, Utc(c.asked), zone);
    if (c.start == nullptr) {
        EXPECT_FALSE(span.has_value());
        return;
    }
    ASSERT_TRUE(span.has_value());
    EXPECT_EQ(*span, (TimeSpan{Utc(c.start), Utc(c.end)}));
    EXPECT_EQ(HoldsAt(c.window, Utc(c.asked), zone), span->Start <= Utc(c.asked));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NextOccurrenceOf,
    ::testing::Values(
        // Monday 23:00 CET for two hours: still running at 00:30 on Tuesday, next week's after it.
        Occurrence{"AcrossMidnightRunning", Weekly(Mon, 23, 0, 120), "2025-01-06 23:30", "2025-01-06 22:00",
                   "2025-01-07 00:00"},
        Occurrence{"AcrossMidnightOver", Weekly(Mon, 23, 0, 120), "2025-01-07 00:00", "2025-01-13 22:00",
                   "2025-01-14 00:00"},
        // The night the clocks go forward: two hours of real time from 01:30 CET end at 04:30 CEST.
        Occurrence{"SpringForwardLasts", Weekly(Sun, 1, 30, 120), "2025-03-29 12:00", "2025-03-30 00:30",
                   "2025-03-30 02:30"},
        // 02:30 is never shown that night: the window begins at 03:30 CEST.
        Occurrence{"SpringForwardSkippedStart", Weekly(Sun, 2, 30, 60), "2025-03-29 12:00", "2025-03-30 01:30",
                   "2025-03-30 02:30"},
        // The night the clocks go back 02:30 is shown twice: the first, in CEST.
        Occurrence{"FallBackTwiceShownStart", Weekly(Sun, 2, 30, 60), "2025-10-25 12:00", "2025-10-26 00:30",
                   "2025-10-26 01:30"},
        // Noon every day: 11:00 UTC in winter, 10:00 UTC from the day after the change.
        Occurrence{"DailyBeforeTheChange", Weekly(Every, 12, 0, 60), "2025-03-29 11:30", "2025-03-29 11:00",
                   "2025-03-29 12:00"},
        Occurrence{"DailyAfterTheChange", Weekly(Every, 12, 0, 60), "2025-03-29 12:00", "2025-03-30 10:00",
                   "2025-03-30 11:00"},
        // Made in the middle of an occurrence: it runs from its making; none counts before it.
        Occurrence{"MadeDuringAnOccurrence", Weekly(Mon, 23, 0, 120, "2025-01-06 23:00"), "2025-01-06 12:00",
                   "2025-01-06 23:00", "2025-01-07 00:00"},
        Occurrence{"EndedEarlyForGood", Weekly(Mon, 23, 0, 120, "2025-01-01 00:00", Utc("2025-01-06 22:30")),
                   "2025-01-06 22:10", "2025-01-06 22:00", "2025-01-06 22:30"},
        Occurrence{"NoneAfterItsEnd", Weekly(Mon, 23, 0, 120, "2025-01-01 00:00", Utc("2025-01-06 22:30")),
                   "2025-01-06 22:30", nullptr, nullptr},
        Occurrence{"OneOffAhead", OneOff("2025-05-01 08:00", "2025-05-01 09:00"), "2025-04-01 00:00",
                   "2025-05-01 08:00", "2025-05-01 09:00"},
        Occurrence{"OneOffEndedEarly", OneOff("2025-05-01 08:00", "2025-05-01 09:00", "A1", Utc("2025-05-01 08:20")),
                   "2025-05-01 08:10", "2025-05-01 08:00", "2025-05-01 08:20"},
        Occurrence{"OneOffOver", OneOff("2025-05-01 08:00", "2025-05-01 09:00"), "2025-05-01 09:00", nullptr, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Berlin, SecondsInMaintenanceCountOverlapsOnceAndOnlyTheSitesOwn) {
    const std::vector<MaintenanceWindow> windows = {
        OneOff("2025-05-01 08:00", "2025-05-01 09:00"),
        OneOff("2025-05-01 08:30", "2025-05-01 10:00", "*"),
        OneOff("2025-05-01 12:00", "2025-05-01 13:00", "B2"),
        OneOff("2025-05-01 14:00", "2025-05-01 15:00", "TAG:core"),
        // An hour every Sunday at 02:30: four of them across the March change, each a real hour.
        Weekly(Sun, 2, 30, 60, "2025-03-01 00:00"),
    };
    EXPECT_EQ(MaintenanceSeconds(windows, "a1", Utc("2025-05-01 08:15"), Utc("2025-05-01 20:00"), zone), 105 * 60);
    EXPECT_EQ(MaintenanceSeconds(windows, "B2", Utc("2025-05-01 00:00"), Utc("2025-05-02 00:00"), zone), 150 * 60);
    EXPECT_EQ(MaintenanceSeconds(windows, "A1", Utc("2025-03-20 00:00"), Utc("2025-04-14 00:00"), zone), 4 * 3600);
    // A window of a tag holds the sites with that tag, whatever their code.
    EXPECT_EQ(MaintenanceSeconds(windows, "C3", Utc("2025-05-01 00:00"), Utc("2025-05-02 00:00"), zone, {"core"}),
              150 * 60);
    EXPECT_EQ(MaintenanceSeconds(windows, "core", Utc("2025-05-01 00:00"), Utc("2025-05-02 00:00"), zone, {"wan"}),
              90 * 60);
}

TEST(MaintenanceBookTest, StoresBeforeItTakesEffectAndFreesHeldNoticesAtTheEnd) {
    long long now = Utc("2025-05-01 08:00");
    MaintenanceBook book(LocalTimeZone(), [&now] { return now; });
    std::vector<std::pair<MaintenanceWindow, bool>> stored;
    const MaintenanceBook::Store store = [&stored](const MaintenanceWindow& w, bool end) {
        stored.push_back({w, end});
    };
    const MaintenanceBook::Store broken = [](const MaintenanceWindow&, bool) { throw std::runtime_error("down"); };

    MaintenanceWindow w = OneOff("2025-05-01 07:00", "2025-05-01 09:00", "*");
    EXPECT_THROW(book.Make(w, broken), std::runtime_error);
    EXPECT_TRUE(book.Current()->empty()) << "what could not be stored is not made";
    ASSERT_EQ(book.Make(w, store), MaintenanceBook::Outcome::Done);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].first.Id, w.Id);
    EXPECT_FALSE(stored[0].second);
    EXPECT_TRUE(book.Holds("X9"));
    book.NoteHeld("X9");
    EXPECT_FALSE(book.TakeFreedHolds());

    EXPECT_THROW(book.EndEarly(w.Id, broken), std::runtime_error);
    EXPECT_TRUE(book.Holds("X9"));
    EXPECT_EQ(book.EndEarly(w.Id, store), MaintenanceBook::Outcome::Done);
    EXPECT_EQ(book.EndEarly(w.Id, store), MaintenanceBook::Outcome::NoSuchWindow); // over already
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_TRUE(stored[1].second);
    EXPECT_EQ(stored[1].first.Ended, now);
    EXPECT_TRUE(book.TakeFreedHolds());
    EXPECT_FALSE(book.TakeFreedHolds());
    book.Reload([] { return std::vector<MaintenanceWindow>{}; }); // the table's windows replace the book's
    EXPECT_TRUE(book.Current()->empty());
}

TEST(MaintenanceBookTest, KeepsAtMostTheBoundOfWindowsRunningOrToCome) {
    long long now = Utc("2025-05-01 08:00");
    MaintenanceBook book(LocalTimeZone(), [&now] { return now; });
    std::vector<MaintenanceWindow> windows(MaintenanceBook::MaxOpen - 1,
                                           OneOff("2025-05-01 07:00", "2025-05-02 09:00"));
    windows.push_back(OneOff("2025-04-01 07:00", "2025-04-01 09:00")); // over: it does not count
    book.Reload([&windows] { return windows; });
    int stores = 0;
    const MaintenanceBook::Store store = [&stores](const MaintenanceWindow&, bool) { ++stores; };
    MaintenanceWindow w = OneOff("2025-05-01 08:00", "2025-05-01 09:00");
    EXPECT_EQ(book.Make(w, store), MaintenanceBook::Outcome::Done);
    EXPECT_EQ(book.Make(w, store), MaintenanceBook::Outcome::Full);
    EXPECT_EQ(stores, 1);
    now = Utc("2025-05-01 09:00"); // the one made is over: there is room again
    EXPECT_EQ(book.Make(w, store), MaintenanceBook::Outcome::Done);
}

TEST(MaintenanceList, PagesWalkEveryWindowOnceByItsNextStart) {
    const long long now = Utc("2025-05-01 08:00");
    std::vector<MaintenanceWindow> windows;
    for (int i = 0; i < 250; ++i) {
        MaintenanceWindow w = OneOff("2025-05-01 07:00", "2025-05-03 09:00");
        w.Start += (i % 7) * 3600; // starts alike in runs, told apart by id
        w.Id = 1000 - i;
        windows.push_back(w);
    }
    windows.push_back(OneOff("2025-04-01 07:00", "2025-04-01 09:00")); // over: never listed
    std::vector<long long> seen;
    std::string after;
    int pages = 0;
    do {
        const MaintenancePage page = ListMaintenance(windows, now, LocalTimeZone(), after, 100);
        ASSERT_TRUE(page.CursorRead);
        EXPECT_EQ(page.Total, 250u);
        for (const ListedWindow& l : page.Windows) {
            if (!seen.empty()) {
                EXPECT_LE(windows[std::size_t(1000 - seen.back())].Start, l.Window->Start);
            }
            seen.push_back(l.Window->Id);
        }
        after = page.Next;
        ++pages;
    } while (!after.empty() && pages < 10);
    EXPECT_EQ(pages, 3);
    EXPECT_EQ(seen.size(), 250u);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());
    for (const char* bad : {"x", "1.", ".1", "1.2.3", "-1.5"})
        EXPECT_FALSE(ListMaintenance(windows, now, LocalTimeZone(), bad, 100).CursorRead) << bad;
}

} // namespace
