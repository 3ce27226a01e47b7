// Date-time values and their text formats.
#include "platform/datetime.h"
#include "platform/errors.h"
#include "platform/variant.h"

#include <gtest/gtest.h>

TEST(DateTime, DayCountsMatchTheEpoch) {
    EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_DOUBLE_EQ(EncodeDate(1970, 1, 1), 25569.0);
    EXPECT_DOUBLE_EQ(EncodeDate(2000, 2, 29), 36585.0);
    EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0), 0.5);
}

TEST(DateTime, DecodeIsTheInverseOfEncodeAcrossYearsAndLeapDays) {
    for (int y : {1900, 1999, 2000, 2024, 2026, 2100})
        for (int m = 1; m <= 12; ++m) {
            TDateTime v = EncodeDateTime(y, m, m == 2 ? 28 : 30, 23, 59, 59, 999);
            DateParts p = DecodeDateTime(v);
            EXPECT_EQ(p.year, y);
            EXPECT_EQ(p.month, m);
            EXPECT_EQ(p.hour, 23);
            EXPECT_EQ(p.second, 59);
            EXPECT_EQ(p.msec, 999);
        }
}

TEST(DateTime, RefusesImpossibleDates) {
    EXPECT_THROW(EncodeDate(2026, 2, 29), EConvertError);
    EXPECT_THROW(EncodeDate(2026, 13, 1), EConvertError);
    EXPECT_THROW(EncodeTime(24, 0, 0), EConvertError);
}

TEST(DateTime, FormatsWithTheProgramPatterns) {
    TDateTime v = EncodeDateTime(2026, 12, 7, 9, 5, 3, 42);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", v), "2026-12-07 09:05:03");
    EXPECT_EQ(FormatDateTime("d/m/yy h:n:s.zzz", v), "7/12/26 9:5:3.042");
    EXPECT_EQ(FormatDateTime("\"at\" hh:nn", v), "at 09:05");
    EXPECT_EQ(DateToStr(v), "2026-12-07");
    EXPECT_EQ(TimeToStr(v), "09:05:03");
    EXPECT_EQ(DateTimeToStr(EncodeDate(2026, 12, 7)), "2026-12-07");
}

TEST(DateTime, ParsesIsoAndMonthFirstTexts) {
    EXPECT_DOUBLE_EQ(StrToDateTime("2026-12-07 09:05:03"), EncodeDateTime(2026, 12, 7, 9, 5, 3));
    EXPECT_DOUBLE_EQ(StrToDateTime("12/7/2026 09:05:03"), EncodeDateTime(2026, 12, 7, 9, 5, 3));
    EXPECT_DOUBLE_EQ(StrToDateTime("1/1/2027"), EncodeDate(2027, 1, 1));
    EXPECT_THROW(StrToDateTime("tomorrow"), EConvertError);
    EXPECT_THROW(StrToDateTime("2026-02-30"), EConvertError);
}

TEST(DateTime, LocalTimeRoundTripsThroughTimeT) {
    TDateTime v = EncodeDateTime(2026, 7, 1, 12, 30, 0);
    EXPECT_DOUBLE_EQ(DateTimeFromTimeT(DateTimeToTimeT(v)), v);
}

TEST(DateTime, DaysMeetSecondsAndMillisecondsRoundedToTheNearest) {
    const TDateTime day = EncodeDate(2026, 12, 7);
    struct Case {
        TDateTime days;
        long long seconds, ms;
    } cases[] = {
        {day + EncodeTime(9, 5, 3, 499), 4005795903LL, 4005795903499LL},
        {day + EncodeTime(9, 5, 3, 501), 4005795904LL, 4005795903501LL},
        {-EncodeTime(0, 0, 1, 600), -2, -1600}, // a span backwards
        {2.0, 2 * SecondsPerDay, 2 * MillisecondsPerDay},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DaysToSeconds(c.days), c.seconds) << c.days;
        EXPECT_EQ(DaysToMilliseconds(c.days), c.ms) << c.days;
    }
    for (long long s : {0LL, 1LL, -1LL, 4005795903LL, 7 * SecondsPerDay})
        EXPECT_EQ(DaysToSeconds(SecondsToDays(s)), s);
    EXPECT_DOUBLE_EQ(SecondsToDays(SecondsPerDay / 2), 0.5);
}

TEST(DateTime, NumbersUseFixedSeparators) {
    EXPECT_EQ(FloatToStr(1.5), "1.5");
    EXPECT_EQ(FloatToStr(12), "12");
    EXPECT_EQ(FormatThousands(1234567), "1,234,567");
    EXPECT_EQ(FormatThousands(-1000), "-1,000");
    EXPECT_EQ(FormatThousands(999), "999");
}

TEST(DateTime, ManualClockDrivesNowAndMonotonicTogether) {
    ManualClock clock(EncodeDateTime(2026, 12, 7, 23, 59, 59));
    ScopedClock installClock(&clock);
    auto start = clock.Monotonic();
    clock.Advance(std::chrono::seconds(2));
    EXPECT_EQ(DateToStr(Now()), "2026-12-08");
    EXPECT_EQ(MillisecondsSince(start), 2000);
}

TEST(Variant, ConvertsBetweenKinds) {
    EXPECT_EQ(Variant(12).AsString(), "12");
    EXPECT_EQ(Variant("12").AsInteger(), 12);
    EXPECT_EQ(Variant(" 2.5 ").AsFloat(), 2.5);
    EXPECT_EQ(Variant::FromDateTime(EncodeDateTime(2026, 12, 7, 9, 5, 3)).AsString(), "2026-12-07 09:05:03");
    EXPECT_EQ(Variant(true).AsString(), "True");
    EXPECT_TRUE(Variant().IsNull());
    EXPECT_EQ(Variant().AsString(), "");
    EXPECT_THROW(Variant("abc").AsInteger(), EConvertError);
    EXPECT_THROW(Variant("").AsFloat(), EConvertError);
}
