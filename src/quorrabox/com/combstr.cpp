// BSTR allocation: the length-prefixed UTF-16 strings of the COM-style interface.
#include "quorrabox/com/comvariant.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// Layout of one allocation: [byte length: uint32][units...][0 unit].
constexpr std::size_t PrefixSize = sizeof(std::uint32_t);

std::uint32_t* PrefixOf(BSTR bstr) {
    return reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(bstr) - PrefixSize);
}

} // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    if (length > (std::numeric_limits<std::uint32_t>::max() - PrefixSize) / 2 - 1) return nullptr;
    std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
    auto* block = static_cast<char*>(std::malloc(PrefixSize + bytes + sizeof(OLECHAR)));
    if (!block) return nullptr;
    auto size = static_cast<std::uint32_t>(bytes);
    std::memcpy(block, &size, PrefixSize);
    auto bstr = reinterpret_cast<BSTR>(block + PrefixSize);
    if (text)
        std::memcpy(bstr, text, bytes);
    else
        std::memset(bstr, 0, bytes);
    bstr[length] = 0;
    return bstr;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    UINT length = 0;
    while (text[length])
        ++length;
    return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR bstr) {
    if (bstr) std::free(PrefixOf(bstr));
}

UINT SysStringLen(BSTR bstr) {
    if (!bstr) return 0;
    std::uint32_t bytes;
    std::memcpy(&bytes, PrefixOf(bstr), PrefixSize);
    return bytes / sizeof(OLECHAR);
}
