// Date-time values as day counts since 1899-12-30 and their program-wide text formats.
#include "platform/datetime.h"

#include "platform/errors.h"
#include "platform/strutil.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

namespace {

constexpr double MsPerDay = 86400000.0;
constexpr long long UnixEpochDays = 25569; // 1970-01-01 as a day count

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

bool IsLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (m == 2 && IsLeapYear(y)) ? 29 : days[m - 1];
}

// Writes `value` (not negative, fewer than `width` + 1 digits) as exactly `width` digits.
char* PutDigits(char* out, int value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10)
        out[i] = static_cast<char>('0' + value % 10);
    return out + width;
}

// The `count` digits at `at` as a number; false when any of them is not a digit.
bool ReadDigits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// "yyyy-mm-dd" or "yyyy-mm-dd hh:nn:ss" exactly, the forms the program writes itself.
bool ReadIsoForm(std::string_view t, int& y, int& mo, int& d, int& h, int& mi, int& s) {
    if (t.size() != 10 && t.size() != 19) return false;
    if (t[4] != '-' || t[7] != '-' || !ReadDigits(t, 0, 4, y) || !ReadDigits(t, 5, 2, mo) || !ReadDigits(t, 8, 2, d))
        return false;
    h = mi = s = 0;
    if (t.size() == 10) return true;
    return t[10] == ' ' && t[13] == ':' && t[16] == ':' && ReadDigits(t, 11, 2, h) && ReadDigits(t, 14, 2, mi) &&
           ReadDigits(t, 17, 2, s);
}

std::string Pad(int value, int width) {
    return Format("%0*d", width, value);
}

// Counts how many times the character at `i` repeats (case-insensitive).
std::size_t RunLength(const std::string& p, std::size_t i) {
    std::size_t n = 1;
    while (i + n < p.size() && std::tolower(p[i + n]) == std::tolower(p[i]))
        ++n;
    return n;
}

std::string FormatField(char letter, std::size_t count, const DateParts& t) {
    switch (letter) {
    case 'y':
        return count <= 2 ? Pad(t.year % 100, 2) : Pad(t.year, 4);
    case 'm':
        return count >= 2 ? Pad(t.month, 2) : std::to_string(t.month);
    case 'd':
        return count >= 2 ? Pad(t.day, 2) : std::to_string(t.day);
    case 'h':
        return count >= 2 ? Pad(t.hour, 2) : std::to_string(t.hour);
    case 'n':
        return count >= 2 ? Pad(t.minute, 2) : std::to_string(t.minute);
    case 's':
        return count >= 2 ? Pad(t.second, 2) : std::to_string(t.second);
    case 'z':
        return count >= 3 ? Pad(t.msec, 3) : std::to_string(t.msec);
    default:
        return {};
    }
}

} // namespace

TDateTime Now() {
    return GetClock().Now();
}

TDateTime Date() {
    return std::floor(Now());
}

TDateTime EncodeDate(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        throw EConvertError(Format("Invalid argument to date encode: %d-%d-%d", year, month, day));
    return static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                               UnixEpochDays);
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 || msec > 999)
        throw EConvertError(Format("Invalid argument to time encode: %d:%d:%d.%d", hour, minute, second, msec));
    return ((hour * 60.0 + minute) * 60.0 + second) * 1000.0 / MsPerDay + msec / MsPerDay;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
    return EncodeDate(year, month, day) + EncodeTime(hour, minute, second, msec);
}

DateParts DecodeDateTime(TDateTime value) {
    long long days = static_cast<long long>(std::trunc(value));
    long long ms = std::llround(std::fabs(value - static_cast<double>(days)) * MsPerDay);
    if (ms >= 86400000LL) { // rounding reached the next day
        ms -= 86400000LL;
        days += value < 0 ? -1 : 1;
    }
    DateParts t;
    CivilFromDays(days - UnixEpochDays, t.year, t.month, t.day);
    t.hour = static_cast<int>(ms / 3600000);
    t.minute = static_cast<int>(ms / 60000 % 60);
    t.second = static_cast<int>(ms / 1000 % 60);
    t.msec = static_cast<int>(ms % 1000);
    return t;
}

long long DaysToSeconds(TDateTime days) {
    return std::llround(days * static_cast<double>(SecondsPerDay));
}

long long DaysToMilliseconds(TDateTime days) {
    return std::llround(days * static_cast<double>(MillisecondsPerDay));
}

TDateTime SecondsToDays(long long seconds) {
    return static_cast<double>(seconds) / static_cast<double>(SecondsPerDay);
}

TDateTime DateTimeFromTimeT(long long seconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm lt {};
    localtime_r(&t, &lt);
    return EncodeDateTime(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec);
}

