// Which live members probe a site: rendezvous (highest-random-weight) hashing of the site code over
// the members' names. Every member computes the same answer from the same membership without asking
// anyone, and when a member leaves or joins only the sites it held or takes move.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Rendezvous {
public:
    /// `members`: the live members' names, in any order.
    explicit Rendezvous(const std::vector<std::string>& members);

    /// The code's side of every weight; codes the database takes for the same site have the same key.
    /// A list of a million codes is keyed once and divided under each membership from the keys.
    static std::uint64_t Key(const std::string& code);

    /// The `copies` members that probe the site (all of them when fewer are live), highest weight
    /// first. Codes the database takes for the same site get the same members.
    std::vector<std::string> Copies(const std::string& code, int copies) const;
    /// The same as places in the names given (Name), into `places`.
    void Pick(std::uint64_t key, int copies, std::vector<std::uint32_t>& places) const;
    /// Whether `member` is one of the site's `copies` members.
    bool Holds(const std::string& member, const std::string& code, int copies) const;
    /// Whether the member at `place` (Place) is one of the `copies` members of the site keyed `key`.
    bool Holds(std::size_t place, std::uint64_t key, int copies) const;
    /// The member's place in the names given; Size() when it is not among them.
    std::size_t Place(const std::string& member) const;
    const std::string& Name(std::size_t place) const { return m_members[place].Name; }
    std::size_t Size() const { return m_members.size(); }

private:
    struct Member {
        std::string Name;
        std::uint64_t Hash;
    };
    /// Whether member `a` outranks member `b` for weights `wa`, `wb` (ties broken by name).
    bool Before(std::size_t a, std::uint64_t wa, std::size_t b, std::uint64_t wb) const;

    std::vector<Member> m_members;
};
