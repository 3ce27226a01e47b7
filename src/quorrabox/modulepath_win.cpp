// The DLL's own path from the module that holds this code (Windows build).
#include "quorrabox/modulepath.h"

#include "quorrabox/com/comvariant.h"

std::string ModulePath() {
    HMODULE module = nullptr;
    auto address = reinterpret_cast<LPCWSTR>(&ModulePath);
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            address, &module))
        return {};
    wchar_t path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH * 4);
    return length > 0 && length < MAX_PATH * 4 ? OleStrToString(path, length) : std::string();
}
