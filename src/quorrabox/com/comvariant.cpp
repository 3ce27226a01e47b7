// VARIANT life cycle and the conversions of VariantChangeTypeEx between the types late-bound calls carry.
#include "quorrabox/com/comvariant.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

// A source value with its by-reference form followed, reduced to what the conversions need.
struct Scalar {
    enum Kind { Empty, Null, Int, Real, Bool, Str, Error, Other } kind = Empty;
    long long i = 0;
    double d = 0;
    const OLECHAR* s = nullptr;
    std::size_t n = 0;
};

bool IsKnownType(VARTYPE vt) {
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R8:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UNKNOWN:
        return true;
    default:
        return false;
    }
}

// Reads a value of base type `vt` from `storage` (the variant's own union, or what a by-reference form points at).
HRESULT ReadStorage(VARTYPE vt, const void* storage, Scalar& out) {
    switch (vt) {
    case VT_EMPTY:
        out.kind = Scalar::Empty;
        return S_OK;
    case VT_NULL:
        out.kind = Scalar::Null;
        return S_OK;
    case VT_I2:
        out = {Scalar::Int, *static_cast<const SHORT*>(storage)};
        return S_OK;
    case VT_I4:
        out = {Scalar::Int, *static_cast<const LONG*>(storage)};
        return S_OK;
    case VT_R8:
        out.kind = Scalar::Real;
        out.d = *static_cast<const double*>(storage);
        return S_OK;
    case VT_BOOL:
        out = {Scalar::Bool, *static_cast<const VARIANT_BOOL*>(storage) != 0 ? -1 : 0};
        return S_OK;
    case VT_ERROR:
        out = {Scalar::Error, *static_cast<const SCODE*>(storage)};
        return S_OK;
    case VT_BSTR: {
        BSTR bstr = *static_cast<const BSTR*>(storage);
        out.kind = Scalar::Str;
        out.s = bstr;
        out.n = SysStringLen(bstr);
        return S_OK;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
        out.kind = Scalar::Other;
        return S_OK;
    default:
        return DISP_E_BADVARTYPE;
    }
}

HRESULT ReadSource(const VARIANT& v, Scalar& out, int depth = 0) {
    if (!(v.vt & VT_BYREF)) return ReadStorage(v.vt, &v.lVal, out);
    VARTYPE base = v.vt & ~VT_BYREF;
    if (!v.byref) return E_INVALIDARG;
    if (base != VT_VARIANT)
        return base == VT_EMPTY || base == VT_NULL ? DISP_E_BADVARTYPE : ReadStorage(base, v.byref, out);
    // A by-reference variant may itself hold a by-reference value, but not another variant reference.
    if (depth > 0) return DISP_E_BADVARTYPE;
    return ReadSource(*v.pvarVal, out, depth + 1);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string TrimBlanks(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b]))
        ++b;
    while (e > b && IsBlank(text[e - 1]))
        --e;
    return text.substr(b, e - b);
}

// "&H1F" / "&O17": an unsigned 32-bit pattern read as a signed value, the way scripts write such constants.
HRESULT ParseRadix(const std::string& text, double& value) {
    int base = text[1] == 'H' || text[1] == 'h' ? 16 : text[1] == 'O' || text[1] == 'o' ? 8 : 0;
    if (base == 0 || text.size() < 3) return DISP_E_TYPEMISMATCH;
    unsigned long long bits = 0;
    auto [end, ec] = std::from_chars(text.data() + 2, text.data() + text.size(), bits, base);
    if (end != text.data() + text.size()) return DISP_E_TYPEMISMATCH;
    if (ec != std::errc() || bits > 0xFFFFFFFFull) return DISP_E_OVERFLOW;
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
    return S_OK;
}

// Decimal number text: blanks around, optional sign, digits with an optional "." fraction and exponent.
HRESULT ParseNumber(const std::string& raw, double& value) {
    std::string text = TrimBlanks(raw);
    if (text.size() >= 2 && text[0] == '&') return ParseRadix(text, value);
    std::size_t pos = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
    std::size_t digits = 0;
    auto skipDigits = [&] {
        std::size_t start = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9')
            ++pos;
        return pos - start;
    };
    digits += skipDigits();
    if (pos < text.size() && text[pos] == '.') ++pos, digits += skipDigits();
    if (digits == 0) return DISP_E_TYPEMISMATCH;
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
        if (skipDigits() == 0) return DISP_E_TYPEMISMATCH;
    }
    if (pos != text.size()) return DISP_E_TYPEMISMATCH;
    std::size_t from = text[0] == '+' ? 1 : 0;
    auto [end, ec] = std::from_chars(text.data() + from, text.data() + text.size(), value);
    if (ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
    return ec == std::errc() && end == text.data() + text.size() ? S_OK : DISP_E_TYPEMISMATCH;
}

