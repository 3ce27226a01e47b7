// What a change of the live members means for this member: the sites it takes over and hands back,
// and the one line that says so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FleetShare {
    /// The codes this member probes under the new membership, in the order given.
    std::vector<std::string> Held;
    /// Of those, the ones it did not probe under the old membership.
    std::vector<std::string> Inherited;
    /// How many it probed under the old membership and no longer does.
    std::size_t HandedBack = 0;
    /// "node3 left; taking over 9,987 sites" and the like; empty when nothing changed.
    std::string Line;

    /// Divides `codes` among `before` and `after` (live member names) for member `self`, `copies` per
    /// site. With `before` empty (the first membership this member knows) nothing is taken over.
    /// `keys`: the codes' Rendezvous::Key, one each, when the caller keeps them.
    static FleetShare Divide(const std::vector<std::string>& codes, const std::vector<std::string>& before,
                             const std::vector<std::string>& after, const std::string& self, int copies,
                             const std::vector<std::uint64_t>* keys = nullptr);
};
