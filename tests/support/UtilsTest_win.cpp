// The settings functions against Wine's real registry, and the version query
// against real files.
#include <gtest/gtest.h>

#include "WineTestSupport_win.h"
#include "support/Exceptions.h"
#include "support/Utils.h"

namespace ts = testing_support;

namespace {

const std::string kBase = "Software\\QEXTests\\Utils";

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { ts::RegDeleteTree(kBase); }
  void TearDown() override { ts::RegDeleteTree(kBase); }
};

TEST_F(Registry, ReadOfAMissingKeyOrValueIsEmptyAndCreatesNothing) {
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kBase + "\\Missing", "Address"), "");
  EXPECT_FALSE(ts::RegKeyExists(kBase + "\\Missing"));
  ts::RegSetString(kBase, "Other", "x");
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kBase, "Address"), "");
}

TEST_F(Registry, WriteCreatesMissingParentsAndReadsBack) {
  const std::string key = kBase + "\\A\\B\\C";
  ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, key, "Address", "10.0.0.7"));
  EXPECT_EQ(ts::RegValue(key, "Address"), "10.0.0.7");
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key, "Address"), "10.0.0.7");
  // A leading backslash is dropped: the path is taken from the root.
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, "\\" + key, "Address"), "10.0.0.7");
}

TEST_F(Registry, EmptyTextIsStoredAndReadAsEmpty) {
  ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kBase, "Address", ""));
  EXPECT_TRUE(ts::RegValueExists(kBase, "Address"));
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kBase, "Address"), "");
}

TEST_F(Registry, ValuesOfOtherTypesReadAsEmptyWithoutAnException) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kBase.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD number = 42;
  RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  const BYTE blob[] = {1, 2, 3};
  RegSetValueExA(key, "Blob", 0, REG_BINARY, blob, sizeof blob);
  const char expand[] = "%TEMP%\\x";
  RegSetValueExA(key, "Expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expand), sizeof expand);
  const char embedded[] = "ab\0cd";
  RegSetValueExA(key, "Embedded", 0, REG_SZ, reinterpret_cast<const BYTE*>(embedded), sizeof embedded);
  RegCloseKey(key);

  EXPECT_NO_THROW({
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kBase, "Number"), "");
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kBase, "Blob"), "");
  });
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kBase, "Expand"), "%TEMP%\\x");  // not expanded
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kBase, "Embedded"), "ab");       // up to the first zero
}

TEST_F(Registry, RemoveCreatesTheKeyAndToleratesAMissingValue) {
  const std::string key = kBase + "\\Run";
  EXPECT_TRUE(RegRemoveValue(HKEY_CURRENT_USER, key, "JoystickAgent"));
  EXPECT_TRUE(ts::RegKeyExists(key));
  ts::RegSetString(key, "JoystickAgent", "x");
  ts::RegSetString(key, "Other", "y");
  EXPECT_TRUE(RegRemoveValue(HKEY_CURRENT_USER, key, "JoystickAgent"));
  EXPECT_FALSE(ts::RegValueExists(key, "JoystickAgent"));
  EXPECT_EQ(ts::RegValue(key, "Other"), "y");
}

TEST_F(Registry, AKeyThatCannotBeOpenedGivesFalseOrEmpty) {
  // A key path below a value-less invalid root: HKEY 0 cannot be opened.
  EXPECT_FALSE(RegWriteString(nullptr, kBase, "Address", "x"));
  EXPECT_FALSE(RegRemoveValue(nullptr, kBase, "Address"));
  EXPECT_EQ(RegReadString(nullptr, kBase, "Address"), "");
}

TEST(FileVersion, TheAgentCarriesItsFileVersionString) {
  const std::string agent = ts::AgentPath();
  ASSERT_FALSE(agent.empty()) << "QEX_AGENT_EXE not set";
  EXPECT_EQ(GetFileVersion(agent), "1.0.0.0");
}

TEST(FileVersion, AFileWithoutVersionResourceOrMissingGivesEmpty) {
  // This test program has no version resource.
  EXPECT_EQ(GetOwnFileVersion(), "");
  EXPECT_EQ(GetFileVersion("C:\\no\\such\\file.exe"), "");
}

TEST(ModulePath, IsTheFullPathOfTheRunningProgram) {
  const std::string path = GetModulePath();
  ASSERT_GT(path.size(), 4u);
  EXPECT_EQ(path.substr(path.size() - 4), ".exe");
  EXPECT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Cp936, ChineseTextsWidenWhateverTheAnsiCodePage) {
  // 已断开 in code page 936.
  EXPECT_EQ(WidenCp936("\xD2\xD1\xB6\xCF\xBF\xAA"), std::wstring(L"\x5DF2\x65AD\x5F00"));
  EXPECT_EQ(NarrowCp936(L"\x5DF2\x65AD\x5F00"), "\xD2\xD1\xB6\xCF\xBF\xAA");
}

}  // namespace
