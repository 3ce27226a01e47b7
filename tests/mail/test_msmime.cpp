// Transfer encodings: base64, quoted-printable in both directions, encoded words and uuencoding,
// with the exact line lengths and escapes that receiving mail programs depend on.
#include "mail/msmime.h"
#include "mail/msuucode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace {

std::string Repeat(char c, std::size_t n) {
    return std::string(n, c);
}

std::string RepeatText(const std::string& text, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i)
        out += text;
    return out;
}

TmsStrings QPEncode(const std::string& bytes) {
    std::stringstream stream(bytes);
    TmsStrings lines;
    TQuotedPrintable(stream, lines).Encode();
    return lines;
}

std::string QPDecode(const TmsStrings& lines) {
    TmsStrings copy = lines;
    std::stringstream stream;
    TQuotedPrintable(stream, copy).Decode();
    return stream.str();
}

struct Base64Case {
    std::string bytes;
    std::string text;
};

class Base64Test : public ::testing::TestWithParam<Base64Case> {};

TEST_P(Base64Test, EncodesAndDecodesBack) {
    EXPECT_EQ(Base64EncodeText(GetParam().bytes), GetParam().text);
    EXPECT_EQ(Base64DecodeText(GetParam().text), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Texts, Base64Test,
                         ::testing::Values(Base64Case{"abc", "YWJj"}, Base64Case{"ab", "YWI="}, Base64Case{"a", "YQ=="},
                                           Base64Case{"", ""}, Base64Case{std::string("\x00\xFF\xFE", 3), "AP/+"},
                                           Base64Case{Repeat('M', 57), RepeatText("TU1N", 19)}));

TEST(Base64, FiftySevenBytesMakeOneFullLine) {
    EXPECT_EQ(Base64EncodeText(Repeat('x', 57)).size(), 76u);
}

TEST(Base64, RejectsCharactersOutsideTheAlphabet) {
    for (const char* bad : {"YW J", "YWJ\n", "YW*j"}) {
        try {
            Base64DecodeText(bad);
            ADD_FAILURE() << bad;
        } catch (const EInOutError& e) {
            EXPECT_STREQ(e.what(), "Invalid Character");
        }
    }
    EXPECT_THROW(Base64DecodeText("YWJ"), EInOutError);
}

struct QPEncodeCase {
    const char* name;
    std::string bytes;
    TmsStrings lines;
};

class QPEncodeTest : public ::testing::TestWithParam<QPEncodeCase> {};

TEST_P(QPEncodeTest, Lines) {
    EXPECT_EQ(QPEncode(GetParam().bytes), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Paragraphs, QPEncodeTest,
    ::testing::Values(
        QPEncodeCase{
            "SpaceAt60", Repeat('a', 59) + " " + Repeat('b', 10), {Repeat('a', 59) + "=", " " + Repeat('b', 10)}},
        QPEncodeCase{"NoSpace70", Repeat('a', 70), {Repeat('a', 65) + "=", Repeat('a', 5)}},
        QPEncodeCase{"Exactly65", Repeat('a', 65), {Repeat('a', 65) + "=", ""}},
        QPEncodeCase{"Only64", Repeat('a', 64), {Repeat('a', 64)}},
        QPEncodeCase{"LeadingSpaceOnly", " " + Repeat('a', 69), {" " + Repeat('a', 64) + "=", Repeat('a', 5)}},
        QPEncodeCase{"Escapes", "a=b\tc\xE9 ", {"a=3Db=09c=E9 "}},
        QPEncodeCase{"EscapedPieceKeepsSourceLength", Repeat('=', 66), {RepeatText("=3D", 65) + "=", "=3D"}},
        QPEncodeCase{"TrailingLF", "abc\n", {"abc=0A"}}, QPEncodeCase{"CRLFLines", "abc\r\ndef\r\n", {"abc", "def"}},
        QPEncodeCase{"EmptyLineCRLF", "a\r\n\r\nb", {"a", "", "b"}},
        QPEncodeCase{"EmptyLineLF", "a\n\nb", {"a", "", "b"}}, QPEncodeCase{"LFCRIsOneBreak", "a\n\rb", {"a", "b"}},
        QPEncodeCase{"NulIsEscaped", std::string("a\0b", 3), {"a=00b"}}, QPEncodeCase{"Empty", "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QuotedPrintable, EveryLineHoldsAtMost65SourceCharacters) {
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "word" + std::to_string(i) + (i % 7 == 0 ? "\t" : " ");
    TmsStrings lines = QPEncode(text);
    ASSERT_GT(lines.size(), 2u);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const std::string& line = lines[i];
        ASSERT_EQ(line.back(), '=');
        auto escapes = static_cast<std::size_t>(std::count(line.begin(), line.end(), '=')) - 1;
        EXPECT_LE(line.size() - 1 - 2 * escapes, 65u) << line;
    }
    EXPECT_EQ(QPDecode(lines), text + "\r\n");
}

TEST(QuotedPrintable, ParagraphLimit) {
    EXPECT_EQ(QPEncode(Repeat('a', TQuotedPrintable::BufferSize)).size(), 379u);
    try {
        QPEncode(Repeat('a', TQuotedPrintable::BufferSize) + "\r\nb");
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Paragraph is too large");
    }
    TmsStrings soft(97, Repeat('a', 254) + "=");
    soft.push_back("end");
    EXPECT_THROW(QPDecode(soft), Exception);
    soft.resize(90);
    soft.push_back("end");
    EXPECT_EQ(QPDecode(soft).size(), 90u * 254 + 3 + 2);
}

TEST(QuotedPrintable, CancelStopsAfterTheParagraphInProgress) {
    std::stringstream stream("one\r\ntwo\r\n");
    TmsStrings lines;
    TQuotedPrintable converter(stream, lines);
    converter.Cancel = true;
    converter.Encode();
    EXPECT_TRUE(lines.empty());
}

struct QPDecodeCase {
    const char* name;
    TmsStrings lines;
    std::string bytes;
};

class QPDecodeTest : public ::testing::TestWithParam<QPDecodeCase> {};

TEST_P(QPDecodeTest, Bytes) {
    EXPECT_EQ(QPDecode(GetParam().lines), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Lines, QPDecodeTest,
                         ::testing::Values(QPDecodeCase{"SoftBreak", {"abc=", "def"}, "abcdef\r\n"},
                                           QPDecodeCase{"Escapes", {"a=3Db=e9"}, "a=b\xE9\r\n"},
                                           QPDecodeCase{"NotHex", {"a=ZZ", "x=4"}, "a=ZZ\r\nx=4\r\n"},
                                           QPDecodeCase{"EscapedEqualsAtEnd", {"a=3D", "b"}, "a=\r\nb\r\n"},
                                           QPDecodeCase{"EndOfFileByte", {"end\x1A"}, "end\x1A"},
                                           QPDecodeCase{"SoftBreakAtEnd", {"ab="}, "ab"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct WordsCase {
    const char* name;
    std::string text;
    std::string decoded;
};

class DecodeWordsTest : public ::testing::TestWithParam<WordsCase> {};

TEST_P(DecodeWordsTest, Decodes) {
    EXPECT_EQ(DecodeWords(GetParam().text), GetParam().decoded);
}

INSTANTIATE_TEST_SUITE_P(Texts, DecodeWordsTest,
                         ::testing::Values(WordsCase{"QWithTextAfter", "=?iso-8859-1?Q?caf=E9?= au_lait",
                                                     "caf\xE9"
                                                     "au lait"},
                                           WordsCase{"Base64", "Re: =?utf-8?B?SGVsbG8=?=", "Re: Hello"},
                                           WordsCase{"QStartingWithEscape", "=?x?Q?=E9t=E9?=", "\xE9t\xE9"},
                                           WordsCase{"LowerCaseLetter", "=?x?q?a_b?=", "a b"},
                                           WordsCase{"TwoWords", "=?a?Q?x?= =?a?Q?y?=", "xy"},
                                           WordsCase{"UnknownLetter", "a =?x?X?abc?=", "a "},
                                           WordsCase{"NoEndMarker", "abc =? def", "abc =? def"},
                                           WordsCase{"PlainText", "plain_text", "plain_text"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EncodedWords, JISTextBecomesOneWholeWord) {
    std::string jis = "\x1B$B$3$s$K$A$O\x1B(B";
    EXPECT_EQ(EncodeWordJIS(jis), "=?ISO-2022-JP?B?" + Base64EncodeText(jis) + "?=");
    EXPECT_EQ(EncodeWordJIS("plain"), "plain");
    EXPECT_EQ(EncodeWordJIS(""), "");
    std::string longWord = EncodeWordJIS("\x1B" + Repeat('a', 200));
    EXPECT_EQ(longWord.substr(longWord.size() - 2), "?=");
    EXPECT_EQ(DecodeWords(longWord), "\x1B" + Repeat('a', 200).substr(0, 254));
}

TEST(EncodedWords, QPDecodeTextReturnsTheFirstLine) {
    EXPECT_EQ(QPDecodeText("caf=E9"), "caf\xE9");
    EXPECT_EQ(QPDecodeText("a=0D=0Ab"), "a");
}

struct UUCase {
    std::string bytes;
    std::string line;
};

class UUEncodeTest : public ::testing::TestWithParam<UUCase> {};

TEST_P(UUEncodeTest, EncodesAndDecodesBack) {
    EXPECT_EQ(UUEncodeLine(GetParam().bytes), GetParam().line);
    EXPECT_EQ(UUDecodeLine(GetParam().line), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Lines, UUEncodeTest,
                         ::testing::Values(UUCase{"Cat", "#0V%T"}, UUCase{"", "`"}, UUCase{"C", "!0P"},
                                           UUCase{std::string(3, '\0'), "#````"},
                                           UUCase{Repeat('\xFF', 45), "M" + Repeat('_', 60)}));

TEST(UUCode, LineLengths) {
    EXPECT_EQ(UUEncodeLine(Repeat('z', 45)).size(), 61u);
    EXPECT_EQ(UUEncodeLine(Repeat('z', 45))[0], 'M');
    EXPECT_EQ(UUEncodeLine("abc").size(), 5u);
    EXPECT_EQ(UUEncodeLine("abcd").size(), 7u);
    EXPECT_EQ(UUDecodeLine("#0V%T    "), "Cat");
    EXPECT_THROW(UUDecodeLine("#0V%T  extra"), EInOutError);
    EXPECT_EQ(UUDecodeLine("# V T"), UUDecodeLine("#`V`T"));
    EXPECT_THROW(UUDecodeLine("#0v%T"), EInOutError);
}

} // namespace
