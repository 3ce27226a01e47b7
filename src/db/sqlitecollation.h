// How the embedded database reads dates and matches text the way SQL Server does, on top of the
// built-in NOCASE and RTRIM collations that its schema names.
#pragma once

#include <string_view>

struct sqlite3;

struct TSqlDate {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

/// The written forms of a date: letters stand for digits of the field they name (y, m, d; h, n, s),
/// other characters for themselves. A text is a date when it is exactly one date form, optionally
/// followed by a blank or "T" and one time form, naming a real day and time. The triggers that store
/// dates as "yyyy-mm-dd hh:nn:ss" are built from the same forms.
extern const char* const kSqlDateForms[5];
extern const char* const kSqlTimeForms[4];

/// Reads a date written in the forms above; false for anything else.
bool ParseSqlDate(std::string_view text, TSqlDate& date);

/// Compares like SQL Server's default collation: ASCII letters without regard to case, trailing
/// blanks ignored. On values without trailing blanks it orders exactly like the built-in NOCASE.
int CompareNoCase(std::string_view a, std::string_view b);

/// Compares dates in either written form as dates; dates sort before other text, which compares like
/// the built-in RTRIM. On "yyyy-mm-dd hh:nn:ss" values it orders exactly like the built-in RTRIM.
int CompareDates(std::string_view a, std::string_view b);

/// Installs the two comparisons above as this connection's NOCASE and RTRIM. The stored values are
/// kept canonical by triggers, so the stock collations (the sqlite3 shell's) order the indexes the
/// same way and the file stays fully usable without vkt.
void RegisterCollations(sqlite3* db);
