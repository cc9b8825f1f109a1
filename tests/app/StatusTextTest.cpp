// The window's texts are code page 936; the expectations are written in
// UTF-8 and converted, so a wrong byte in a text fails here.
#include <gtest/gtest.h>

#include "app/StatusText.h"
#include "app/Texts.h"

#if defined(_WIN32)
#include "support/Win32.h"
std::string Cp936(const std::string& utf8) {
  // UTF-8 -> wide -> code page 936, through the platform.
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
  const int m = WideCharToMultiByte(936, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(m), '\0');
  WideCharToMultiByte(936, 0, wide.data(), n, &out[0], m, nullptr, nullptr);
  return out;
}
#else
#include <iconv.h>
std::string Cp936(const std::string& utf8) {
  iconv_t cd = iconv_open("CP936", "UTF-8");
  std::string in = utf8, out(utf8.size() * 2 + 4, '\0');
  char* src = &in[0];
  char* dst = &out[0];
  std::size_t inLeft = in.size(), outLeft = out.size();
  iconv(cd, &src, &inLeft, &dst, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}
#endif

namespace {

TEST(StatusText, BothEndsAndTheCountersReadAsTheWindowShowsThem) {
  EXPECT_EQ(JoyStatusText(false), Cp936("USB遥杆: 已断开"));
  EXPECT_EQ(JoyStatusText(true), Cp936("USB遥杆: 已连接"));
  EXPECT_EQ(NetStatusText(false), Cp936("直播主机: 已断开"));
  EXPECT_EQ(NetStatusText(true), Cp936("直播主机: 已连接"));
  EXPECT_EQ(SendCountText(0), Cp936("发送: 0 次"));
  EXPECT_EQ(SendCountText(1234567), Cp936("发送: 1234567 次"));  // no grouping
  EXPECT_EQ(RecvCountText(2147483647), Cp936("接收: 2147483647 次"));
  EXPECT_EQ(RecvCountText(-2147483647 - 1), Cp936("接收: -2147483648 次"));
}

TEST(StatusText, CountersWrapAsThirtyTwoBitSignedIntegers) {
  // Built with UBSan: an overflowing increment would stop the test here.
  TPacketCounter counter(2147483646);
  EXPECT_EQ(static_cast<std::int32_t>(++counter), 2147483647);
  EXPECT_EQ(static_cast<std::int32_t>(++counter), -2147483647 - 1);
  EXPECT_EQ(RecvCountText(++counter), Cp936("接收: -2147483647 次"));
  TPacketCounter fresh;
  EXPECT_EQ(static_cast<std::int32_t>(++fresh), 1);
}

TEST(StatusText, FixedTextsAreTheCodePage936Texts) {
  EXPECT_EQ(texts::kTextAppTitle, Cp936("QEX导播控制台 MRV-4000"));
  EXPECT_EQ(texts::kTextAddressPrompt, Cp936("请输入主机地址:       "));
  EXPECT_EQ(texts::kTextSettingsCaption, Cp936("设置"));
  EXPECT_EQ(texts::kTextWarningCaption, Cp936("警告"));
  EXPECT_EQ(texts::kTextSecondConsole, Cp936("警告: 不支持多个QEX遥杆设备同时工作,请拨全部遥杆再重新接"));
  EXPECT_EQ(texts::kTextErrorCaption, Cp936("错误"));
  EXPECT_EQ(texts::kTextHidOverflow, Cp936("HID数据太多了,超出缓冲区了,将丢掉"));
}

TEST(Autorun, CommandLineIsTheQuotedPathThenMin) {
  EXPECT_EQ(AutorunCommandLine("C:\\Program Files\\QEX\\QEXJoystick.exe"),
            "\"C:\\Program Files\\QEX\\QEXJoystick.exe\" -min");
  EXPECT_EQ(AutorunCommandLine(""), "\"\" -min");
}

TEST(Autorun, OnlyAnExactFirstArgumentStartsMinimised) {
  const char* exact[] = {"agent", "-min"};
  const char* upper[] = {"agent", "-MIN"};
  const char* second[] = {"agent", "x", "-min"};
  const char* longer[] = {"agent", "-minx"};
  const char* none[] = {"agent"};
  EXPECT_TRUE(IsMinimizedStart(2, exact));
  EXPECT_FALSE(IsMinimizedStart(2, upper));
  EXPECT_FALSE(IsMinimizedStart(3, second));
  EXPECT_FALSE(IsMinimizedStart(2, longer));
  EXPECT_FALSE(IsMinimizedStart(1, none));
}

TEST(ConsoleName, FoldsAsciiCaseButNeverTrimsOrMatchesParts) {
  EXPECT_TRUE(IsConsoleName("QEX PROPRE CONTROLLER"));
  EXPECT_TRUE(IsConsoleName("qex propre controller"));
  EXPECT_TRUE(IsConsoleName("MRV-4000"));
  EXPECT_TRUE(IsConsoleName("mrv-4000"));
  EXPECT_FALSE(IsConsoleName("QEX PROPRE CONTROLLER "));
  EXPECT_FALSE(IsConsoleName("The QEX PROPRE CONTROLLER"));
  EXPECT_FALSE(IsConsoleName("MRV-400"));
  EXPECT_FALSE(IsConsoleName(""));
}

}  // namespace
