// The message classes: content type rules, validation texts, copying, clearing and header reading.
#include "mail/msmsg.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

void AttachFile(TmsCustomMessage& message, const std::string& fileName, const std::string& type = "") {
    auto item = std::make_unique<TmsAttItem>();
    item->SetFileName(fileName);
    if (!type.empty()) item->SetContentType(type);
    message.Attachments().Add(std::move(item));
}

std::string ValidateError(const TmsCustomMessage& message) {
    try {
        message.Validate();
        return "";
    } catch (const EMessageError& e) {
        return e.what();
    }
}

TEST(ContentType, BodyTextKeepsTheUsersTypeUntilAttachmentsCome) {
    TmsMessage message;
    message.SetBody({"one", "two"});
    EXPECT_EQ(message.ContentType(), "text/plain");
    message.SetContentType("Text/HTML");
    EXPECT_EQ(message.ContentType(), "text/html");
    AttachFile(message, "a.pdf");
    EXPECT_EQ(message.ContentType(), "multipart/mixed");
}

TEST(ContentType, DecidedByAttachmentsWithoutBodyText) {
    TmsMessage message;
    AttachFile(message, "/srv/files/report.pdf");
    EXPECT_EQ(message.ContentType(), "application/pdf");
    message.Attachments().Clear();
    AttachFile(message, "/one/_ALT.txt", "text/plain");
    AttachFile(message, "c:\\two\\_alt.htm", "text/html");
    EXPECT_EQ(message.ContentType(), "multipart/alternative");
    AttachFile(message, "b.pdf");
    EXPECT_EQ(message.ContentType(), "multipart/mixed");
    message.Attachments().Clear();
    AttachFile(message, "x/_htmbody.htm");
    EXPECT_EQ(message.ContentType(), "text/html");
    message.Attachments().Clear();
    AttachFile(message, "_RTFBODY.rtf");
    EXPECT_EQ(message.ContentType(), "text/rtf");
    message.SetEncoding(meUU);
    EXPECT_EQ(message.ContentType(), "");
}

TEST(ContentType, SetAttachmentsStoresTheTypeAndCopiesItems) {
    TmsMessage message;
    message.SetBody({"x"});
    message.SetContentType("text/html");
    TmsAttList none;
    message.SetAttachments(none);
    EXPECT_EQ(message.ContentType(), "text/plain");
    TmsAttList list;
    list.Add(std::make_unique<TmsAttItem>()).SetFileName("a.pdf");
    message.SetAttachments(list);
    list.Items(0).SetFileName("b.txt");
    EXPECT_EQ(message.Attachments().Items(0).FileName(), "a.pdf");
}

TEST(Validate, MessageTexts) {
    TmsMessage message;
    EXPECT_EQ(ValidateError(message), "The address of sender is required");
    message.Sender().SetAddress("vkt@x.org");
    message.Recipients().AddAddress("", "Nobody");
    EXPECT_EQ(ValidateError(message), "At least one Recipient, CC or BCC must be entered");
    message.BCC().AddAddress("hidden@x.org", "");
    EXPECT_EQ(ValidateError(message), "");

    TmsArticle article;
    article.Sender().SetAddress("vkt@x.org");
    EXPECT_EQ(ValidateError(article), "Newsgroup header is required");
    article.NewsGroups = "local.test";
    EXPECT_EQ(ValidateError(article), "Subject header is required");
    article.SetSubject("s");
    EXPECT_EQ(ValidateError(article), "");
}

TEST(Message, AssignIsADeepCopy) {
    TmsMessage source;
    source.Sender().SetName("Vigil");
    source.SetSubject("Subject");
    source.SetCharSet(csISO8859);
    source.SetBody({"line"});
    source.Headers().push_back("X-A: 1");
    source.Recipients().AddAddress("a@x.org", "");
    source.CC().AddAddress("c@x.org", "");
    source.Priority = ptHigh;
    source.ReturnReceipt = true;
    AttachFile(source, "a.pdf");
    TmsMessage copy;
    copy.Assign(source);
    source.Recipients().Items(0).SetAddress("changed@x.org");
    source.Attachments().Items(0).Data() = "changed";
    EXPECT_EQ(copy.Recipients().Items(0).Address(), "a@x.org");
    EXPECT_EQ(copy.CC().Count(), 1);
    EXPECT_EQ(copy.Attachments().Items(0).Data(), "");
    EXPECT_EQ(copy.Sender().Name(), "Vigil");
    EXPECT_EQ(copy.CharSet(), csISO8859);
    EXPECT_EQ(copy.Priority, ptHigh);
    EXPECT_TRUE(copy.ReturnReceipt);
    EXPECT_EQ(copy.ContentType(), "multipart/mixed");
}

