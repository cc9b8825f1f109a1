#include <gtest/gtest.h>

#include "net/SocketTypes.h"

TEST(SocketTypes, NotificationFlagGivesErrorKind) {
  EXPECT_EQ(ErrorEventForFlag(1), eeReceive);
  EXPECT_EQ(ErrorEventForFlag(2), eeSend);
  EXPECT_EQ(ErrorEventForFlag(8), eeAccept);
  EXPECT_EQ(ErrorEventForFlag(16), eeConnect);
  EXPECT_EQ(ErrorEventForFlag(32), eeDisconnect);
  EXPECT_EQ(ErrorEventForFlag(4), eeGeneral);
  EXPECT_EQ(ErrorEventForFlag(0), eeGeneral);
}

TEST(SocketTypes, ErrorMessageTrimsThePlatformText) {
  EXPECT_EQ(SocketErrorMessage(TrimErrorText("Connection refused.\r\n"), 10061, "connect"),
            "Windows socket error: Connection refused (10061), on API 'connect'");
  EXPECT_EQ(TrimErrorText(" . \r\n"), "");
  EXPECT_EQ(TrimErrorText("a. b"), "a. b");
}
