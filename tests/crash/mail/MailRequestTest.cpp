#include <gtest/gtest.h>

#include "crash/mail/MailRequest.h"

TEST(MailRecipients, SplitsNameAndAddress) {
  MailRecipient named = SplitMailAddress("  Jane Doe <jane@example.com> ");
  EXPECT_EQ(named.name, "Jane Doe");
  EXPECT_EQ(named.address, "jane@example.com");

  MailRecipient quoted = SplitMailAddress("\"Support Desk\" < help@example.com >");
  EXPECT_EQ(quoted.name, "Support Desk");
  EXPECT_EQ(quoted.address, "help@example.com");

  MailRecipient bare = SplitMailAddress(" bugs@example.com ");
  EXPECT_EQ(bare.name, "bugs@example.com");
  EXPECT_EQ(bare.address, "bugs@example.com");

  MailRecipient nameless = SplitMailAddress("<only@example.com>");
  EXPECT_EQ(nameless.name, "only@example.com");
  EXPECT_EQ(nameless.address, "only@example.com");

  EXPECT_EQ(SplitMailAddress("   ").address, "");
}

TEST(MailRecipients, ListIsSplitAtCommasSkippingEmptyItems) {
  const std::vector<MailRecipient> list = SplitRecipients("a@b.c, Bob <bob@d.e>,, ,c@f.g");
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].address, "a@b.c");
  EXPECT_EQ(list[1].name, "Bob");
  EXPECT_EQ(list[1].address, "bob@d.e");
  EXPECT_EQ(list[2].address, "c@f.g");
  EXPECT_TRUE(SplitRecipients("").empty());
}

TEST(MapiRequest, CarriesRecipientsWithSmtpPrefixTextsAndAttachments) {
  const MapiRequest request =
      BuildMapiRequest("Bob <bob@d.e>, a@b.c", "Jane <jane@x.y>", kMailSubject, kMailBody,
                       {{"C:\\tmp\\bugreport.txt", kBugReportSendAs}, {"C:\\tmp\\screenShot.png", kScreenshotSendAs}},
                       false);
  ASSERT_EQ(request.recipients.size(), 2u);
  EXPECT_EQ(request.recipients[0].recipientClass, kMapiTo);
  EXPECT_EQ(request.recipients[0].name, "Bob");
  EXPECT_EQ(request.recipients[0].address, "SMTP:bob@d.e");
  EXPECT_EQ(request.recipients[1].name, "a@b.c");
  EXPECT_EQ(request.recipients[1].address, "SMTP:a@b.c");
  ASSERT_TRUE(request.hasOriginator);
  EXPECT_EQ(request.originator.recipientClass, kMapiOriginator);
  EXPECT_EQ(request.originator.name, "Jane");
  EXPECT_EQ(request.originator.address, "SMTP:jane@x.y");
  EXPECT_EQ(request.subject, "bug report");
  EXPECT_EQ(request.body, "please find the bug report attached");
  ASSERT_EQ(request.attachments.size(), 2u);
  EXPECT_EQ(request.attachments[0].name, "bugreport.txt");
  EXPECT_EQ(request.attachments[1].name, "screenshot.png");
  EXPECT_EQ(request.attachments[1].path, "C:\\tmp\\screenShot.png");
  EXPECT_EQ(request.flags, 0u) << "an automatic send with a recipient needs no dialog";
}

TEST(MapiRequest, AsksForTheComposeDialogWhenUserStartedOrNoRecipient) {
  EXPECT_EQ(BuildMapiRequest("a@b.c", "", "s", "b", {}, true).flags, kMapiLogonUi | kMapiDialog);
  const MapiRequest noRecipient = BuildMapiRequest("", "", "s", "b", {}, false);
  EXPECT_EQ(noRecipient.flags, kMapiLogonUi | kMapiDialog);
  EXPECT_TRUE(noRecipient.recipients.empty());
  EXPECT_FALSE(noRecipient.hasOriginator);
}

TEST(MapiRequest, UserCancelIsNotAFailure) {
  EXPECT_EQ(MapiSendResult(kMapiSuccess), SendResult::Sent);
  EXPECT_EQ(MapiSendResult(kMapiUserAbort), SendResult::Cancelled);
  EXPECT_EQ(MapiSendResult(2), SendResult::Failed);   // MAPI_E_FAILURE
  EXPECT_EQ(MapiSendResult(3), SendResult::Failed);   // MAPI_E_LOGIN_FAILURE
  EXPECT_EQ(MapiSendResult(26), SendResult::Failed);  // MAPI_E_NOT_SUPPORTED
}
