// ReadFormFields: a text over the bounds is refused whole, never read in part.
#include "web/formfields.h"

#include <algorithm>
#include <optional>

namespace {

/// The pairs (name, value) of `text` as sent; a name without "=" has no value. False, with no
/// pairs, past the bounds.
using TSentPairs = std::vector<std::pair<std::string_view, std::optional<std::string_view>>>;

bool SplitPairs(std::string_view text, TSentPairs& pairs) {
    if (text.size() > MaxFormBytes) return false;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find('&', start), text.size());
        const std::string_view pair = text.substr(start, end - start);
        start = end + 1;
        if (pair.empty()) continue; // "a&&b" has two fields
        if (pairs.size() == MaxFormFields) {
            pairs.clear();
            return false;
        }
        const std::size_t eq = pair.find('=');
        pairs.emplace_back(pair.substr(0, eq), eq == std::string_view::npos
                                                   ? std::optional<std::string_view>()
                                                   : std::optional<std::string_view>(pair.substr(eq + 1)));
    }
    return true;
}

} // namespace

bool ReadFormFields(std::string_view text, TFormFields& fields) {
    fields.clear();
    TSentPairs pairs;
    if (!SplitPairs(text, pairs)) return false;
    for (const auto& [name, value] : pairs)
        fields.emplace_back(UrlDecode(name), value ? UrlDecode(*value) : std::string());
    return true;
}

std::string FormField(std::string_view text, const std::string& name) {
    TSentPairs pairs;
    SplitPairs(text, pairs);
    for (const auto& [sent, value] : pairs)
        if (sent == name) return value ? UrlDecode(*value) : std::string();
    return {};
}

std::string UrlDecode(std::string_view text) {
    auto hex = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out += char(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}
