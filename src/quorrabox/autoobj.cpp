// Member lookup of the automation layer: by name for GetIDsOfNames, by DISPID and kind for Invoke.
#include "quorrabox/autoobj.h"

namespace {

bool SameNameAscii(const char* a, const std::string& b) {
    std::size_t i = 0;
    for (; a[i] && i < b.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
        if (x != y) return false;
    }
    return !a[i] && i == b.size();
}

} // namespace

const TAutoClassMembers TAutoObject::BaseMembers = {"TAutoObject", nullptr, {}};

const TAutoClassMembers& TAutoObject::ClassMembers() const {
    return BaseMembers;
}

const TAutoMember* TAutoObject::FindMemberByName(const std::string& name) const {
    for (const TAutoClassMembers* table = &ClassMembers(); table; table = table->Parent)
        for (const TAutoMember& member : table->Members)
            if (SameNameAscii(member.Name, name)) return &member;
    return nullptr;
}

const TAutoMember* TAutoObject::FindMember(DISPID dispId, WORD flags) const {
    for (const TAutoClassMembers* table = &ClassMembers(); table; table = table->Parent)
        for (const TAutoMember& member : table->Members)
            if (member.DispId == dispId && (static_cast<WORD>(member.Kind) & flags) != 0) return &member;
    return nullptr;
}