std::string DateTimeToRfc3339(TDateTime value) {
    const std::time_t t = static_cast<std::time_t>(DateTimeToTimeT(value));
    struct tm utc {};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

long long DateTimeToTimeT(TDateTime value) {
    DateParts p = DecodeDateTime(value);
    struct tm lt {};
    lt.tm_year = p.year - 1900;
    lt.tm_mon = p.month - 1;
    lt.tm_mday = p.day;
    lt.tm_hour = p.hour;
    lt.tm_min = p.minute;
    lt.tm_sec = p.second;
    lt.tm_isdst = -1;
    return static_cast<long long>(mktime(&lt));
}

std::string FormatDateTime(const std::string& pattern, TDateTime value) {
    const DateParts t = DecodeDateTime(value);
    std::string out;
    for (std::size_t i = 0; i < pattern.size();) {
        char c = static_cast<char>(std::tolower(static_cast<unsigned char>(pattern[i])));
        if (pattern[i] == '"' || pattern[i] == '\'') {
            std::size_t end = pattern.find(pattern[i], i + 1);
            if (end == std::string::npos) end = pattern.size();
            out += pattern.substr(i + 1, end - i - 1);
            i = end + 1;
            continue;
        }
        if (c == '\0' || std::strchr("ymdhnsz", c) == nullptr) {
            out += pattern[i++];
            continue;
        }
        std::size_t n = RunLength(pattern, i);
        out += FormatField(c, n, t);
        i += n;
    }
    return out;
}

std::string DateToStr(TDateTime value) {
    return FormatDateTime("yyyy-mm-dd", value);
}

std::string TimeToStr(TDateTime value) {
    return FormatDateTime("hh:nn:ss", value);
}

std::string DateTimeToStr(TDateTime value) {
    std::string out;
    AppendDateTime(out, value, true);
    return out;
}

void AppendDateTime(std::string& out, TDateTime value, bool dateAloneAtMidnight) {
    const DateParts p = DecodeDateTime(value);
    const bool dateAlone = dateAloneAtMidnight && p.hour == 0 && p.minute == 0 && p.second == 0 && p.msec == 0;
    if (p.year < 0 || p.year > 9999) { // the pattern's rules for years of another width
        out += FormatDateTime(dateAlone ? "yyyy-mm-dd" : "yyyy-mm-dd hh:nn:ss", value);
        return;
    }
    char text[20];
    char* end = PutDigits(text, p.year, 4);
    *end++ = '-';
    end = PutDigits(end, p.month, 2);
    *end++ = '-';
    end = PutDigits(end, p.day, 2);
    if (!dateAlone) {
        *end++ = ' ';
        end = PutDigits(end, p.hour, 2);
        *end++ = ':';
        end = PutDigits(end, p.minute, 2);
        *end++ = ':';
        end = PutDigits(end, p.second, 2);
    }
    out.append(text, static_cast<std::size_t>(end - text));
}

TDateTime StrToDateTime(const std::string& text) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, consumed = 0;
    std::string_view view = text;
    while (!view.empty() && static_cast<unsigned char>(view.front()) <= 32)
        view.remove_prefix(1);
    while (!view.empty() && static_cast<unsigned char>(view.back()) <= 32)
        view.remove_suffix(1);
    if (ReadIsoForm(view, y, mo, d, h, mi, s)) {
        try {
            return EncodeDateTime(y, mo, d, h, mi, s);
        } catch (const EConvertError&) {
            throw EConvertError("'" + text + "' is not a valid date and time");
        }
    }
    std::string t(view);
    int fields = std::sscanf(t.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &consumed);
    if (fields != 3) {
        consumed = 0;
        fields = std::sscanf(t.c_str(), "%2d/%2d/%4d%n", &mo, &d, &y, &consumed);
    }
    if (fields != 3) throw EConvertError("'" + text + "' is not a valid date and time");
    std::string rest = Trim(t.substr(static_cast<std::size_t>(consumed)));
    if (!rest.empty()) {
        int tail = 0;
        int n = std::sscanf(rest.c_str(), "%2d:%2d%n:%2d%n", &h, &mi, &tail, &s, &tail);
        if (n < 2 || static_cast<std::size_t>(tail) != rest.size())
            throw EConvertError("'" + text + "' is not a valid date and time");
    }
    try {
        return EncodeDateTime(y, mo, d, h, mi, s);
    } catch (const EConvertError&) {
        throw EConvertError("'" + text + "' is not a valid date and time");
    }
}

std::string FloatToStr(double value) {
    std::string s = Format("%.15g", value);
    return s;
}

std::string FormatThousands(long long value) {
    std::string digits = std::to_string(value < 0 ? -(value + 1) + 1ULL : static_cast<unsigned long long>(value));
    std::string out;
    int count = 0;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (count > 0 && count % 3 == 0) out.insert(out.begin(), ThousandSeparator);
        out.insert(out.begin(), *it);
        ++count;
    }
    return value < 0 ? "-" + out : out;
}
