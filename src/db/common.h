// Conversion and text helpers shared by the daemon, the web pages and the data utilities.
#pragma once

#include "platform/clock.h"
#include "platform/variant.h"

#include <string>
#include <vector>

using TStringList = std::vector<std::string>;

/// later - earlier in the unit "d", "h", "n" or "s", truncated toward zero; 0 for any other unit.
long long DateDiff(char unit, TDateTime earlier, TDateTime later);
long long DateDiff(const std::string& unit, TDateTime earlier, TDateTime later);
/// "m/d/yyyy hh:nn:ss" (seconds "00" when zeroSeconds).
std::string FormatSQLDate(bool zeroSeconds, TDateTime moment);
double VarToFloatDef(const Variant& v);
std::string VarToStrTrim(const Variant& v);
long long VarToIntDef(const Variant& v);
/// The text without any apostrophe.
std::string StripQuotes(const std::string& text);
/// Splits TAB-separated fields into `list` (cleared first).
void SplitTabs(const std::string& text, TStringList& list);
/// The value at the position of the first name equal to `key` (case-sensitive), or "".
std::string LookupParallel(const std::string& key, const TStringList& names, const TStringList& values);
/// "a.bc" from the program's file version a.b.c.d ("1.12" for 1.1.2.17).
std::string GetVersionText();
/// The same rule applied to any "a.b.c.d" text; a shorter text gives a shortened or empty result.
std::string VersionTextOf(const std::string& fileVersion);
