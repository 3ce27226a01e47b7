// Conversion and text helpers shared by the daemon, the web pages and the data utilities.
#include "db/common.h"

#include "platform/datetime.h"
#include "platform/progdir.h"
#include "platform/strutil.h"

#include <cmath>

long long DateDiff(char unit, TDateTime earlier, TDateTime later) {
    double factor = 0;
    switch (unit) {
    case 'd':
        factor = 1;
        break;
    case 'h':
        factor = 24;
        break;
    case 'n':
        factor = 24 * 60;
        break;
    case 's':
        factor = SecondsPerDay;
        break;
    default:
        return 0;
    }
    double diff = (later - earlier) * factor;
    if (!std::isfinite(diff) || std::fabs(diff) > 9.0e18) return 0;
    // A hair of tolerance so that exactly n units computed from day fractions are not cut to n-1.
    return static_cast<long long>(std::trunc(diff + (diff >= 0 ? 1e-7 : -1e-7)));
}

long long DateDiff(const std::string& unit, TDateTime earlier, TDateTime later) {
    return unit.size() == 1 ? DateDiff(unit[0], earlier, later) : 0;
}

std::string FormatSQLDate(bool zeroSeconds, TDateTime moment) {
    DateParts p = DecodeDateTime(moment);
    if (zeroSeconds) return Format("%d/%d/%d %2.2d:%2.2d:00", p.month, p.day, p.year, p.hour, p.minute);
    return Format("%d/%d/%d %2.2d:%2.2d:%2.2d", p.month, p.day, p.year, p.hour, p.minute, p.second);
}

double VarToFloatDef(const Variant& v) {
    return v.IsNull() ? 0 : v.AsFloat();
}

std::string VarToStrTrim(const Variant& v) {
    return v.IsNull() ? std::string() : Trim(v.AsString());
}

long long VarToIntDef(const Variant& v) {
    return v.IsNull() ? 0 : v.AsInteger();
}

std::string StripQuotes(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\'') out += c;
    return out;
}

void SplitTabs(const std::string& text, TStringList& list) {
    // The strings already in the list are reused: a restore splits every line of a file into it.
    std::size_t count = 0;
    auto add = [&](std::size_t from, std::size_t length) {
        if (count < list.size())
            list[count].assign(text, from, length);
        else
            list.emplace_back(text, from, length);
        ++count;
    };
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t tab = text.find('\t', pos);
        if (tab == std::string::npos) {
            add(pos, text.size() - pos);
            break;
        }
        const bool empty = tab == pos;
        add(pos, tab - pos);
        pos = tab + 1;
        // A tab that ends the text after an empty field closes one more, empty field.
        if (empty && pos == text.size()) add(pos, 0);
    }
    list.resize(count);
}

std::string LookupParallel(const std::string& key, const TStringList& names, const TStringList& values) {
    for (std::size_t i = 0; i < names.size() && i < values.size(); ++i)
        if (names[i] == key) return values[i];
    return {};
}

std::string VersionTextOf(const std::string& fileVersion) {
    std::vector<std::string> parts = SplitString(fileVersion, '.');
    std::string text = parts.empty() ? std::string() : parts[0];
    if (parts.size() > 1) text += "." + parts[1];
    if (parts.size() > 2) text += parts[2];
    return text;
}

std::string GetVersionText() {
    return VersionTextOf(FileVersion());
}
