// JsonText: the layout is written here; each string goes through the JSON library's own escaping.
#include "platform/json.h"

#include <algorithm>
#include <cstdio>

namespace {

/// JsonRaw's text is held in the binary slot, which no JSON text read ever fills, under this subtype.
constexpr std::uint64_t RawSubtype = 0x4A52; // "JR"

/// The library writes five control characters in their short forms (\b \t \n \f \r); every other
/// one, and these too in what the program has always written, as \u00XX.
void AppendString(std::string& out, const std::string& text, const JsonStyle& style) {
    // Printable ASCII without a quote or backslash stands as it is in every style: most keys and
    // values are such, and are spared the library's round.
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; })) {
        out += '"';
        out += text;
        out += '"';
        return;
    }
    const std::string escaped =
        nlohmann::json(text).dump(-1, ' ', style.Ascii, nlohmann::json::error_handler_t::replace);
    for (std::size_t at = 0; at < escaped.size(); ++at) {
        const char c = escaped[at];
        if (c != '\\') {
            out += c;
            continue;
        }
        const char next = escaped[++at];
        const char* control = next == 'b'   ? "\\u0008"
                              : next == 't' ? "\\u0009"
                              : next == 'n' ? "\\u000a"
                              : next == 'f' ? "\\u000c"
                              : next == 'r' ? "\\u000d"
                                            : nullptr;
        if (control) {
            out += control;
        } else {
            out += c;
            out += next;
        }
    }
}

template <class Value> void Append(std::string& out, const Value& value, const JsonStyle& style) {
    const char* comma = style.Spaced ? ", " : ",";
    switch (value.type()) {
    case nlohmann::json::value_t::object: {
        out += '{';
        bool first = true;
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (!first) out += comma;
            first = false;
            AppendString(out, it.key(), style);
            out += style.Spaced ? ": " : ":";
            Append(out, it.value(), style);
        }
        out += '}';
        break;
    }
    case nlohmann::json::value_t::array: {
        out += '[';
        bool first = true;
        for (const auto& item : value) {
            if (!first) out += comma;
            first = false;
            Append(out, item, style);
        }
        out += ']';
        break;
    }
    case nlohmann::json::value_t::string:
        AppendString(out, value.template get_ref<const std::string&>(), style);
        break;
    case nlohmann::json::value_t::binary: {
        const auto& bytes = value.get_binary();
        out.append(bytes.begin(), bytes.end());
        break;
    }
    default: // numbers, true, false and null as the library prints them
        out += value.dump();
        break;
    }
}

} // namespace

std::string JsonText(const Json& value, JsonStyle style) {
    std::string out;
    Append(out, value, style);
    return out;
}

std::string JsonText(const nlohmann::json& value, JsonStyle style) {
    std::string out;
    Append(out, value, style);
    return out;
}

Json JsonRaw(const std::string& text) {
    return Json::binary(Json::binary_t::container_type(text.begin(), text.end()), RawSubtype);
}

Json JsonFixed(double value, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return JsonRaw(buf);
}
