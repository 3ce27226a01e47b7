// The one form reader: fields split and decoded as a browser sends them, and refused whole past the
// bounds.
#include "web/formfields.h"

#include <gtest/gtest.h>

namespace {

std::string Repeat(const std::string& piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

struct FieldsCase {
    const char* name;
    std::string text;
    bool read;
    TFormFields fields;
};

class FormReader : public ::testing::TestWithParam<FieldsCase> {};

TEST_P(FormReader, SplitsDecodesAndBounds) {
    const FieldsCase& c = GetParam();
    TFormFields fields{{"left", "over"}};
    EXPECT_EQ(ReadFormFields(c.text, fields), c.read);
    EXPECT_EQ(fields, c.fields);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FormReader,
    ::testing::Values(
        FieldsCase{"Empty", "", true, {}},
        FieldsCase{"Decoded",
                   "co%64e=A+1&reason=50%25+%C3%A9&c=a=b",
                   true,
                   {{"code", "A 1"}, {"reason", "50% \xC3\xA9"}, {"c", "a=b"}}},
        FieldsCase{"NoEqualsAndEmptyPieces", "&weekdays&&x=&", true, {{"weekdays", ""}, {"x", ""}}},
        FieldsCase{"Repeated", "weekdays=mon&weekdays=tue", true, {{"weekdays", "mon"}, {"weekdays", "tue"}}},
        FieldsCase{"LongestText",
                   "r=" + std::string(MaxFormBytes - 2, 'a'),
                   true,
                   {{"r", std::string(MaxFormBytes - 2, 'a')}}},
        FieldsCase{"TextTooLong", "r=" + std::string(MaxFormBytes - 1, 'a'), false, {}},
        FieldsCase{"MostFields", Repeat("a=1&", MaxFormFields), true, TFormFields(MaxFormFields, {"a", "1"})},
        FieldsCase{"TooManyFields", Repeat("a=1&", MaxFormFields) + "b", false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FormReader, FirstFieldOfAName) {
    EXPECT_EQ(FormField("q=shed&q=barn", "q"), "shed");
    EXPECT_EQ(FormField("history&q=x", "history"), "");
    EXPECT_EQ(FormField("%71=x&q=decoded+value", "q"), "decoded value") << "names compared as sent";
    EXPECT_EQ(FormField(Repeat("a=1&", MaxFormFields) + "q=x", "q"), "") << "a refused text has no fields";
}

} // namespace
