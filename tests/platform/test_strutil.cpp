// Text cut to a column's width in bytes: never inside a UTF-8 character, whatever its length.
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
