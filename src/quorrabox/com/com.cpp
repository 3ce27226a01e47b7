// Names of the HRESULT codes and the registry text form of GUIDs.
#include "quorrabox/com/com.h"

#include <cstdio>
#include <iterator>

namespace {

struct HResultEntry {
    HRESULT Code;
    const char* Name;
};

#define VKT_HRESULT_ENTRY(code)                                                                                        \
    { code, #code }
const HResultEntry HResultNames[] = {
    VKT_HRESULT_ENTRY(S_OK),
    VKT_HRESULT_ENTRY(S_FALSE),
    VKT_HRESULT_ENTRY(E_NOTIMPL),
    VKT_HRESULT_ENTRY(E_NOINTERFACE),
    VKT_HRESULT_ENTRY(E_POINTER),
    VKT_HRESULT_ENTRY(E_ABORT),
    VKT_HRESULT_ENTRY(E_FAIL),
    VKT_HRESULT_ENTRY(E_UNEXPECTED),
    VKT_HRESULT_ENTRY(E_OUTOFMEMORY),
    VKT_HRESULT_ENTRY(E_INVALIDARG),
    VKT_HRESULT_ENTRY(CLASS_E_NOAGGREGATION),
    VKT_HRESULT_ENTRY(CLASS_E_CLASSNOTAVAILABLE),
    VKT_HRESULT_ENTRY(REGDB_E_CLASSNOTREG),
    VKT_HRESULT_ENTRY(SELFREG_E_CLASS),
    VKT_HRESULT_ENTRY(CO_E_CLASSSTRING),
    VKT_HRESULT_ENTRY(CO_E_DLLNOTFOUND),
    VKT_HRESULT_ENTRY(CO_E_ERRORINDLL),
    VKT_HRESULT_ENTRY(DISP_E_UNKNOWNINTERFACE),
    VKT_HRESULT_ENTRY(DISP_E_MEMBERNOTFOUND),
    VKT_HRESULT_ENTRY(DISP_E_PARAMNOTFOUND),
    VKT_HRESULT_ENTRY(DISP_E_TYPEMISMATCH),
    VKT_HRESULT_ENTRY(DISP_E_UNKNOWNNAME),
    VKT_HRESULT_ENTRY(DISP_E_NONAMEDARGS),
    VKT_HRESULT_ENTRY(DISP_E_BADVARTYPE),
    VKT_HRESULT_ENTRY(DISP_E_EXCEPTION),
    VKT_HRESULT_ENTRY(DISP_E_OVERFLOW),
    VKT_HRESULT_ENTRY(DISP_E_BADPARAMCOUNT),
    VKT_HRESULT_ENTRY(DISP_E_PARAMNOTOPTIONAL),
};
#undef VKT_HRESULT_ENTRY

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads `digits` hexadecimal digits at `pos`; false when one of them is not a digit.
bool ReadHex(const std::string& text, std::size_t pos, int digits, std::uint32_t& out) {
    out = 0;
    for (int i = 0; i < digits; ++i) {
        int d = HexDigit(text[pos + i]);
        if (d < 0) return false;
        out = out << 4 | static_cast<std::uint32_t>(d);
    }
    return true;
}

} // namespace

std::string HResultName(HRESULT hr) {
    for (const auto& entry : HResultNames)
        if (entry.Code == hr) return entry.Name;
    return {};
}

std::string HResultToString(HRESULT hr) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(hr));
    std::string name = HResultName(hr);
    return name.empty() ? hex : name + " (" + hex + ")";
}

std::string GuidToString(const GUID& guid) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

bool StringToGuid(const std::string& text, GUID& guid) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}: positions of the dashes and the digit groups are fixed.
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
    if (text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-') return false;
    std::uint32_t d1, d2, d3, byte;
    if (!ReadHex(text, 1, 8, d1) || !ReadHex(text, 10, 4, d2) || !ReadHex(text, 15, 4, d3)) return false;
    static const std::size_t bytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    GUID result{d1, static_cast<std::uint16_t>(d2), static_cast<std::uint16_t>(d3), {}};
    for (std::size_t i = 0; i < std::size(bytePos); ++i) {
        if (!ReadHex(text, bytePos[i], 2, byte)) return false;
        result.Data4[i] = static_cast<std::uint8_t>(byte);
    }
    guid = result;
    return true;
}
