// The one JSON codec: how each kind of text is escaped, and the two layouts, read back by the parser.
#include "platform/json.h"

#include <gtest/gtest.h>

namespace {

struct EscapeCase {
    const char* name;
    std::string text;
    std::string plain; // as the status JSON and the API write it
    std::string ascii; // as a notice writes it
};

class JsonStrings : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(JsonStrings, EscapeOneWayAndReadBack) {
    const EscapeCase& c = GetParam();
    EXPECT_EQ(JsonText(Json(c.text)), c.plain);
    EXPECT_EQ(JsonText(Json(c.text), {.Ascii = true}), c.ascii);
    // What comes out is read back as the text, U+FFFD standing for bytes that were not UTF-8.
    const std::string back = Json::parse(c.ascii).get<std::string>();
    EXPECT_EQ(Json::parse(c.plain).get<std::string>(), back);
    if (c.plain.find("\xEF\xBF\xBD") == std::string::npos) {
        EXPECT_EQ(back, c.text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JsonStrings,
    ::testing::Values(EscapeCase{"Ascii", "Depot 7", "\"Depot 7\"", "\"Depot 7\""},
                      EscapeCase{"QuotesAndBackslashes", "a\"b\\c/", "\"a\\\"b\\\\c/\"", "\"a\\\"b\\\\c/\""},
                      // Every control character as \u00XX, never the short forms; DEL stands in plain text.
                      EscapeCase{"Controls", std::string("\b\t\n\f\r\x01\x1f\x7f", 8),
                                 "\"\\u0008\\u0009\\u000a\\u000c\\u000d\\u0001\\u001f\x7f\"",
                                 "\"\\u0008\\u0009\\u000a\\u000c\\u000d\\u0001\\u001f\\u007f\""},
                      // An escaped backslash before a letter is no control character.
                      EscapeCase{"BackslashThenLetter", "\\n\\t", "\"\\\\n\\\\t\"", "\"\\\\n\\\\t\""},
                      EscapeCase{"Utf8", "Caf\xC3\xA9 \xF0\x9F\x93\xA1", "\"Caf\xC3\xA9 \xF0\x9F\x93\xA1\"",
                                 "\"Caf\\u00e9 \\ud83d\\udce1\""},
                      EscapeCase{"NotUtf8", "Caf\xE9!", "\"Caf\xEF\xBF\xBD!\"", "\"Caf\\ufffd!\""}),
    [](const auto& info) { return std::string(info.param.name); });

// Members stay in the order they were added (sorted by name in the library's own map), with the
// spaced layout only where asked; raw text and fixed decimals are written as they stand.
TEST(JsonLayout, OrderSpacingAndRawText) {
    Json value;
    value["zeta"] = 1;
    value["alpha"] = {{"rtt_ms", JsonFixed(2.5, 3)}, {"loss", JsonFixed(0.0, 4)}, {"none", nullptr}};
    value["list"] = {true, false, 1.5, -3};
    value["trace"] = JsonRaw("{\"last_hop\":2}");
    value["empty"] = Json::object();
    EXPECT_EQ(JsonText(value), "{\"zeta\":1,\"alpha\":{\"rtt_ms\":2.500,\"loss\":0.0000,\"none\":null},"
                               "\"list\":[true,false,1.5,-3],\"trace\":{\"last_hop\":2},\"empty\":{}}");
    EXPECT_EQ(JsonText(value, {.Spaced = true}),
              "{\"zeta\": 1, \"alpha\": {\"rtt_ms\": 2.500, \"loss\": 0.0000, \"none\": null}, "
              "\"list\": [true, false, 1.5, -3], \"trace\": {\"last_hop\":2}, \"empty\": {}}");
    const nlohmann::json sorted = {{"zeta", 1}, {"alpha", "\xC3\xA9\n"}};
    EXPECT_EQ(JsonText(sorted), "{\"alpha\":\"\xC3\xA9\\u000a\",\"zeta\":1}");
}

} // namespace
