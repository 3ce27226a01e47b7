// The assignment of sites to members: the same from any member, even over the members, and when the
// membership changes only the sites of the member that left (or the share of the one that joined) move;
// and the one line a member logs for a change.
#include "cluster/fleetshare.h"
#include "cluster/rendezvous.h"
#include "platform/datetime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace {

std::vector<std::string> Codes(int n) {
    std::vector<std::string> codes;
    for (int i = 0; i < n; ++i) {
        char code[16];
        std::snprintf(code, sizeof code, "S%05d", i);
        codes.push_back(code);
    }
    return codes;
}

std::set<std::string> AsSet(const std::vector<std::string>& v) {
    return {v.begin(), v.end()};
}

} // namespace

// Each row: the membership before and after one member left or joined, and the copies per site.
TEST(Rendezvous, OnlyTheChangedMembersSitesMove) {
    struct Case {
        std::vector<std::string> before, after;
        int copies;
    } cases[] = {
        {{"node1", "node2", "node3", "node4"}, {"node1", "node2", "node4"}, 2},                   // node3 left
        {{"node1", "node2", "node3", "node4"}, {"node1", "node2", "node3", "node4", "node5"}, 2}, // node5 joined
        {{"a", "b", "c"}, {"a", "c"}, 1},
        {{"a", "b", "c"}, {"c", "a"}, 3}, // fewer live than copies: every live member probes every site
        {{"p1", "p2", "p3", "p4", "p5", "p6", "p7", "p8", "p9", "p10"},
         {"p1", "p2", "p3", "p4", "p5", "p6", "p8", "p9", "p10"},
         2},
    };
    const std::vector<std::string> codes = Codes(3000);
    for (const Case& c : cases) {
        const std::set<std::string> before(c.before.begin(), c.before.end()), after(c.after.begin(), c.after.end());
        std::vector<std::string> changed;
        std::set_symmetric_difference(before.begin(), before.end(), after.begin(), after.end(),
                                      std::back_inserter(changed));
        ASSERT_EQ(changed.size(), 1u);
        const std::string& mover = changed[0];
        const Rendezvous was(c.before), is(c.after);
        const std::size_t want = std::min<std::size_t>(c.copies, c.after.size());
        int moved = 0;
        for (const std::string& code : codes) {
            const std::set<std::string> old = AsSet(was.Copies(code, c.copies)), now = AsSet(is.Copies(code, c.copies));
            ASSERT_EQ(now.size(), want) << code;
            std::set<std::string> kept;
            std::set_intersection(old.begin(), old.end(), now.begin(), now.end(), std::inserter(kept, kept.end()));
            if (old != now) ++moved;
            // A site moves only when the changed member is (or becomes) one of its copies, and then
            // only that member is swapped: the others stay.
            if (!old.count(mover) && !now.count(mover)) {
                EXPECT_EQ(old, now) << code;
            }
            EXPECT_GE(kept.size() + 1, std::min(old.size(), now.size())) << code;
            for (const std::string& m : now) {
                EXPECT_TRUE(is.Holds(m, code, c.copies)) << code << " " << m;
            }
        }
        // About copies / members of the sites move (the changed member's share).
        const double share = double(std::min<std::size_t>(c.copies, std::max(before.size(), after.size()))) /
                             double(std::max(before.size(), after.size()));
        if (want < std::max(before.size(), after.size())) {
            EXPECT_NEAR(moved, share * codes.size(), 0.2 * share * codes.size()) << mover;
        }
    }
}

TEST(Rendezvous, EveryMemberComputesTheSameEvenSpreadAndCodesMatchAsTheDatabaseMatchesThem) {
    const std::vector<std::string> names{"node1", "node2", "node3", "node4", "node5"};
    std::vector<std::string> shuffled = names;
    std::reverse(shuffled.begin(), shuffled.end());
    const Rendezvous one(names), other(shuffled);
    std::map<std::string, int> held;
    const std::vector<std::string> codes = Codes(5000);
    for (const std::string& code : codes) {
        const std::vector<std::string> copies = one.Copies(code, 2);
        EXPECT_EQ(copies, other.Copies(code, 2)) << code;
        EXPECT_EQ(copies, one.Copies(code + "  ", 2)) << "trailing blanks";
        std::string lower = code;
        lower[0] = 's';
        EXPECT_EQ(copies, one.Copies(lower, 2)) << "case";
        EXPECT_NE(copies[0], copies[1]);
        for (const std::string& m : copies)
            ++held[m];
        for (const std::string& m : names) {
            EXPECT_EQ(one.Holds(m, code, 2), std::count(copies.begin(), copies.end(), m) == 1) << code << " " << m;
        }
    }
    for (const std::string& m : names)
        EXPECT_NEAR(held[m], 2 * 5000 / 5, 200) << m; // 2,000 each, within 10 %
    EXPECT_FALSE(one.Holds("node9", "S00001", 2)) << "not a member";
    EXPECT_TRUE(Rendezvous({}).Copies("S00001", 2).empty());
}

// Each row: the members before and after a change, seen from one member: the line it logs and how
// many sites it takes over and hands back (counted against the assignment itself).
TEST(FleetShare, OneLinePerChangeSaysWhoCameOrWentAndWhatMoved) {
    struct Case {
        std::vector<std::string> before, after;
        std::string self, line;
    } cases[] = {
        {{}, {"n1", "n2", "n3"}, "n1", ""}, // the first membership it knows: nothing moved
        {{"n1", "n2", "n3"}, {"n1", "n2", "n3"}, "n1", ""},
        {{"n1", "n2", "n3"}, {"n1", "n2"}, "n1", "Cluster: n3 left; taking over # sites"},
        {{"n1", "n2"}, {"n1", "n2", "n3"}, "n1", "Cluster: n3 joined; handing back ~ sites"},
        {{"n1", "n2", "n3"},
         {"n1", "n2", "n4"},
         "n2",
         "Cluster: n3 left; n4 joined; taking over # sites, handing back ~ sites"},
        {{"n2", "n3"}, {"n1", "n2", "n3"}, "n1", "Cluster: n1 joined; taking over # sites"}, // counted in again
    };
    const std::vector<std::string> codes = Codes(3000);
    for (const Case& c : cases) {
        const FleetShare share = FleetShare::Divide(codes, c.before, c.after, c.self, 2);
        const Rendezvous was(c.before), is(c.after);
        std::size_t held = 0, taken = 0, handed = 0;
        for (const std::string& code : codes) {
            const bool now = is.Holds(c.self, code, 2), then = !c.before.empty() && was.Holds(c.self, code, 2);
            held += now;
            taken += now && !then && !c.before.empty();
            handed += then && !now;
        }
        EXPECT_EQ(share.Held.size(), held);
        EXPECT_EQ(share.Inherited.size(), taken);
        EXPECT_EQ(share.HandedBack, handed);
        std::string line = c.line;
        if (const auto at = line.find('#'); at != std::string::npos)
            line.replace(at, 1, FormatThousands(static_cast<long long>(taken)));
        if (const auto at = line.find('~'); at != std::string::npos)
            line.replace(at, 1, FormatThousands(static_cast<long long>(handed)));
        EXPECT_EQ(share.Line, line) << c.self;
    }
}
