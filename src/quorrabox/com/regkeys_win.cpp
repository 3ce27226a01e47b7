// The registration helpers over HKEY_CLASSES_ROOT (Windows build).
#include "quorrabox/com/classregistry.h"

#include "quorrabox/com/comvariant.h"
#include "platform/errors.h"

void CreateRegKey(const std::string& key, const std::string& value) {
    OleString wideKey = StringToOleStr(key), wideValue = StringToOleStr(value);
    HKEY handle = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, wideKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr);
    if (rc == ERROR_SUCCESS) {
        auto bytes = static_cast<DWORD>((wideValue.size() + 1) * sizeof(wchar_t));
        rc = RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(wideValue.c_str()), bytes);
        RegCloseKey(handle);
    }
    if (rc != ERROR_SUCCESS) throw EInOutError("Unable to write registry key " + key);
}

void DeleteRegKey(const std::string& key) {
    RegDeleteKeyW(HKEY_CLASSES_ROOT, StringToOleStr(key).c_str());
}

std::optional<std::string> GetRegStringValue(const std::string& key) {
    wchar_t buffer[1024];
    LONG size = sizeof buffer;
    if (RegQueryValueW(HKEY_CLASSES_ROOT, StringToOleStr(key).c_str(), buffer, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return OleStrToString(buffer, size / sizeof(wchar_t) > 0 ? size / sizeof(wchar_t) - 1 : 0);
}
