// Small text helpers shared by every layer: printf-style formatting, trimming, case folding.
#pragma once

#include <string>
#include <vector>

/// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
/// Removes leading and trailing blanks and control characters (bytes up to 32).
std::string Trim(const std::string& s);
std::string TrimLeft(const std::string& s);
std::string TrimRight(const std::string& s);
std::string UpperCase(const std::string& s);
std::string LowerCase(const std::string& s);
/// Compares without regard to ASCII letter case.
bool SameText(const std::string& a, const std::string& b);
/// The form under which the database matches a site code: trailing blanks dropped, ASCII letters in
/// lower case. Two codes are the same site when their keys are equal; sites are kept by it in maps.
std::string SiteCodeKey(const std::string& code);
/// Whether the database takes `a` and `b` for the same site code.
bool SameSiteCode(const std::string& a, const std::string& b);
/// Whole-number text with optional sign to int; false when it is not one or out of range.
bool TryStrToInt(const std::string& s, int& out);
/// Like TryStrToInt, throwing EConvertError "'<s>' is not a valid integer value".
int StrToInt(const std::string& s);
int StrToIntDef(const std::string& s, int def);
std::string IntToStr(long long value);
/// Splits at every occurrence of `sep` (empty fields kept).
std::vector<std::string> SplitString(const std::string& s, char sep);
bool StartsWithText(const std::string& s, const std::string& prefix);
/// The longest start of `text` of at most `bytes` bytes that does not split a UTF-8 character: what a
/// column of that width takes. A byte that begins no character is kept as it comes.
std::string CutToBytes(const std::string& text, std::size_t bytes);
