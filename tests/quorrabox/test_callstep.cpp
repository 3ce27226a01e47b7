// autocall's step syntax: puts, gets, calls and argument literals.
#include "quorrabox/autocall/callstep.h"

#include "platform/errors.h"

#include <gtest/gtest.h>

void PrintTo(const TCallArg& a, std::ostream* os) {
    *os << "{kind " << a.kind << ", \"" << a.text << "\", " << a.integer << ", " << a.real << ", " << a.boolean << "}";
}

namespace {

struct StepCase {
    const char* word;
    bool noResult;
    TCallStep::Kind kind;
    const char* name;
    std::vector<TCallArg> args;
    friend void PrintTo(const StepCase& c, std::ostream* os) { *os << c.word; }
};

TCallArg Text(const char* s) {
    return {TCallArg::Text, s};
}
TCallArg Int(LONG i) {
    return {TCallArg::Integer, "", i};
}
TCallArg Missing() {
    return {};
}

class CallStepParse : public testing::TestWithParam<StepCase> {};

TEST_P(CallStepParse, SplitsNameKindAndArguments) {
    const StepCase& c = GetParam();
    TCallStep step = ParseCallStep(c.word, c.noResult);
    EXPECT_EQ(step.kind, c.kind);
    EXPECT_EQ(step.name, c.name);
    EXPECT_EQ(step.args, c.args);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CallStepParse,
    testing::Values(
        StepCase{"IniFileName=/etc/vkt.ini", false, TCallStep::Put, "IniFileName", {Text("/etc/vkt.ini")}},
        StepCase{"IniFileName", false, TCallStep::Get, "IniFileName", {}},
        StepCase{"IniClose", true, TCallStep::CallNoResult, "IniClose", {}},
        StepCase{"F()", false, TCallStep::Call, "F", {}},
        StepCase{"ReadIniString(System, \"a,\"\"b\"\"\", )",
                 false,
                 TCallStep::Call,
                 "ReadIniString",
                 {Text("System"), Text("a,\"b\""), Missing()}},
        StepCase{"ReadIniInteger(S,K,-12)", false, TCallStep::Call, "ReadIniInteger", {Text("S"), Text("K"), Int(-12)}},
        StepCase{"F(true, Null, 2.5, 0x1F)",
                 false,
                 TCallStep::Call,
                 "F",
                 {TCallArg{TCallArg::Boolean, "", 0, 0, true}, TCallArg{TCallArg::Null, ""},
                  TCallArg{TCallArg::Real, "", 0, 2.5}, Text("0x1F")}},
        StepCase{"F(9999999999)", false, TCallStep::Call, "F", {TCallArg{TCallArg::Real, "", 0, 9999999999.0}}}));

TEST(CallStepErrors, RejectsMalformedSteps) {
    for (const char* bad : {"", "=1", "F(1", "F(\"open)", "F(\"a\"b\")", " (1)"})
        EXPECT_THROW(ParseCallStep(bad, false), EArgumentError) << bad;
    EXPECT_THROW(ParseCallStep("Name=1", true), EArgumentError);
}

} // namespace
