// The link's wire format and the receiver that finds send messages in the
// byte stream from the live host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/LinkProtocol.h"
#include "support/Exceptions.h"
#include "support/Hex.h"

namespace {

using Codes = std::vector<std::string>;

Codes FeedAll(TLinkReceiver& receiver, const std::vector<std::string>& reads) {
  Codes codes;
  for (const std::string& read : reads) receiver.Feed(read, codes);
  return codes;
}

Codes Receive(const std::vector<std::string>& reads) {
  TLinkReceiver receiver;
  return FeedAll(receiver, reads);
}

const std::string kSend = "usb-hid=send\r\n";

TEST(LinkMessages, RecvMessageOfThreeBytesIsTwentySevenBytes) {
  const std::uint8_t report[] = {0x01, 0x02, 0xFF};
  const std::string message = RecvMessageText(BytesToHex(report, 3));
  EXPECT_EQ(message, "usb-hid=recv\r\ncode=0102FF\r\n");
  EXPECT_EQ(message.size(), 27u);
}

TEST(LinkMessages, HexOfLineFeedByteAndOfNoBytes) {
  const std::uint8_t report[] = {0x0A, 0xFF};
  EXPECT_EQ(RecvMessageText(BytesToHex(report, 2)), "usb-hid=recv\r\ncode=0AFF\r\n");
  EXPECT_EQ(RecvMessageText(BytesToHex(report, 0)), "usb-hid=recv\r\ncode=\r\n");
  EXPECT_EQ(HexToBytes("0AFF"), (Bytes{0x0A, 0xFF}));
  EXPECT_EQ(HexToBytes("0aff"), (Bytes{0x0A, 0xFF}));
  EXPECT_TRUE(HexToBytes("").empty());
}

TEST(LinkMessages, StatusRequestKeepAliveAndTrace) {
  EXPECT_EQ(StatusRequestText(), "usb-hid=get_status\r\n");
  EXPECT_EQ(KeepAliveText(), "mark=live\r\n");
  EXPECT_EQ(SendMessageTraceText("127.0.0.1", "04 00"), "127.0.0.1: 04 00");
}

TEST(LinkMessages, HexDecodingDropsSpacesAndAnOddLastDigit) {
  EXPECT_EQ(HexToBytes("04 00 05"), (Bytes{0x04, 0x00, 0x05}));
  EXPECT_EQ(HexToBytes("abc"), (Bytes{0xAB}));
  try {
    HexToBytes("0g");
    FAIL() << "no conversion error";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'$0g' is not a valid integer value");
  }
  EXPECT_THROW(HexToBytes("+1"), EConvertError);
  EXPECT_THROW(HexToBytes("0\t"), EConvertError);
}

TEST(LinkMessages, OnlyCodesOfWholeBytesAreCommands) {
  EXPECT_TRUE(HasWholeBytes(""));
  EXPECT_TRUE(HasWholeBytes("0102FF"));
  EXPECT_TRUE(HasWholeBytes("04 00 05"));
  EXPECT_TRUE(HasWholeBytes("0 4"));  // blanks anywhere, as the decoder drops them
  // A digit lost on the way: decoding would drop another and send less.
  EXPECT_FALSE(HasWholeBytes("123"));
  EXPECT_FALSE(HasWholeBytes("01020"));
  EXPECT_FALSE(HasWholeBytes("04 00 5"));
}

TEST(LinkReceiver, WorkedExampleGivesTheSixtyFourDigits) {
  const std::string code = "0400050000000110000000000000000000000000000000000000000000000000";
  const Codes codes = Receive({kSend + "code=" + code + "\r\n"});
  ASSERT_EQ(codes, Codes{code});
  const Bytes bytes = HexToBytes(codes[0]);
  ASSERT_EQ(bytes.size(), 32u);
  EXPECT_EQ(bytes[0], 0x04);
  EXPECT_EQ(bytes[6], 0x01);
  EXPECT_EQ(bytes[7], 0x10);
}

TEST(LinkReceiver, FirstLineMustBeExact) {
  EXPECT_TRUE(Receive({"USB-HID=SEND\r\ncode=01\r\n"}).empty());
  EXPECT_TRUE(Receive({" usb-hid=send\r\ncode=01\r\n"}).empty());
  EXPECT_TRUE(Receive({"usb-hid=send \r\ncode=01\r\n"}).empty());
  EXPECT_TRUE(Receive({"mark=live\r\ncode=01\r\n"}).empty());
}

TEST(LinkReceiver, CodeKeyIgnoresCaseButNotASpace) {
  EXPECT_EQ(Receive({kSend + "CODE=01\r\n"}), Codes{"01"});
  EXPECT_EQ(Receive({kSend + "CoDe=02\r\n"}), Codes{"02"});
  // Not a code line: the message ends there, without code.
  EXPECT_EQ(Receive({kSend + "code =01\r\n"}), Codes{""});
}

TEST(LinkReceiver, ValueIsEverythingAfterTheFirstEqualsSign) {
  EXPECT_EQ(Receive({kSend + "code=04 00=05\r\n"}), Codes{"04 00=05"});
  EXPECT_EQ(Receive({kSend + "code=07\r\ncode=08\r\n"}), Codes{"07"});
}

TEST(LinkReceiver, AMessageEndsAtItsSecondLineAndNeverTakesALaterCode) {
  // The line after the first one is the code line or ends the message.
  EXPECT_EQ(Receive({kSend + "x=1\r\ncode=07\r\n"}), Codes{""});
  EXPECT_EQ(Receive({kSend + "usb-hid=status\r\ncode=05\r\n"}), Codes{""});
  EXPECT_EQ(Receive({kSend, "usb-hid=status\r\n", "code=05\r\n"}), Codes{""});
  // A lone first line ends with the grace period: the code of a later text
  // is not written.
  TLinkReceiver receiver;
  Codes codes = FeedAll(receiver, {kSend});
  ASSERT_TRUE(receiver.AwaitsGrace());
  receiver.Flush(codes);
  EXPECT_FALSE(receiver.AwaitsGrace());
  receiver.Feed("usb-hid=status\r\ncode=05\r\n", codes);
  EXPECT_TRUE(codes.empty());
}

TEST(LinkReceiver, FirstLineAloneIsKeptUntilTheGraceNotCounted) {
  TLinkReceiver receiver;
  Codes codes = FeedAll(receiver, {kSend});
  EXPECT_TRUE(codes.empty());
  EXPECT_TRUE(receiver.AwaitsGrace());
  // Completed by a later read within the grace...
  receiver.Feed("code=0A\r\n", codes);
  EXPECT_EQ(codes, Codes{"0A"});
  // ...and dropped uncounted after it.
  receiver.Feed(kSend, codes);
  receiver.Flush(codes);
  receiver.Feed("code=0B\r\n", codes);
  EXPECT_EQ(codes, Codes{"0A"});
}

TEST(LinkReceiver, MessageSplitAnywhereIsReassembled) {
  const std::string message = kSend + "code=0102FF\r\n";
  for (std::size_t cut = 1; cut < message.size(); ++cut) {
    TLinkReceiver receiver;
    Codes codes = FeedAll(receiver, {message.substr(0, cut)});
    // Until the code line has ended, something waits for more bytes.
    if (codes.empty()) {
      EXPECT_TRUE(receiver.AwaitsGrace()) << cut;
    }
    receiver.Feed(message.substr(cut), codes);
    EXPECT_EQ(codes, Codes{"0102FF"}) << "cut at " << cut;
    EXPECT_FALSE(receiver.AwaitsGrace());
  }
}

TEST(LinkReceiver, CrLfSplitOverTwoReadsIsOneLineEnd) {
  // An empty line would be a second line of the message; the split pair must
  // not make one.
  TLinkReceiver receiver;
  Codes codes = FeedAll(receiver, {"usb-hid=send\r", "\n"});
  EXPECT_TRUE(codes.empty());
  receiver.Feed("code=01\r", codes);
  receiver.Feed("\nusb-hid=send\ncode=02\n", codes);
  EXPECT_EQ(codes, (Codes{"01", "02"}));
}

TEST(LinkReceiver, SeveralMessagesInOneReadAreEachHandled) {
  EXPECT_EQ(Receive({kSend + "code=01\r\n" + kSend + "code=02\r\n" + kSend + "code=03\r\n"}),
            (Codes{"01", "02", "03"}));
  // Other text before a message no longer hides it.
  EXPECT_EQ(Receive({"mark=live\r\n" + kSend + "code=04\r\n"}), Codes{"04"});
}

TEST(LinkReceiver, LineEndsOfEveryKind) {
  EXPECT_EQ(Receive({"usb-hid=send\ncode=01\n"}), Codes{"01"});
  EXPECT_EQ(Receive({"usb-hid=send\rcode=01\r"}), Codes{"01"});
  // An empty line is a line: it ends the message.
  EXPECT_EQ(Receive({"usb-hid=send\r\n\r\ncode=01\r\n"}), Codes{""});
}

TEST(LinkReceiver, LastCodeLineWithoutLineEndCompletesOnQuiet) {
  TLinkReceiver receiver;
  Codes codes = FeedAll(receiver, {"usb-hid=send\ncode=01"});
  EXPECT_TRUE(codes.empty());
  ASSERT_TRUE(receiver.AwaitsGrace());
  receiver.Flush(codes);
  EXPECT_EQ(codes, Codes{"01"});
  EXPECT_FALSE(receiver.AwaitsGrace());
  // A line end that comes late makes nothing more of it.
  receiver.Feed("\r\n", codes);
  EXPECT_EQ(codes, Codes{"01"});
}

TEST(LinkReceiver, UnfinishedKeyIsJoinedWithinTheGraceAndALineAfterIt) {
  TLinkReceiver receiver;
  Codes codes = FeedAll(receiver, {kSend + "cod"});
  EXPECT_TRUE(receiver.AwaitsGrace());
  receiver.Feed("e=05\r\n", codes);
  EXPECT_EQ(codes, Codes{"05"});
  // Quiet after "cod": a line that is no code line, the message has none.
  receiver.Feed(kSend + "cod", codes);
  receiver.Flush(codes);
  EXPECT_EQ(codes, (Codes{"05", ""}));
  // An unfinished line outside a message is a line of its own after quiet.
  receiver.Feed("usb-hid=se", codes);
  receiver.Flush(codes);
  receiver.Feed("nd\r\ncode=06\r\n", codes);
  EXPECT_EQ(codes, (Codes{"05", ""}));
}

TEST(LinkReceiver, MessageWithoutCodeLine) {
  // Ended by the next message.
  EXPECT_EQ(Receive({kSend + "x=1\r\n" + kSend + "code=02\r\n"}), (Codes{"", "02"}));
  // A repeated first line alone is no message of its own.
  EXPECT_EQ(Receive({kSend + kSend + "code=03\r\n"}), Codes{"03"});
  // Empty code.
  EXPECT_EQ(Receive({kSend + "code=\r\n"}), Codes{""});
}

TEST(LinkReceiver, NulEndsTheTextOfItsRead) {
  EXPECT_EQ(Receive({kSend + "code=01" + std::string(1, '\0') + "garbage\r\n"}), Codes{"01"});
  EXPECT_TRUE(Receive({std::string("usb-hid=se\0nd\r\ncode=01\r\n", 24)}).empty());
  // The next read starts afresh.
  EXPECT_EQ(Receive({kSend + std::string(1, '\0') + "x", "code=02\r\n"}), Codes{"02"});
}

TEST(LinkReceiver, OverlongLineIsDroppedAndBounded) {
  TLinkReceiver receiver;
  Codes codes;
  receiver.Feed(kSend, codes);
  const std::string chunk(4096, '0');
  receiver.Feed("code=", codes);
  for (int i = 0; i < 40; ++i) receiver.Feed(chunk, codes);  // 160 KiB, no line end
  EXPECT_TRUE(codes.empty());
  receiver.Feed("\r\n" + kSend + "code=09\r\n", codes);
  // The overlong line counted as a line without code; the next message is whole.
  EXPECT_EQ(codes, (Codes{"", "09"}));
}

TEST(LinkReceiver, ResetForgetsAnUnfinishedMessage) {
  TLinkReceiver receiver;
  Codes codes = FeedAll(receiver, {"usb-hid=se"});
  EXPECT_FALSE(receiver.InSendMessage());
  receiver.Feed("nd\r\n", codes);
  EXPECT_TRUE(receiver.InSendMessage());
  receiver.Feed("code=0", codes);
  EXPECT_TRUE(receiver.InSendMessage()) << "until its code line has ended";
  receiver.Reset();
  EXPECT_FALSE(receiver.InSendMessage());
  EXPECT_FALSE(receiver.AwaitsGrace());
  receiver.Feed("1\r\n", codes);
  EXPECT_TRUE(codes.empty());
}

}  // namespace