TEST(Message, ClearRestoresTheInitialState) {
    TmsMessage message;
    message.Sender().SetAddress("a@x.org");
    message.SetSubject("s");
    message.SetEncoding(meUU);
    message.SetCharSet(csISO2022jp);
    message.SetBody({"b"});
    message.SetContentType("text/html");
    message.Recipients().AddAddress("r@x.org", "");
    message.BCC().AddAddress("b@x.org", "");
    AttachFile(message, "a.pdf");
    message.Clear();
    EXPECT_EQ(message.Sender().Address(), "");
    EXPECT_EQ(message.Subject(), "");
    EXPECT_EQ(message.Encoding(), meMIME);
    EXPECT_EQ(message.CharSet(), csUSASCII);
    EXPECT_EQ(message.Recipients().Count() + message.BCC().Count() + message.Attachments().Count(), 0);
    message.SetBody({"again"});
    EXPECT_EQ(message.ContentType(), "text/plain");
}

TEST(Message, ShortTextFields) {
    TmsMessage message;
    message.SetSubject(std::string(300, 's'));
    message.SetContentType(std::string(300, 'T'));
    message.SetBody({"b"});
    EXPECT_EQ(message.Subject().size(), 255u);
    EXPECT_EQ(message.ContentType(), std::string(255, 't'));
    EXPECT_EQ(message.Version(), "2.02");
}

TEST(Message, ReadHeadersFillsTheFields) {
    TmsHeaders headers{"From: \"Vigil, Main\" <vkt@x.org>",
                       "To: a@x.org, \"B, Bee\" <b@x.org>",
                       "CC: c@x.org (Cee)",
                       "Subject: =?iso-8859-1?Q?caf=E9?=",
                       "X-Priority: 5",
                       "Return-receipt-to: <vkt@x.org>"};
    TmsMessage message;
    message.Recipients().AddAddress("kept@x.org", "");
    message.ReadHeaders(headers);
    EXPECT_EQ(message.Sender().Name(), "Vigil, Main");
    EXPECT_EQ(message.Sender().Address(), "vkt@x.org");
    ASSERT_EQ(message.Recipients().Count(), 3);
    EXPECT_EQ(message.Recipients().Items(2).Name(), "B, Bee");
    EXPECT_EQ(message.CC().Items(0).Name(), "Cee");
    EXPECT_EQ(message.Subject(), "caf\xE9");
    EXPECT_EQ(message.Priority, ptLow);
    EXPECT_TRUE(message.ReturnReceipt);
    EXPECT_EQ(message.Headers(), headers);
    message.ReadHeaders({"X-Priority: 1 "});
    EXPECT_EQ(message.Priority, ptHigh);
    message.ReadHeaders({"X-Priority: 3"});
    EXPECT_EQ(message.Priority, ptNormal);
}

TEST(Article, ReadHeadersAndLoadFromStream) {
    std::istringstream stored("From: Poster <p@x.org>\r\nNewsgroups: local.test\r\nPath: a!b\r\n"
                              "Message-ID: <1@x.org>\r\nSubject: Hi\r\n\r\nbody one\r\n.\r\n");
    TmsArticle article;
    article.LoadFromStream(stored);
    EXPECT_EQ(article.Sender().Name(), "Poster");
    EXPECT_EQ(article.NewsGroups, "local.test");
    EXPECT_EQ(article.Path, "a!b");
    EXPECT_EQ(article.MessageId, "<1@x.org>");
    EXPECT_EQ(article.Subject(), "Hi");
    EXPECT_EQ(article.Body(), (TmsStrings{"body one", "."}));
    TmsArticle copy;
    copy.Assign(article);
    EXPECT_EQ(copy.NewsGroups, "local.test");
    EXPECT_EQ(copy.Headers().size(), 5u);
}

TEST(Message, DestroyHandlersRunOnDestruction) {
    int calls = 0;
    {
        TmsMessage message;
        message.AddDestroyHandler([&] { ++calls; });
        int removed = message.AddDestroyHandler([&] { calls += 10; });
        message.RemoveDestroyHandler(removed);
    }
    EXPECT_EQ(calls, 1);
}

} // namespace
