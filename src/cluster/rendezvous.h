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

    /// The `copies` members that probe the site (all of them when fewer are live), highest weight
    /// first. Codes the database takes for the same site get the same members.
    std::vector<std::string> Copies(const std::string& code, int copies) const;
    /// Whether `member` is one of the site's `copies` members.
    bool Holds(const std::string& member, const std::string& code, int copies) const;

private:
    struct Member {
        std::string Name;
        std::uint64_t Hash;
    };
    /// Whether member `a` outranks member `b` for weights `wa`, `wb` (ties broken by name).
    bool Before(std::size_t a, std::uint64_t wa, std::size_t b, std::uint64_t wb) const;

    std::vector<Member> m_members;
};
