// Text in the Windows 8-bit code page of files written on the original system, and the check that
// tells such text from UTF-8.
#pragma once

#include <string>
#include <string_view>

/// Whether the bytes form well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsUtf8(std::string_view bytes);
/// Windows-1252 bytes to UTF-8; the five bytes the code page leaves undefined map to U+0080..U+009F.
std::string Windows1252ToUtf8(std::string_view bytes);
/// Text as UTF-8: unchanged when it is well-formed UTF-8, otherwise read as Windows-1252 (what the
/// original system and its tools write).
std::string AsUtf8(std::string_view text);
