// The maintenance form as a browser sends it: one-off by minutes or by start and end (with the "T" of a
// datetime-local field), weekly by weekdays and time, and each refusal with the field it names.
#include "web/maintenanceform.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

/// A zone one hour east of UTC, without changes.
class PlusOne : public TimeZone {
public:
    long long OffsetAt(long long) const override { return 3600; }
};

constexpr long long Now = 1746086400; // 2025-05-01 08:00:00 UTC, 09:00 on the zone's clock

struct FormCase {
    const char* name;
    const char* body;
    const char* error; // the start of the refusal; "" when the form is taken
    MaintenanceWindow expected;
};

void PrintTo(const FormCase& c, std::ostream* os) {
    *os << c.name;
}

MaintenanceWindow Window(const char* code, long long start, long long end, int weekdays = 0, int dayTime = 0,
                         int seconds = 0, const char* reason = "") {
    MaintenanceWindow w;
    w.Code = code;
    w.Start = start;
    w.End = end;
    w.Weekdays = weekdays;
    w.DayTime = dayTime;
    w.Seconds = seconds;
    w.Reason = reason;
    return w;
}

// 199 bytes and a two-byte character: the column of 200 bytes takes the 199 only.
const std::string LongReason(199, 'a');
const std::string LongReasonBody = "code=A1&minutes=5&reason=" + LongReason + "%C3%A9";

class Form : public ::testing::TestWithParam<FormCase> {};

TEST_P(Form, IsReadOrRefusedByItsField) {
    const FormCase& c = GetParam();
    const MaintenanceRequest r = ParseMaintenanceForm(c.body, Now, PlusOne());
    ASSERT_EQ(r.Error.substr(0, std::string(c.error).size()), c.error) << r.Error;
    if (*c.error) return;
    EXPECT_EQ(r.Window.Code, c.expected.Code);
    EXPECT_EQ(r.Window.Start, c.expected.Start);
    EXPECT_EQ(r.Window.End, c.expected.End);
    EXPECT_EQ(r.Window.Weekdays, c.expected.Weekdays);
    EXPECT_EQ(r.Window.DayTime, c.expected.DayTime);
    EXPECT_EQ(r.Window.Seconds, c.expected.Seconds);
    EXPECT_EQ(r.Window.Reason, c.expected.Reason);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Form,
    ::testing::Values(
        FormCase{"Minutes", "code=A1&minutes=30&reason=router+reboot%21", "",
                 Window("A1", Now, Now + 1800, 0, 0, 0, "router reboot!")},
        FormCase{"StartEndLocal", "code=*&minutes=&start=2025-05-01T09%3A30%3A05&end=2025-05-01+10%3A00", "",
                 Window("*", Now + 1805, Now + 3600)},
        FormCase{"Weekly", "code=A1&weekdays=mon&weekdays=sun&time=23%3A30&minutes=90", "",
                 Window("A1", Now, 0, 1 | 64, 23 * 3600 + 1800, 5400)},
        FormCase{"WeeklyList", "code=A1&weekdays=Tue%2Cwed&time=02%3A00%3A10&minutes=5", "",
                 Window("A1", Now, 0, 2 | 4, 7210, 300)},
        FormCase{"Tag", "code=tag%3ACore-1&minutes=30", "", Window("tag:Core-1", Now, Now + 1800)},
        FormCase{"LongTag", "code=tag%3Aabcdefghijklmnopqrstuvwxyz&minutes=30", "",
                 Window("tag:abcdefghijklmnopqrstuvwxyz", Now, Now + 1800)},
        FormCase{"TagTooLong", "code=tag%3Aabcdefghijklmnopqrstuvwxyz1&minutes=30", "code: tag:T takes", {}},
        FormCase{"TagNone", "code=tag%3A&minutes=30", "code: the tag is empty", {}},
        FormCase{"TagWithBlank", "code=tag%3Aa+b&minutes=30", "code: the tag takes only", {}},
        FormCase{"NoCode", "minutes=30", "code:", {}},
        FormCase{"CodeTooLong", "code=ABCDEFGHIJKLM&minutes=30", "code:", {}},
        FormCase{"NoMinutesNorTimes", "code=A1", "give minutes", {}},
        FormCase{"ZeroMinutes", "code=A1&minutes=0", "minutes:", {}},
        FormCase{"EndBeforeStart", "code=A1&start=2025-05-01+11%3A00&end=2025-05-01+10%3A00", "end: must", {}},
        FormCase{"EndPast", "code=A1&start=2025-05-01+07%3A00&end=2025-05-01+08%3A00", "end: is past", {}},
        FormCase{"BadWeekday", "code=A1&weekdays=someday&time=23%3A00&minutes=5", "weekdays:", {}},
        FormCase{"BadTime", "code=A1&weekdays=mon&time=24%3A00&minutes=5", "time:", {}},
        FormCase{"WeekTooLong", "code=A1&weekdays=mon&time=01%3A00&minutes=10081", "minutes:", {}},
        FormCase{"ControlCharacter", "code=A%0D1&minutes=5", "code: holds", {}},
        FormCase{"ReasonCutBeforeACharacter", LongReasonBody.c_str(), "",
                 Window("A1", Now, Now + 300, 0, 0, 0, LongReason.c_str())},
        FormCase{"ReasonNotUtf8", "code=A1&minutes=5&reason=caf%E9", "reason: is not UTF-8", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FormEnd, NamesTheWindowToEnd) {
    const MaintenanceRequest r = ParseMaintenanceForm("end_early=576460752303423488", Now, PlusOne());
    EXPECT_TRUE(r.EndEarly);
    EXPECT_EQ(r.EndId, 576460752303423488LL);
    EXPECT_EQ(ParseMaintenanceForm("end_early=x1", Now, PlusOne()).Error, "end_early: no such window");
}

} // namespace
