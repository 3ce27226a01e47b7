// Date reading and the refined NOCASE and RTRIM collations of the embedded database.
#include "db/sqlitecollation.h"

#include "db/dbaccess.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

std::string_view TrimTrailingBlanks(std::string_view s) {
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// Matches `text` against a form exactly and accumulates each field's digits.
bool MatchForm(std::string_view text, std::string_view form, TSqlDate& date) {
    if (text.size() != form.size()) return false;
    for (std::size_t i = 0; i < form.size(); ++i) {
        const char f = form[i], c = text[i];
        int* field = f == 'y'   ? &date.Year
                     : f == 'm' ? &date.Month
                     : f == 'd' ? &date.Day
                     : f == 'h' ? &date.Hour
                     : f == 'n' ? &date.Minute
                     : f == 's' ? &date.Second
                                : nullptr;
        if (field == nullptr) {
            if (c != f) return false;
        } else {
            if (c < '0' || c > '9') return false;
            *field = *field * 10 + (c - '0');
        }
    }
    return true;
}

bool MatchDate(std::string_view text, TSqlDate& date) {
    for (const char* form : kSqlDateForms) {
        TSqlDate d;
        if (MatchForm(text, form, d)) {
            date = d;
            return true;
        }
    }
    return false;
}

bool MatchTime(std::string_view text, TSqlDate& date) {
    if (text.empty()) return true;
    if (text[0] != ' ' && text[0] != 'T') return false;
    for (const char* form : kSqlTimeForms) {
        TSqlDate t;
        if (MatchForm(text.substr(1), form, t)) {
            date.Hour = t.Hour, date.Minute = t.Minute, date.Second = t.Second;
            return true;
        }
    }
    return false;
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

} // namespace

const char* const kSqlDateForms[5] = {"m/d/yyyy", "m/dd/yyyy", "mm/d/yyyy", "mm/dd/yyyy", "yyyy-mm-dd"};
const char* const kSqlTimeForms[4] = {"hh:nn:ss", "h:nn:ss", "hh:nn", "h:nn"};

// "yyyy-mm-dd" or "yyyy-mm-dd hh:nn:ss", the forms the program writes, read without trying the others.
bool MatchIsoForm(std::string_view t, TSqlDate& date) {
    if (t.size() != 10 && t.size() != 19) return false;
    auto digits = [&t](std::size_t at, std::size_t count, int& value) {
        value = 0;
        for (std::size_t i = at; i < at + count; ++i) {
            if (t[i] < '0' || t[i] > '9') return false;
            value = value * 10 + (t[i] - '0');
        }
        return true;
    };
    TSqlDate d;
    if (t[4] != '-' || t[7] != '-' || !digits(0, 4, d.Year) || !digits(5, 2, d.Month) || !digits(8, 2, d.Day))
        return false;
    if (t.size() == 19 && (t[10] != ' ' || t[13] != ':' || t[16] != ':' || !digits(11, 2, d.Hour) ||
                           !digits(14, 2, d.Minute) || !digits(17, 2, d.Second)))
        return false;
    date = d;
    return true;
}

bool ParseSqlDate(std::string_view text, TSqlDate& date) {
    TSqlDate iso;
    if (MatchIsoForm(text, iso)) {
        if (iso.Month < 1 || iso.Month > 12 || iso.Day < 1 || iso.Day > DaysInMonth(iso.Year, iso.Month)) return false;
        if (iso.Hour > 23 || iso.Minute > 59 || iso.Second > 59) return false;
        date = iso;
        return true;
    }
    // The date form is told by the text's start: the forms differ in where their separators stand.
    for (std::size_t length : {8u, 9u, 10u}) {
        if (text.size() < length) break;
        TSqlDate d;
        if (!MatchDate(text.substr(0, length), d) || !MatchTime(text.substr(length), d)) continue;
        if (d.Month < 1 || d.Month > 12 || d.Day < 1 || d.Day > DaysInMonth(d.Year, d.Month)) return false;
        if (d.Hour > 23 || d.Minute > 59 || d.Second > 59) return false;
        date = d;
        return true;
    }
    return false;
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
