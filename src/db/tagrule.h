// What a site's tag may be: 1 to 64 ASCII letters, digits, "_", "-", "." or ":", kept in lower case,
// so "Core" and "core" are one tag. Alone in its file, so that the request fuzzers link it bare.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

/// The longest tag.
constexpr std::size_t MaxTagLength = 64;

/// Why `tag` cannot be a tag; "" when it can (letter case aside).
std::string TagProblem(const std::string& tag);
/// The tags as stored: lower case, sorted, each once.
std::vector<std::string> NormalTags(std::vector<std::string> tags);
