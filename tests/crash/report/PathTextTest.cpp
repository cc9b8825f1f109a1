#include <gtest/gtest.h>

#include "crash/report/PathText.h"

TEST(PathText, FileNameIsThePartAfterTheLastSlashOfEitherKind) {
  EXPECT_EQ(FileNameOf(std::string("C:\\Program Files\\QEX\\QEXJoystick.exe")), "QEXJoystick.exe");
  EXPECT_EQ(FileNameOf(std::string("Z:/work/build/app/QEXJoystick.exe")), "QEXJoystick.exe");
  EXPECT_EQ(FileNameOf(std::string("C:\\mixed/dirs\\name.txt")), "name.txt");
  EXPECT_EQ(FileNameOf(std::string("bare.dll")), "bare.dll");
  EXPECT_EQ(FileNameOf(std::string("C:\\folder\\")), "");
  EXPECT_EQ(FileNameOf(std::wstring(L"C:\\Users\\\u5f20\\bugreport.txt")), L"bugreport.txt");
}

TEST(PathText, WithoutExtensionDropsOnlyTheLastOne) {
  EXPECT_EQ(WithoutExtension("QEXJoystick.exe"), "QEXJoystick");
  EXPECT_EQ(WithoutExtension("archive.tar.gz"), "archive.tar");
  EXPECT_EQ(WithoutExtension("noextension"), "noextension");
  EXPECT_EQ(WithoutExtension(".profile"), "");
}
