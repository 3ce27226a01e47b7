// Header lines, mail addresses, attachment types and the owned lists of the mail model.
#include "mail/msmimetypes.h"
#include "mail/msmsgcls.h"

#include <gtest/gtest.h>

namespace {

struct AddressCase {
    const char* name;
    std::string text;
    std::string display;
    std::string mailbox;
};

class ParseMailAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(ParseMailAddressTest, SplitsNameAndMailbox) {
    TmsMailAddress address("old@x.org", "Old");
    ParseMailAddress(GetParam().text, address);
    EXPECT_EQ(address.Name(), GetParam().display);
    EXPECT_EQ(address.Address(), GetParam().mailbox);
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseMailAddressTest,
                         ::testing::Values(AddressCase{"Angle", "John Doe <jd@x.org>", "John Doe", "jd@x.org"},
                                           AddressCase{"QuotedName", "\"Doe, John\" <jd@x.org>", "Doe, John",
                                                       "jd@x.org"},
                                           AddressCase{"NameAfterMailbox", "<jd@x.org> (work)", "(work)", "jd@x.org"},
                                           AddressCase{"Parenthesis", "jd@x.org (John Doe)", "John Doe", "jd@x.org"},
                                           AddressCase{"Bare", "jd@x.org", "", "jd@x.org"},
                                           AddressCase{"BareKeepsBlanks", " jd@x.org ", "", " jd@x.org "},
                                           AddressCase{"AngleOnly", "<jd@x.org>", "", "jd@x.org"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParseMailAddress, UnclosedOrReversedBracketsFail) {
    for (const char* text : {"John <jd@x.org", "John >jd@x.org<"}) {
        TmsMailAddress address;
        try {
            ParseMailAddress(text, address);
            ADD_FAILURE() << text;
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "Unable to parse email address");
        }
    }
}

struct HeaderValueCase {
    const char* name;
    TmsHeaders headers;
    std::string header;
    std::string value;
};

class GetHeaderValueTest : public ::testing::TestWithParam<HeaderValueCase> {};

TEST_P(GetHeaderValueTest, Value) {
    EXPECT_EQ(GetHeaderValue(GetParam().headers, GetParam().header), GetParam().value);
}

const std::string LongWord = "=?x?Q?" + std::string(300, 'a') + "?=";

INSTANTIATE_TEST_SUITE_P(
    Lines, GetHeaderValueTest,
    ::testing::Values(HeaderValueCase{"Continuation", {"Subject: Hello", "\tWorld", "X: y"}, "Subject", "Hello World"},
                      HeaderValueCase{"NoSpaceAfterColon", {"Subject:Hello"}, "Subject:", "Hello"},
                      HeaderValueCase{"OtherCase", {"SUBJECT: shout"}, "subject", "shout"},
                      HeaderValueCase{"SpaceBeforeColon", {"Subject : no"}, "Subject", ""},
                      HeaderValueCase{"FirstOfTwo", {"X-A: 1", "X-A: 2"}, "X-A", "1"},
                      HeaderValueCase{"Missing", {"From: a@b"}, "Subject", ""},
                      HeaderValueCase{"Decoded", {"Subject: =?iso-8859-1?Q?caf=E9?="}, "Subject", "caf\xE9"},
                      HeaderValueCase{"ContentTypeWhole",
                                      {"Content-Type: x; name=\"" + LongWord + "\""},
                                      "Content-Type",
                                      "x; name=\"" + LongWord + "\""},
                      HeaderValueCase{
                          "CutTo255", {"Subject: " + std::string(300, 'b')}, "Subject", std::string(255, 'b')}),
    [](const auto& info) { return std::string(info.param.name); });

struct AddressesCase {
    const char* name;
    TmsHeaders headers;
    std::string header;
    TmsStrings items;
};

class GetHeaderAddressesTest : public ::testing::TestWithParam<AddressesCase> {};

TEST_P(GetHeaderAddressesTest, Items) {
    TmsStrings items{"stale"};
    GetHeaderAddresses(GetParam().headers, GetParam().header, items);
    EXPECT_EQ(items, GetParam().items);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, GetHeaderAddressesTest,
    ::testing::Values(
        AddressesCase{"QuotedComma",
                      {"To: \"Doe, John\" <jd@x.org>, ann@y.org"},
                      "To",
                      {"\"Doe, John\" <jd@x.org>", "ann@y.org"}},
        AddressesCase{"Continued", {"To: a@x.org,", "   b@y.org", "Subject: s"}, "To", {"a@x.org", "b@y.org"}},
        AddressesCase{
            "EveryLineOfTheName", {"To: a@x.org", "Cc: c@x.org", "to: b@y.org"}, "TO", {"a@x.org", "b@y.org"}},
        AddressesCase{"PrefixOnly", {"Topic: t@x.org"}, "TO", {"t@x.org"}},
        AddressesCase{"LineWithoutColonStops", {"To a@x.org", "To: b@y.org"}, "To", {}},
        AddressesCase{"EncodedName", {"To: =?x?Q?J=F6rg?= <j@x.org>"}, "To", {"J\xF6rg<j@x.org>"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DeleteHeader, RemovesOnlyTheFirstWithItsContinuations) {
    TmsHeaders headers{"X-A: 1", " more", "\tmore", "X-A: 2", "Y: 3"};
    DeleteHeader(headers, "x-a");
    EXPECT_EQ(headers, (TmsHeaders{"X-A: 2", "Y: 3"}));
    DeleteHeader(headers, "Z:");
    EXPECT_EQ(headers.size(), 2u);
}

TEST(StructuredValues, ParamAndMainValue) {
    EXPECT_EQ(GetParamValue("boundary", "multipart/mixed; boundary=\"1234\""), "1234");
    EXPECT_EQ(GetParamValue("CHARSET", "text/plain; charset=us-ascii; format=flowed"), "us-ascii");
    EXPECT_EQ(GetParamValue("name", "application/pdf; name = report.pdf"), "report.pdf");
    EXPECT_EQ(GetParamValue("name", "text/plain"), "");
    EXPECT_EQ(GetMainValue("text/plain; charset=x"), "text/plain");
    EXPECT_EQ(GetMainValue("text/html"), "text/html");
}

TEST(MimeTypes, TableFromText) {
    TMimeTypeTable table;
    table.LoadFromText("# comment\ntext/plain\ttxt TEXT\r\napplication/pdf pdf # portable\nimage/x-first art\n"
                       "message/rfc822 eml art\ntext/rtf\n");
    EXPECT_EQ(table.Lookup("TXT"), "text/plain");
    EXPECT_EQ(table.Lookup(".text"), "text/plain");
    EXPECT_EQ(table.Lookup("pdf"), "application/pdf");
    EXPECT_EQ(table.Lookup("art"), "image/x-first");
    EXPECT_EQ(table.Lookup("rtf"), "");
    EXPECT_EQ(table.Lookup("portable"), "");
}

TEST(MimeTypes, SystemDatabaseAndFallback) {
    ASSERT_FALSE(SystemMimeTypes().Empty()) << "package media-types provides /etc/mime.types";
    EXPECT_EQ(ContentTypeOfFile("/var/reports/Week.PDF"), "application/pdf");
    EXPECT_EQ(ContentTypeOfFile("C:\\reports\\notes.txt"), "text/plain");
    EXPECT_EQ(ContentTypeOfFile("archive.unknown-ext"), "application/octet-stream");
    EXPECT_EQ(ContentTypeOfFile("README"), "application/octet-stream");
    EXPECT_EQ(ContentTypeOfFile("dir.d/README"), "application/octet-stream");
}

TEST(Attachment, FileNameDerivesTypeAndEncoding) {
    TmsAttItem item;
    item.SetFileName("notes.TXT");
    EXPECT_EQ(item.ContentType(), "text/plain");
    EXPECT_EQ(item.Encoding(), aeQuotedPrintable);
    item.SetFileName("fwd.eml");
    EXPECT_EQ(item.ContentType(), "message/rfc822");
    EXPECT_EQ(item.Encoding(), aeSevenBit);
    item.SetFileName("/tmp/data.unknown-ext");
    EXPECT_EQ(item.ContentType(), "application/octet-stream");
    EXPECT_EQ(item.Encoding(), aeBase64);
    item.SetEncoding(aeQuotedPrintable);
    item.SetFileName("");
    EXPECT_EQ(item.ContentType(), "application/octet-stream");
    EXPECT_EQ(item.Encoding(), aeQuotedPrintable);
}

TEST(Attachment, AssignCopiesWithoutDerivingAgain) {
    TmsAttItem source;
    source.SetFileName("a.pdf");
    source.SetContentType("text/x-custom");
    source.Data() = std::string("\x00\x01", 2);
    TmsAttItem copy;
    copy.Assign(source);
    EXPECT_EQ(copy.FileName(), "a.pdf");
    EXPECT_EQ(copy.ContentType(), "text/x-custom");
    EXPECT_EQ(copy.Data(), source.Data());
}

TEST(Lists, OwnedItemsAndIndexError) {
    TmsAddressList list;
    list.AddAddress("a@x.org", "");
    list.AddAddress(std::string(300, 'b'), "Bee");
    EXPECT_EQ(list.Items(1).Address().size(), 255u);
    TmsAddressList copy;
    copy.Assign(list);
    list.Items(0).SetAddress("changed@x.org");
    EXPECT_EQ(copy.Items(0).Address(), "a@x.org");
    EXPECT_EQ(copy.Count(), 2);
    try {
        copy.Items(2);
        ADD_FAILURE();
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (2)");
    }
    EXPECT_THROW(copy.Items(-1), EListError);
    copy.Clear();
    EXPECT_EQ(copy.Count(), 0);
}

} // namespace
