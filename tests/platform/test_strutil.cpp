// Text cut to a column's width in bytes, and the rule by which site codes are the same.
#include "platform/strutil.h"

#include <gtest/gtest.h>

namespace {

TEST(CutToBytes, EndsAtACharacterBoundary) {
    struct Case {
        std::string text;
        std::size_t bytes;
        std::string expected;
    };
    const std::string e = "\xC3\xA9", euro = "\xE2\x82\xAC", clef = "\xF0\x9D\x84\x9E";
    const std::vector<Case> cases = {
        {"abc", 5, "abc"},
        {"abc", 3, "abc"},
        {"abc", 2, "ab"},
        {"ab" + e, 3, "ab"},
        {"ab" + e, 4, "ab" + e},
        {"a" + euro + "b", 3, "a"},
        {"a" + clef, 4, "a"},
        {"a" + clef, 2, "a"},
        {e, 1, ""},
        {"", 0, ""},
        // Bytes that begin no character are no UTF-8: cut where asked.
        {"a\x80\x80\x80\x80z", 3, "a\x80\x80"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CutToBytes(c.text, c.bytes), c.expected) << c.text << " to " << c.bytes;
}

} // namespace

// Site codes are the same site exactly when the database matches them: ASCII letters without regard
// to case, trailing blanks ignored, leading blanks, tabs and bytes beyond ASCII as they are.
TEST(SameSiteCode, MatchesAsTheDatabaseDoes) {
    struct Case {
        std::string a, b;
        bool same;
    };
    const std::vector<Case> cases = {
        {"NYC01", "nyc01", true},
        {"nYc01", "NyC01", true},
        {"NYC01   ", "nyc01", true},
        {"NYC01", "NYC01 ", true},
        {"", "   ", true},
        {"  NYC01", "NYC01", false},
        {"NYC01\t", "NYC01", false},
        {"NY C01", "NYC01", false},
        {"@[`{", "@[`{", true},
        {"@", "`", false},
        {"[", "{", false},
        {"NYC01", "NYC02", false},
        {"CAF\xC3\x89", "caf\xC3\xA9", false}, // beyond ASCII no letter is folded here
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SameSiteCode(c.a, c.b), c.same) << '"' << c.a << "\" and \"" << c.b << '"';
        EXPECT_EQ(SiteCodeKey(c.a) == SiteCodeKey(c.b), c.same) << '"' << c.a << "\" and \"" << c.b << '"';
    }
}
