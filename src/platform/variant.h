// A small variant for field values: null, integer, float, text, date-time, Boolean.
// Conversions follow the program-wide formats; a failed conversion raises EConvertError.
#pragma once

#include "platform/clock.h"

#include <string>
#include <variant>

enum class VarType { Null, Integer, Float, String, DateTime, Boolean };

class Variant {
public:
    Variant() = default; // null
    Variant(int v) : m_type(VarType::Integer), m_value(static_cast<long long>(v)) {}
    Variant(long long v) : m_type(VarType::Integer), m_value(v) {}
    Variant(double v) : m_type(VarType::Float), m_value(v) {}
    Variant(bool v) : m_type(VarType::Boolean), m_value(v) {}
    Variant(std::string v) : m_type(VarType::String), m_value(std::move(v)) {}
    Variant(const char* v) : m_type(VarType::String), m_value(std::string(v)) {}
    static Variant Null() { return Variant(); }
    static Variant FromDateTime(TDateTime v);

    VarType Type() const { return m_type; }
    bool IsNull() const { return m_type == VarType::Null; }

    /// Text form: integers in decimal, floats shortest with ".", date-times "yyyy-mm-dd hh:nn:ss"
    /// (date alone at midnight), Booleans "True"/"False", null as "".
    std::string AsString() const;
    /// Appends the text form (as AsString) to `out`, without a string of its own.
    void AppendTo(std::string& out) const;
    /// The text a String holds, read in place; nullptr for every other type.
    const std::string* IfString() const { return std::get_if<std::string>(&m_value); }
    /// Integer form: floats and date-times rounded, text parsed (EConvertError when not a number),
    /// Booleans -1/0, null 0.
    long long AsInteger() const;
    /// Floating-point form: text parsed (EConvertError when not a number), null 0.
    double AsFloat() const;
    /// Date-time form: numbers as day counts, text parsed as a date (EConvertError otherwise).
    TDateTime AsDateTime() const;
    /// Boolean form: numbers non-zero, text "true"/"false" or a number.
    bool AsBoolean() const;

    bool operator==(const Variant& other) const = default;

private:
    VarType m_type = VarType::Null;
    std::variant<std::monostate, long long, double, bool, std::string> m_value;
};
