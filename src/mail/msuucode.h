// Uuencoding of one line: a count character, then the bytes 6 bits per character, with the value
// 0 written as a backquote.
#pragma once

#include <string>
#include <string_view>

/// Most bytes of one uuencoded line.
constexpr std::size_t UULineBytes = 45;

/// One uuencoded line of up to 45 bytes (more are ignored): 61 characters for 45 bytes,
/// otherwise 1 + ceil(4n/3); groups are not padded.
std::string UUEncodeLine(std::string_view bytes);
/// The bytes of one uuencoded line; EInOutError "Invalid Character" for a character outside
/// the alphabet.
std::string UUDecodeLine(std::string_view line);
