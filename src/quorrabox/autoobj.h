// The automation layer's view of an object: the base class TAutoObject and the member tables
// through which late-bound callers reach an object's published methods and properties by name.
#pragma once

#include "quorrabox/com/comvariant.h"

#include <span>
#include <string>
#include <variant>
#include <vector>

class TAutoObject;

/// An argument after conversion to its declared type, or a member's result: none, 8-bit text, or a 32-bit integer.
using TAutoValue = std::variant<std::monostate, std::string, LONG>;
using TAutoArgs = std::vector<TAutoValue>;

/// The kind of a member, with the dispatch flag a call of that kind carries.
enum class TAutoMemberKind : WORD {
    Method = DISPATCH_METHOD,
    PropertyGet = DISPATCH_PROPERTYGET,
    PropertyPut = DISPATCH_PROPERTYPUT,
};

/// One published member. Params lists the declared argument types first to last (VT_BSTR or VT_I4);
/// Result is VT_EMPTY for a member without a result. Call runs the member on an object of its class.
struct TAutoMember {
    const char* Name;
    DISPID DispId;
    TAutoMemberKind Kind;
    std::vector<VARTYPE> Params;
    VARTYPE Result;
    TAutoValue (*Call)(TAutoObject& self, const TAutoArgs& args);
};

/// The members a class publishes itself, linked to those of its base class.
struct TAutoClassMembers {
    const char* ClassName;
    const TAutoClassMembers* Parent;
    std::span<const TAutoMember> Members;
};

/// Base of every automation class. A class publishes its members by overriding ClassMembers();
/// lookups search the class's own table first, then its base classes'.
class TAutoObject {
public:
    virtual ~TAutoObject() = default;
    /// The table of the most derived class; TAutoObject's own publishes nothing.
    virtual const TAutoClassMembers& ClassMembers() const;
    const char* ClassName() const { return ClassMembers().ClassName; }

    /// The member named `name` (ASCII letter case ignored), null when there is none.
    const TAutoMember* FindMemberByName(const std::string& name) const;
    /// The member with this DISPID whose kind is one of `flags` (DISPATCH_* bits), null when there is none.
    const TAutoMember* FindMember(DISPID dispId, WORD flags) const;

    static const TAutoClassMembers BaseMembers;
};
