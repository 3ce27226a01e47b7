// The library's own path from the dynamic loader.
#include "quorrabox/modulepath.h"

#include <dlfcn.h>
#include <filesystem>

std::string ModulePath() {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&ModulePath), &info) || !info.dli_fname) return {};
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(info.dli_fname, ec);
    return ec ? std::string(info.dli_fname) : path.lexically_normal().string();
}
