// The key under which the site batch tells codes apart: two codes share a key exactly when the database
// matches them (letters without regard to case, trailing blanks ignored), and a code whose match only the
// database can judge (bytes beyond ASCII, in UTF-8 or Windows-1252) has none. Two batches run their
// statements in either order only when no code of one matches a code or marker code of the other.
#include "scan/tsitebatch.h"

#include <gtest/gtest.h>

namespace {

struct KeyCase {
    const char* Name;
    std::string Code;
    std::string Key;
};

void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << c.Name;
}

class MatchKey : public ::testing::TestWithParam<KeyCase> {};

TEST_P(MatchKey, IsTheDatabasesMatch) {
    EXPECT_EQ(TSiteBatch::MatchKey(GetParam().Code), GetParam().Key);
}

INSTANTIATE_TEST_SUITE_P(Codes, MatchKey,
                         ::testing::Values(KeyCase{"Upper", "NYC01", "nyc01"}, KeyCase{"Lower", "nyc01", "nyc01"},
                                           KeyCase{"Mixed", "nYc01", "nyc01"},
                                           KeyCase{"LetterBoundaries", "@AZ[`az{", "@az[`az{"}, // only A-Z change
                                           KeyCase{"TrailingBlanks", "NYC01   ", "nyc01"},
                                           KeyCase{"LeadingBlanksCount", "  NYC01", "  nyc01"},
                                           KeyCase{"InnerBlank", "NY C01 ", "ny c01"},
                                           KeyCase{"TrailingTabCounts", "NYC01\t", "nyc01\t"},
                                           KeyCase{"Utf8", "CAF\xC3\x89", ""}, // CAFÉ: the database's collation decides
                                           KeyCase{"Windows1252", "caf\xE9", ""},       // café in Windows-1252
                                           KeyCase{"Windows1252Trailing", "\x80 ", ""}, // the euro sign and a blank
                                           KeyCase{"Empty", "", ""}, KeyCase{"OnlyBlanks", "   ", ""}),
                         [](const auto& info) { return std::string(info.param.Name); });

struct ApartCase {
    const char* Name;
    std::vector<std::string> First, Second;
    bool Apart;
};

void PrintTo(const ApartCase& c, std::ostream* os) {
    *os << c.Name;
}

SiteResult ResultOf(const std::string& code) {
    SiteResult result;
    result.Code = code;
    return result;
}

TSiteBatch BatchOf(const std::vector<std::string>& codes) {
    TSiteBatch batch;
    for (const std::string& code : codes)
        EXPECT_TRUE(batch.Admit(ResultOf(code))) << code;
    return batch;
}

class BatchesApart : public ::testing::TestWithParam<ApartCase> {};

TEST_P(BatchesApart, OnlyWhenNoRowIsBoth) {
    const TSiteBatch first = BatchOf(GetParam().First), second = BatchOf(GetParam().Second);
    EXPECT_EQ(first.Apart(second), GetParam().Apart);
    EXPECT_EQ(second.Apart(first), GetParam().Apart);
}

INSTANTIATE_TEST_SUITE_P(Batches, BatchesApart,
                         ::testing::Values(ApartCase{"OtherCodes", {"NYC01", "NYC02"}, {"NYC03"}, true},
                                           ApartCase{"SameCodeInAnotherCase", {"NYC01", "NYC02"}, {"nyc02 "}, false},
                                           ApartCase{"CodeNamedLikeAMarker", {"NYC01"}, {"nyc01mailed"}, false},
                                           ApartCase{"OnlyTheDatabaseMatches", {"CAF\xC3\x89"}, {"NYC01"}, false}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(SiteBatch, TakesAtMostOneStatementsWorthOfSites) {
    TSiteBatch batch;
    for (std::size_t i = 0; i < TSiteBatch::MostSites; ++i)
        ASSERT_TRUE(batch.Admit(ResultOf("S" + std::to_string(i))));
    EXPECT_FALSE(batch.Admit(ResultOf("OTHER")));
}

} // namespace