HRESULT ToReal(const Scalar& src, double& out) {
    switch (src.kind) {
    case Scalar::Empty:
        out = 0;
        return S_OK;
    case Scalar::Int:
    case Scalar::Bool:
        out = static_cast<double>(src.i);
        return S_OK;
    case Scalar::Real:
        out = src.d;
        return S_OK;
    case Scalar::Str:
        return ParseNumber(OleStrToString(src.s, src.n), out);
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

// Whole numbers within [lo, hi]; fractions round to the nearest, halves to the even neighbour.
HRESULT ToInteger(const Scalar& src, long long lo, long long hi, long long& out) {
    if (src.kind == Scalar::Int || src.kind == Scalar::Bool) {
        if (src.i < lo || src.i > hi) return DISP_E_OVERFLOW;
        out = src.i;
        return S_OK;
    }
    double d = 0;
    if (HRESULT hr = ToReal(src, d); FAILED(hr)) return hr;
    double r = std::nearbyint(d);
    if (!(r >= static_cast<double>(lo) && r <= static_cast<double>(hi))) return DISP_E_OVERFLOW;
    out = static_cast<long long>(r);
    return S_OK;
}

bool SameTextAscii(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
    return true;
}

HRESULT ToBool(const Scalar& src, bool& out) {
    if (src.kind == Scalar::Str) {
        std::string text = TrimBlanks(OleStrToString(src.s, src.n));
        if (SameTextAscii(text, "true") || SameTextAscii(text, "false")) {
            out = SameTextAscii(text, "true");
            return S_OK;
        }
    }
    double d = 0;
    if (HRESULT hr = ToReal(src, d); FAILED(hr)) return hr;
    out = d != 0;
    return S_OK;
}

std::string RealToText(double d) {
    if (d == 0) return "0";
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
    std::string text(buf, ec == std::errc() ? end : buf);
    for (char& c : text)
        if (c == 'e') c = 'E';
    return text;
}

HRESULT ToText(const Scalar& src, USHORT flags, BSTR& out) {
    std::string text;
    switch (src.kind) {
    case Scalar::Empty:
        break;
    case Scalar::Int:
        text = std::to_string(src.i);
        break;
    case Scalar::Real:
        text = RealToText(src.d);
        break;
    case Scalar::Bool:
        text = flags & VARIANT_ALPHABOOL ? (src.i ? "True" : "False") : (src.i ? "-1" : "0");
        break;
    case Scalar::Str:
        out = SysAllocStringLen(src.s, static_cast<UINT>(src.n));
        return out || src.n == 0 ? S_OK : E_OUTOFMEMORY;
    default:
        return DISP_E_TYPEMISMATCH;
    }
    out = StringToBstr(text);
    return out ? S_OK : E_OUTOFMEMORY;
}

HRESULT Convert(const Scalar& src, VARTYPE vt, USHORT flags, VARIANT& out) {
    HRESULT hr = S_OK;
    long long i = 0;
    bool b = false;
    out.vt = vt;
    switch (vt) {
    case VT_EMPTY:
        return S_OK;
    case VT_NULL:
        return src.kind == Scalar::Null ? S_OK : DISP_E_TYPEMISMATCH;
    case VT_ERROR:
        out.scode = static_cast<SCODE>(src.i);
        return src.kind == Scalar::Error ? S_OK : DISP_E_TYPEMISMATCH;
    case VT_I2:
        hr = ToInteger(src, -32768, 32767, i);
        out.iVal = static_cast<SHORT>(i);
        return hr;
    case VT_I4:
        hr = ToInteger(src, INT32_MIN, INT32_MAX, i);
        out.lVal = static_cast<LONG>(i);
        return hr;
    case VT_R8:
        return ToReal(src, out.dblVal);
    case VT_BOOL:
        hr = ToBool(src, b);
        out.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
        return hr;
    case VT_BSTR:
        out.bstrVal = nullptr;
        return ToText(src, flags, out.bstrVal);
    default:
        return IsKnownType(vt) ? DISP_E_TYPEMISMATCH : DISP_E_BADVARTYPE;
    }
}

} // namespace

void VariantInit(VARIANT* v) {
    std::memset(v, 0, sizeof *v);
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
    if ((v->vt == VT_DISPATCH || v->vt == VT_UNKNOWN) && v->punkVal) v->punkVal->Release();
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
    if (!dest || !src) return E_INVALIDARG;
    if (dest == src) return S_OK;
    VARIANT copy = *src;
    if (src->vt == VT_BSTR && src->bstrVal) {
        copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
        if (!copy.bstrVal) return E_OUTOFMEMORY;
    }
    if ((src->vt == VT_DISPATCH || src->vt == VT_UNKNOWN) && src->punkVal) src->punkVal->AddRef();
    VariantClear(dest);
    *dest = copy;
    return S_OK;
}

HRESULT VariantChangeTypeEx(VARIANT* dest, VARIANT* src, LCID, USHORT wFlags, VARTYPE vt) {
    if (!dest || !src) return E_INVALIDARG;
    if (src->vt == vt && IsKnownType(vt)) return VariantCopy(dest, src);
    Scalar value;
    if (HRESULT hr = ReadSource(*src, value); FAILED(hr)) return hr;
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = Convert(value, vt, wFlags, result);
    if (FAILED(hr)) return hr; // a failed conversion owns nothing
    VariantClear(dest);
    *dest = result;
    return S_OK;
}
