// Conversions of the field-value variant.
#include "platform/variant.h"

#include "platform/datetime.h"
#include "platform/errors.h"
#include "platform/strutil.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {

bool ParseFloat(const std::string& text, double& out) {
    std::string t = Trim(text);
    if (t.empty()) return false;
    char* end = nullptr;
    out = std::strtod(t.c_str(), &end);
    return end && *end == '\0' && std::isfinite(out);
}

long long RoundToInteger(double v, const std::string& shown) {
    if (!std::isfinite(v) || std::fabs(v) > 9.2e18) throw EConvertError("Invalid variant type conversion: " + shown);
    return std::llrint(v); // banker's rounding, as the platform's variant conversion does
}

} // namespace

Variant Variant::FromDateTime(TDateTime v) {
    Variant r(v);
    r.m_type = VarType::DateTime;
    return r;
}

std::string Variant::AsString() const {
    switch (m_type) {
    case VarType::Null:
        return {};
    case VarType::Integer:
        return std::to_string(std::get<long long>(m_value));
    case VarType::Float:
        return FloatToStr(std::get<double>(m_value));
    case VarType::DateTime:
        return DateTimeToStr(std::get<double>(m_value));
    case VarType::Boolean:
        return std::get<bool>(m_value) ? "True" : "False";
    case VarType::String:
        return std::get<std::string>(m_value);
    }
    return {};
}

void Variant::AppendTo(std::string& out) const {
    switch (m_type) {
    case VarType::Integer: {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, std::get<long long>(m_value)).ptr;
        out.append(digits, static_cast<std::size_t>(end - digits));
        return;
    }
    case VarType::DateTime:
        AppendDateTime(out, std::get<double>(m_value), true);
        return;
    case VarType::String:
        out += std::get<std::string>(m_value);
        return;
    default:
        out += AsString();
        return;
    }
}

long long Variant::AsInteger() const {
    switch (m_type) {
    case VarType::Null:
        return 0;
    case VarType::Integer:
        return std::get<long long>(m_value);
    case VarType::Float:
    case VarType::DateTime:
        return RoundToInteger(std::get<double>(m_value), AsString());
    case VarType::Boolean:
        return std::get<bool>(m_value) ? -1 : 0;
    case VarType::String: {
        const std::string& s = std::get<std::string>(m_value);
        double d = 0;
        if (!ParseFloat(s, d)) throw EConvertError("Could not convert variant of type (String) into type (Integer)");
        return RoundToInteger(d, s);
    }
    }
    return 0;
}

double Variant::AsFloat() const {
    switch (m_type) {
    case VarType::Null:
        return 0;
    case VarType::Integer:
        return static_cast<double>(std::get<long long>(m_value));
    case VarType::Float:
    case VarType::DateTime:
        return std::get<double>(m_value);
    case VarType::Boolean:
        return std::get<bool>(m_value) ? -1 : 0;
    case VarType::String: {
        double d = 0;
        if (!ParseFloat(std::get<std::string>(m_value), d))
            throw EConvertError("Could not convert variant of type (String) into type (Double)");
        return d;
    }
    }
    return 0;
}

TDateTime Variant::AsDateTime() const {
    if (m_type == VarType::String) {
        double d = 0;
        const std::string& s = std::get<std::string>(m_value);
        return ParseFloat(s, d) ? d : StrToDateTime(s);
    }
    return AsFloat();
}

bool Variant::AsBoolean() const {
    if (m_type == VarType::Boolean) return std::get<bool>(m_value);
    if (m_type == VarType::String) {
        const std::string& s = std::get<std::string>(m_value);
        if (SameText(Trim(s), "true")) return true;
        if (SameText(Trim(s), "false")) return false;
    }
    return AsFloat() != 0;
}
