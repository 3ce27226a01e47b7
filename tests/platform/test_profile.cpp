// INI profile access: matching, integer rules, value limits and safe rewriting.
#include "platform/errors.h"
#include "platform/profile.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

struct IntCase {
    const char* text;
    int expected;
};

class ProfileInt : public ::testing::TestWithParam<IntCase> {};

TEST_P(ProfileInt, ReadsWholeNumbersAndFallsBackToDefault) {
    TempDir dir;
    WriteFileText(dir.File("a.ini"), std::string("[System]\r\nPollDelay=") + GetParam().text + "\r\n");
    EXPECT_EQ(GetPrivateProfileInt("System", "PollDelay", 5, dir.File("a.ini")), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, ProfileInt,
                         ::testing::Values(IntCase{"abc", 5}, IntCase{"0x0A", 10}, IntCase{"0X1f", 31},
                                           IntCase{"$10", 16}, IntCase{"12", 12}, IntCase{"-3", -3}, IntCase{"", 5},
                                           IntCase{"12abc", 5}, IntCase{"1.5", 5}, IntCase{"0x", 5}, IntCase{"$", 5},
                                           IntCase{"0xZZ", 5}, IntCase{"99999999999", 5}, IntCase{" 7 ", 7}));

TEST(Profile, MatchesSectionsAndKeysWithoutRegardToCase) {
    TempDir dir;
    WriteFileText(dir.File("vkt.ini"), "; settings\r\n[system]\r\ndbuser=operator\r\n[Mail]\r\nServer=mx\r\n");
    EXPECT_EQ(GetPrivateProfileString("System", "DBUSer", "sa", dir.File("vkt.ini")), "operator");
    EXPECT_EQ(GetPrivateProfileString("mail", "server", "", dir.File("vkt.ini")), "mx");
    EXPECT_EQ(GetPrivateProfileString("Mail", "DBUser", "none", dir.File("vkt.ini")), "none");
}

TEST(Profile, PresentButEmptyIsNotTheDefault) {
    TempDir dir;
    WriteFileText(dir.File("vkt.ini"), "[System]\nDBPass=\n");
    EXPECT_EQ(GetPrivateProfileString("System", "DBPass", "secret", dir.File("vkt.ini")), "");
    EXPECT_EQ(GetPrivateProfileString("System", "DBUser", "sa", dir.File("vkt.ini")), "sa");
    EXPECT_TRUE(ProfileKeyExists("System", "DBPass", dir.File("vkt.ini")));
}

TEST(Profile, MissingFileReadsDefaultsAndIsNotCreated) {
    TempDir dir;
    EXPECT_EQ(GetPrivateProfileString("System", "DataBase", "Duskwater", dir.File("none.ini")), "Duskwater");
    EXPECT_EQ(GetPrivateProfileInt("System", "NetPort", 8000, dir.File("none.ini")), 8000);
    EXPECT_FALSE(std::filesystem::exists(dir.File("none.ini")));
}

struct CutCase {
    std::string value;
    std::string expected;
};

std::string Repeat(const std::string& unit, std::size_t count) {
    std::string out;
    while (count--)
        out += unit;
    return out;
}

class ProfileCut : public ::testing::TestWithParam<CutCase> {};

TEST_P(ProfileCut, ValuesAreCutTo2047WholeCharacters) {
    TempDir dir;
    WriteFileText(dir.File("a.ini"), "[S]\nK=" + GetParam().value + "\n");
    EXPECT_EQ(GetPrivateProfileString("S", "K", "", dir.File("a.ini")), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, ProfileCut,
                         ::testing::Values(CutCase{std::string(2048, 'x'), std::string(2047, 'x')},
                                           CutCase{Repeat("\xC3\xBC", 1100), Repeat("\xC3\xBC", 1100)},
                                           CutCase{Repeat("\xC3\xBC", 2100), Repeat("\xC3\xBC", 2047)},
                                           CutCase{std::string(2046, 'a') + "\xE2\x82\xAC\xF0\x9F\x98\x80",
                                                   std::string(2046, 'a') + "\xE2\x82\xAC"},
                                           CutCase{std::string(2046, 'a') + "\xF0\x9F\x98\x80" + "b",
                                                   std::string(2046, 'a') + "\xF0\x9F\x98\x80"},
                                           CutCase{std::string(2100, '\xFC'), std::string(2047, '\xFC')}));

TEST(Profile, RewriteKeepsCommentsOtherKeysAndLineEndings) {
    TempDir dir;
    const std::string path = dir.File("vkt.ini");
    WriteFileText(path, "; main settings\r\n[System]\r\nVKTID=one\r\nPollDelay=5\r\n\r\n[Mail]\r\nServer=mx\r\n");
    WritePrivateProfileString("system", "vktid", "two", path);
    WritePrivateProfileString("System", "DBPass", "pw", path);
    WritePrivateProfileString("Extra", "Key", "v", path);
    EXPECT_EQ(ReadFileText(path), "; main settings\r\n[System]\r\nVKTID=two\r\nPollDelay=5\r\nDBPass=pw\r\n\r\n"
                                  "[Mail]\r\nServer=mx\r\n[Extra]\r\nKey=v\r\n");
    std::error_code ec;
    for (auto& entry : std::filesystem::directory_iterator(dir.Path()))
        EXPECT_EQ(entry.path().filename(), "vkt.ini") << "temporary file left behind";
}

TEST(Profile, NewFileIsCreatedWithUnixOrWindowsLinesKept) {
    TempDir dir;
    WritePrivateProfileString("System", "install", "0", dir.File("new.ini"));
    EXPECT_EQ(ReadFileText(dir.File("new.ini")), "[System]\r\ninstall=0\r\n");
    WriteFileText(dir.File("unix.ini"), "[System]\nA=1");
    WritePrivateProfileString("System", "B", "2", dir.File("unix.ini"));
    EXPECT_EQ(ReadFileText(dir.File("unix.ini")), "[System]\nA=1\nB=2\n");
}

TEST(Profile, RefusesNamesAndValuesThatWouldCorruptTheFile) {
    TempDir dir;
    const std::string path = dir.File("a.ini");
    WriteFileText(path, "[System]\nA=1\n");
    for (const std::string& bad :
         std::vector<std::string>{"", "a=b", "[x", "x]", "a\nb", "a\rb", std::string("a\0b", 3)}) {
        EXPECT_THROW(WritePrivateProfileString("System", bad, "v", path), EArgumentError) << bad;
        EXPECT_THROW(WritePrivateProfileString(bad, "Key", "v", path), EArgumentError) << bad;
    }
    EXPECT_THROW(WritePrivateProfileString("System", "A", "1\r\n[Evil]", path), EArgumentError);
    EXPECT_EQ(ReadFileText(path), "[System]\nA=1\n");
}

TEST(Profile, UnwritableFileRaisesUnableToWrite) {
    TempDir dir;
    const std::string path = dir.File("ro.ini");
    WriteFileText(path, "[System]\nA=1\n");
    chmod(path.c_str(), 0444);
    try {
        WritePrivateProfileString("System", "A", "2", path);
        FAIL() << "write to a read-only file succeeded";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message(), "Unable to write to " + path);
    }
    EXPECT_EQ(ReadFileText(path), "[System]\nA=1\n");
    EXPECT_THROW(WritePrivateProfileString("System", "A", "2", dir.File("missing-dir/x.ini")), EInOutError);
}
