// The texts every channel carries: what a webhook receiver parses and what a pop-up shows.
#include "alert/notice.h"

#include <gtest/gtest.h>

#include <algorithm>

struct NoticeTextCase {
    const char* name;
    NoticeKind kind;
    std::string siteName;
    std::string json;  // the JSON's sitename and text members
    std::string popup; // the pop-up's contact line
};

class NoticeText : public ::testing::TestWithParam<NoticeTextCase> {};

TEST_P(NoticeText, IsValidJsonAndTheKindsOwnPopupLine) {
    const NoticeTextCase& c = GetParam();
    Notice n;
    n.Kind = c.kind;
    n.Code = "B2";
    n.SiteName = c.siteName;
    n.Address = "10.9.9.9";
    n.Since = 46000.5;
    n.Daemon = "D1";
    const std::string json = NoticeJson(n);
    EXPECT_NE(json.find(c.json), std::string::npos) << json;
    EXPECT_EQ(json.find('\n'), std::string::npos);
    EXPECT_EQ(NoticePopupLine(n), c.popup);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoticeText,
    ::testing::Values(
        NoticeTextCase{
            "Problem", NoticeKind::Problem, "Depot",
            "\"sitename\": \"Depot\", \"address\": \"10.9.9.9\", \"since\": \"2025-12-09 12:00:00\", \"time\": "
            "\"\", \"daemon\": \"D1\", \"text\": \"Sentrova: lost contact with B2 - Depot [10.9.9.9] since "
            "2025-12-09 12:00:00\"}",
            " Lost contact with B2 - Depot"},
        // Quotes, backslashes and control characters escaped; 8-bit text that is not UTF-8 read as Windows-1252.
        NoticeTextCase{"Recovery", NoticeKind::Recovery, "Caf\xe9 \"A\\B\"\r",
                       "\"sitename\": \"Caf\\u00e9 \\\"A\\\\B\\\"\\u000d\"",
                       " Regained contact with B2 - Caf\xe9 \"A\\B\"\r"},
        // UTF-8 as it stands, escaped by code point; Windows-1252 where the text is not UTF-8.
        NoticeTextCase{"Utf8", NoticeKind::Recovery, "Caf\xc3\xa9 \xf0\x9f\x93\xa1",
                       "\"sitename\": \"Caf\\u00e9 \\ud83d\\udce1\"",
                       " Regained contact with B2 - Caf\xc3\xa9 \xf0\x9f\x93\xa1"},
        NoticeTextCase{"Windows1252", NoticeKind::Recovery, "\x80 \x93x\x94",
                       "\"sitename\": \"\\u20ac \\u201cx\\u201d\"", " Regained contact with B2 - \x80 \x93x\x94"}),
    [](const auto& info) { return std::string(info.param.name); });

// A traced outage adds one line to the mail and a "trace" member to the JSON; without one, both stay
// as they were.
TEST(NoticeText, CarriesThePathEndOnlyWhenTraced) {
    Notice n;
    n.Code = "B2";
    n.Address = "10.9.9.9";
    const std::vector<std::string> plain = NoticeMailBody(n);
    const std::string plainJson = NoticeJson(n);
    EXPECT_EQ(plainJson.find("trace"), std::string::npos);
    n.PathEnd = "192.0.2.7 (hop 2)";
    n.TraceJson = "{\"last_hop\":2}";
    std::vector<std::string> traced = NoticeMailBody(n);
    const auto line = std::find(traced.begin(), traced.end(), "  Path ends  : 192.0.2.7 (hop 2) ");
    ASSERT_NE(line, traced.end());
    EXPECT_EQ(*(line - 1), "  IP address : 10.9.9.9 ");
    traced.erase(line);
    EXPECT_EQ(traced, plain);
    EXPECT_EQ(NoticeJson(n), plainJson.substr(0, plainJson.size() - 1) + ", \"trace\": {\"last_hop\":2}}");
}
