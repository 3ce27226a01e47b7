// The one JSON codec of the program: every JSON text it writes, whatever the layer, is laid out here
// and its strings escaped by the JSON library in one way.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

/// A JSON value whose objects keep their members in the order they were added.
using Json = nlohmann::ordered_json;

/// How a text is laid out: compact ("," and ":" alone), or spaced (", " and ": ") as a notice is;
/// and whether everything outside printable ASCII is written as \u escapes.
struct JsonStyle {
    bool Spaced = false;
    bool Ascii = false;
};

/// The value as JSON text. Strings are written as they stand when they are UTF-8 (with quotes,
/// backslashes and control characters escaped, a control character always as \u00XX); bytes that
/// are not UTF-8 become U+FFFD. Objects of nlohmann::json come out with their members sorted by
/// name, those of Json in the order they were added.
std::string JsonText(const Json& value, JsonStyle style = {});
std::string JsonText(const nlohmann::json& value, JsonStyle style = {});

/// Text that is JSON already, placed in a value to be written as it stands: a number with a fixed
/// count of decimals ("2.500"), an object another writer made. Only JsonText knows it as such.
Json JsonRaw(const std::string& text);
/// The number printed with `decimals` fixed decimals, as "%.*f" prints it.
Json JsonFixed(double value, int decimals);
