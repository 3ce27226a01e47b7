// Date-time values (days since 1899-12-30, local time) and the program-wide text formats:
// "yyyy-mm-dd", "hh:nn", "hh:nn:ss", thousands "," and decimal ".", whatever the locale.
#pragma once

#include "platform/clock.h"

#include <string>

struct DateParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, msec = 0;
};

/// The current local date and time from the clock in force.
TDateTime Now();
/// The current local date (time of day zero).
TDateTime Date();

/// Builds a date-time; throws EConvertError for an impossible date or time.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec = 0);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec = 0);
/// Splits a date-time into its parts (rounded to the millisecond).
DateParts DecodeDateTime(TDateTime value);

/// A day in seconds and in milliseconds: the one place a day count meets a count of seconds.
constexpr long long SecondsPerDay = 86400;
constexpr long long MillisecondsPerDay = 86400000;
/// Days (a date-time or a span of days) as whole seconds, rounded to the nearest.
long long DaysToSeconds(TDateTime days);
/// Days (a date-time or a span of days) as whole milliseconds, rounded to the nearest.
long long DaysToMilliseconds(TDateTime days);
/// Whole seconds as days: a date-time from seconds since 1899-12-30, or a span.
TDateTime SecondsToDays(long long seconds);

/// Converts to and from time_t through the local time zone.
TDateTime DateTimeFromTimeT(long long seconds);
long long DateTimeToTimeT(TDateTime value);
/// A local date-time as UTC in RFC 3339 ("2026-12-10T04:30:00Z"), as receivers' APIs take it.
std::string DateTimeToRfc3339(TDateTime value);

/// Formats with the pattern letters yyyy, yy, mm, m, dd, d, hh, h, nn, n, ss, s, zzz;
/// other characters are copied, text in double quotes is copied without the quotes.
std::string FormatDateTime(const std::string& pattern, TDateTime value);
/// "yyyy-mm-dd"
std::string DateToStr(TDateTime value);
/// "hh:nn:ss"
std::string TimeToStr(TDateTime value);
/// "yyyy-mm-dd hh:nn:ss", or the date alone when the time of day is zero.
std::string DateTimeToStr(TDateTime value);
/// Appends "yyyy-mm-dd hh:nn:ss" to `out`; with `dateAloneAtMidnight`, the date alone when the time
/// of day is zero (as DateTimeToStr). For the loops that write a value per row.
void AppendDateTime(std::string& out, TDateTime value, bool dateAloneAtMidnight);
/// Reads "yyyy-mm-dd[ hh:nn[:ss]]" and "m/d/yyyy[ hh:nn[:ss]]"; throws EConvertError otherwise.
TDateTime StrToDateTime(const std::string& text);

/// Program-wide number formats: thousands separator and decimal separator.
constexpr char ThousandSeparator = ',';
constexpr char DecimalSeparator = '.';
/// A floating-point number as shortest round-trip text with "." (for example 1.5, 12, 0.1).
std::string FloatToStr(double value);
/// A whole number grouped with "," (for example 1,234,567).
std::string FormatThousands(long long value);
