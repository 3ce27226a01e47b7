// Date reading and the refined NOCASE and RTRIM collations of the embedded database.
#include "db/sqlitecollation.h"

#include "db/dbaccess.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// SQLite's trim() and rtrim() remove blanks only; so do these.
std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

std::string_view TrimTrailingBlanks(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// The text before the first `sep` (all of it when there is none) and the text after it ("" then).
void SplitAt(std::string_view s, char sep, std::string_view& head, std::string_view& tail) {
    const auto pos = s.find(sep);
    head = s.substr(0, pos);
    tail = pos == std::string_view::npos ? std::string_view() : s.substr(pos + 1);
}

bool Digits(std::string_view s, std::size_t minLen, std::size_t maxLen, int& value) {
    if (s.size() < minLen || s.size() > maxLen) return false;
    value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

bool ParseDatePart(std::string_view dt, bool monthFirst, TSqlDate& date) {
    const char sep = monthFirst ? '/' : '-';
    std::string_view a, rest, b, c;
    const auto pos = dt.find(sep);
    a = pos == std::string_view::npos ? std::string_view() : dt.substr(0, pos);
    rest = pos == std::string_view::npos ? dt : dt.substr(pos + 1);
    const auto pos2 = rest.find(sep);
    b = pos2 == std::string_view::npos ? std::string_view() : rest.substr(0, pos2);
    c = pos2 == std::string_view::npos ? rest : rest.substr(pos2 + 1);
    const std::string_view y = monthFirst ? c : a, m = monthFirst ? a : b, d = monthFirst ? b : c;
    if (!Digits(y, 4, 4, date.Year) || !Digits(m, 1, 2, date.Month) || !Digits(d, 1, 2, date.Day)) return false;
    return date.Month >= 1 && date.Month <= 12 && date.Day >= 1 && date.Day <= DaysInMonth(date.Year, date.Month);
}

bool ParseTimePart(std::string_view tm, TSqlDate& date) {
    date.Hour = date.Minute = date.Second = 0;
    if (tm.empty()) return true;
    std::string_view h, rest, mi, secs, s, fraction;
    SplitAt(tm, ':', h, rest);
    SplitAt(rest, ':', mi, secs);
    SplitAt(secs, '.', s, fraction);
    if (!Digits(h, 1, 2, date.Hour) || date.Hour >= 24) return false;
    if (!Digits(mi, 2, 2, date.Minute) || date.Minute >= 60) return false;
    return s.empty() || (Digits(s, 2, 2, date.Second) && date.Second < 60);
}

long long DateKey(const TSqlDate& d) {
    return ((((static_cast<long long>(d.Year) * 100 + d.Month) * 100 + d.Day) * 100 + d.Hour) * 100 + d.Minute) * 100 +
           d.Second;
}

int CompareBytes(std::string_view a, std::string_view b) {
    const int r = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    if (r != 0) return r;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

int NoCaseCollation(void*, int n1, const void* p1, int n2, const void* p2) {
    return CompareNoCase({static_cast<const char*>(p1), static_cast<std::size_t>(n1)},
                         {static_cast<const char*>(p2), static_cast<std::size_t>(n2)});
}

int DateCollation(void*, int n1, const void* p1, int n2, const void* p2) {
    return CompareDates({static_cast<const char*>(p1), static_cast<std::size_t>(n1)},
                        {static_cast<const char*>(p2), static_cast<std::size_t>(n2)});
}

}  // namespace

bool ParseSqlDate(std::string_view text, TSqlDate& date) {
    const bool monthFirst = text.find('/') != std::string_view::npos;
    std::string z(TrimBlanks(text));
    std::replace(z.begin(), z.end(), 'T', ' ');
    std::string_view dt, tm;
    SplitAt(z, ' ', dt, tm);
    return ParseDatePart(dt, monthFirst, date) && ParseTimePart(TrimBlanks(tm), date);
}

int CompareNoCase(std::string_view a, std::string_view b) {
    a = TrimTrailingBlanks(a);
    b = TrimTrailingBlanks(b);
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char ca = a[i] >= 'A' && a[i] <= 'Z' ? a[i] + 32 : a[i];
        const unsigned char cb = b[i] >= 'A' && b[i] <= 'Z' ? b[i] + 32 : b[i];
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

int CompareDates(std::string_view a, std::string_view b) {
    TSqlDate da, db;
    const bool isDateA = ParseSqlDate(a, da), isDateB = ParseSqlDate(b, db);
    if (isDateA && isDateB) {
        const long long ka = DateKey(da), kb = DateKey(db);
        return ka < kb ? -1 : (ka > kb ? 1 : 0);
    }
    if (isDateA != isDateB) return isDateA ? -1 : 1;
    return CompareBytes(TrimTrailingBlanks(a), TrimTrailingBlanks(b));
}

void RegisterCollations(sqlite3* db) {
    if (sqlite3_create_collation_v2(db, "NOCASE", SQLITE_UTF8, nullptr, NoCaseCollation, nullptr) != SQLITE_OK ||
        sqlite3_create_collation_v2(db, "RTRIM", SQLITE_UTF8, nullptr, DateCollation, nullptr) != SQLITE_OK)
        throw EDatabaseError(sqlite3_errmsg(db));
}
