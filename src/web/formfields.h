// The one reader of application/x-www-form-urlencoded text, a form's body or a request's query, for
// every page: name=value pairs split at "&", both decoded as a browser encodes them, within bounds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/// Our forms are a few hundred bytes and our queries a handful of fields; anything longer is none of ours.
constexpr std::size_t MaxFormBytes = 4096;
constexpr std::size_t MaxFormFields = 100;

/// The fields (name, value) in the order sent, both decoded; a name without "=" has an empty value.
using TFormFields = std::vector<std::pair<std::string, std::string>>;

/// Reads the fields of `text`; false, with no fields, when it is longer than MaxFormBytes or holds
/// more than MaxFormFields fields.
bool ReadFormFields(std::string_view text, TFormFields& fields);
/// The value of the first field of `text` named `name` as sent (the name is not decoded), decoded;
/// empty when there is none or `text` is refused.
std::string FormField(std::string_view text, const std::string& name);

/// Decodes a form value as a browser sends it: "+" is a space, "%XX" the byte XX; a "%" not
/// followed by two hexadecimal digits stays as it is.
std::string UrlDecode(std::string_view text);
