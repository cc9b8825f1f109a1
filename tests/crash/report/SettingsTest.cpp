#include <gtest/gtest.h>

#include "ReportFixtures.h"
#include "crash/report/ExceptionHistory.h"
#include "crash/report/Placeholders.h"
#include "crash/report/ReportSettings.h"

namespace {

std::string Block() { return ReadFileBytes(QEX_REPORT_SETTINGS_FILE); }

ReportSettings Parse(const std::string& block) { return ReportSettings::Parse(block.data(), block.size()); }

std::string ParseError(const std::string& block) {
  try {
    Parse(block);
  } catch (const EReportSettingsError& e) {
    return e.Message();
  }
  return "parsed";
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(ReportSettings, TheShippedBlockHoldsEverySettingWithItsValue) {
  const std::string block = Block();
  ASSERT_FALSE(block.empty());
  const ReportSettings s = Parse(block);
  EXPECT_TRUE(s.IsOn("Enabled"));
  EXPECT_FALSE(s.IsOn("CheckFreeze"));
  EXPECT_EQ(s.Number("FreezeTimeout"), 60000);
  EXPECT_TRUE(s.IsOn("AutoSave") && s.IsOn("AutoSaveIfNotSent") && s.IsOn("PlWaitBox"));
  EXPECT_FALSE(s.IsOn("PauseThreads") || s.IsOn("AutoSend") || s.IsOn("SaveBtnVis") || s.IsOn("PrintBtnVis"));
  EXPECT_EQ(s.Number("AutoRestart"), 0);
  EXPECT_EQ(s.Number("AutoClose"), 0);
  EXPECT_EQ(s.Number("HttpPort"), 80);
  EXPECT_EQ(s.Number("SmtpPort"), 25);
  EXPECT_EQ(s.Number("BugRepFileSize"), 100000);
  EXPECT_EQ(s.Number("DupExceptDef"), 1);
  EXPECT_EQ(s.Number("DupFreezeDef"), 2);
  EXPECT_EQ(s.Number("F1ShowCfg"), 3);
  EXPECT_EQ(s.Number("LimitDisAsm"), 5);
  EXPECT_EQ(s.Text("BugRepFile"), "bugreport.txt");
  EXPECT_EQ(s.Text("MailAddr"), "");
  EXPECT_EQ(s.Text("Plugins"), "modules|processes|hardware");
  EXPECT_EQ(s.Text("Assistant1"), "SendAssistant|Send Assistant|ContactForm|DetailsForm|ScrShotForm");
  EXPECT_EQ(s.Text("F1Classes"), "EDBEditError");
  EXPECT_EQ(s.Text("TitleBar"), "%appname%");
  EXPECT_EQ(s.Text("BugTrDescr"), "error details: \r\n%errorDetails%");
  EXPECT_EQ(s.Text("OkBtnTxt"), "&OK");
  EXPECT_EQ(s.Text("SendFailMsg"), "Sorry, sending the bug report didn't work.");
  for (const SettingDefinition& definition : ReportSettings::Known()) EXPECT_TRUE(s.Has(definition.name)) << definition.name;
}

TEST(ReportSettings, LookupOfTheWrongKindOrAnUnknownNameThrows) {
  ReportSettings s = Parse(Block());
  EXPECT_THROW(s.Number("Enabled"), EReportSettingsError);
  EXPECT_THROW(s.IsOn("NoSuchSetting"), EReportSettingsError);
  // A per-exception copy changes on its own.
  ReportSettings copy = s;
  copy.SetOn("ShowBtnVis", false);
  EXPECT_FALSE(copy.IsOn("ShowBtnVis"));
  EXPECT_TRUE(s.IsOn("ShowBtnVis"));
}

TEST(ReportSettings, InvalidBlocksAreReportedWithTheirDetail) {
  const std::string block = Block();
  EXPECT_EQ(ParseError(block + "Bogus = on\n").rfind("Internal error: Invalid settings resource (line ", 0), 0u);
  EXPECT_NE(ParseError(block + "Bogus = on\n").find("unknown setting 'Bogus')."), std::string::npos);
  EXPECT_NE(ParseError(Replace(block, "Enabled = on", "Enabled = yes")).find("'Enabled' must be on or off"),
            std::string::npos);
  EXPECT_NE(ParseError(Replace(block, "HttpPort = 80", "HttpPort = 8x")).find("must be a number"), std::string::npos);
  EXPECT_NE(ParseError(Replace(block, "HttpPort = 80", "HttpPort = 99999999999999999999")).find("must be a number"),
            std::string::npos);
  EXPECT_NE(ParseError(Replace(block, "MailSubj = \"bug report\"", "MailSubj = \"bug report")).find("quoted text"),
            std::string::npos);
  EXPECT_NE(ParseError(Replace(block, "MailSubj = \"bug report\"", "MailSubj = \"bug\\\"")).find("quoted text"),
            std::string::npos);
  EXPECT_EQ(ParseError(Replace(block, "FrozenMsg = ", "# FrozenMsg = ")),
            "Internal error: Invalid settings resource (missing setting 'FrozenMsg').");
  EXPECT_NE(ParseError(block + "Enabled = off\n").find("given twice"), std::string::npos);
  EXPECT_NE(ParseError("just words\n").find("no '='"), std::string::npos);
  EXPECT_NE(ParseError(std::string("Enabled = on\0", 13)).find("null byte"), std::string::npos);
  EXPECT_NE(ParseError("").find("missing setting 'Enabled'"), std::string::npos);
}

TEST(ReportSettings, LineEndsAndByteOrderMarkAreAccepted) {
  std::string crlf;
  for (char c : Block()) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  EXPECT_EQ(Parse("\xEF\xBB\xBF" + crlf).Text("ExceptMsg"), "An error occurred in the application.");
}

PlaceholderValues Values() {
  PlaceholderValues v;
  v.app_name = "QEXJoystick.exe";
  v.mod_name = "hid.dll";
  v.app_version = "1.0.0.0";
  v.mod_version = "?";
  v.except_class = "EAccessViolation";
  v.bug_report = "REPORT";
  v.error_details = "clicked";
  v.now.year = 2024, v.now.month = 1, v.now.day = 2, v.now.hour = 3, v.now.minute = 4, v.now.second = 5,
  v.now.millisecond = 60;
  v.computer_name = "DESK";
  v.os = "Windows 10";
  v.desktop = "C:\\Users\\op\\Desktop";
  v.user_app_data = "C:\\Users\\op\\AppData\\Roaming";
  v.common_app_data = "C:\\ProgramData";
  return v;
}

TEST(Placeholders, EveryPlaceholderIsExpandedWhereverItOccurs) {
  const PlaceholderValues v = Values();
  EXPECT_EQ(ExpandPlaceholders("%appname% %appname%", v), "QEXJoystick.exe QEXJoystick.exe");
  EXPECT_EQ(ExpandPlaceholders("%modname%/%appversion%/%modversion%/%exceptClass%", v),
            "hid.dll/1.0.0.0/?/EAccessViolation");
  EXPECT_EQ(ExpandPlaceholders("[%exceptMsg%]", v), "[Unknown]");
  EXPECT_EQ(ExpandPlaceholders("%bugReport%%LF%%errorDetails%", v), "REPORT\r\nclicked");
  EXPECT_EQ(ExpandPlaceholders("%date%|%time%|%datetime%", v),
            "2024-01-02|03:04:05, 60ms|2024-01-02, 03:04:05, 60ms");
  EXPECT_EQ(ExpandPlaceholders("%computerName% %os% %desktop% %userappdata% %commonappdata%", v),
            "DESK Windows 10 C:\\Users\\op\\Desktop C:\\Users\\op\\AppData\\Roaming C:\\ProgramData");
  EXPECT_EQ(ExpandPlaceholders("100% %unknown% %", v), "100% %unknown% %");
}

TEST(Placeholders, ValuesAreNotExpandedAgain) {
  PlaceholderValues v = Values();
  v.except_msg = "bad %LF% in %appname%";
  EXPECT_EQ(ExpandPlaceholders("%exceptMsg%", v), "bad %LF% in %appname%");
}

TEST(ExceptionHistory, RecordShiftsDownAndPutsTheNewestFirst) {
  ExceptionTimeHistory history;
  for (int t = 1; t <= 12; ++t) history.Record(t * 100);
  EXPECT_EQ(history.At(0), 1200);
  EXPECT_EQ(history.At(9), 300);
  unsigned char bytes[ExceptionTimeHistory::kByteSize];
  history.ToBytes(bytes);
  EXPECT_EQ(bytes[0], 1200 & 0xFF);
  const ExceptionTimeHistory copy = ExceptionTimeHistory::FromBytes(bytes);
  for (std::size_t i = 0; i < ExceptionTimeHistory::kEntries; ++i) EXPECT_EQ(copy.At(i), history.At(i));
}

TEST(ExceptionHistory, AutoRules) {
  ExceptionTimeHistory history;
  EXPECT_FALSE(AutoRuleApplies(0, history, 1000));
  EXPECT_TRUE(AutoRuleApplies(1, history, 1000));
  for (int i = 0; i < 9; ++i) history.Record(1000 - i);
  EXPECT_FALSE(AutoRuleApplies(60, history, 1000)) << "nine entries are not ten";
  history.Record(1000);
  EXPECT_TRUE(AutoRuleApplies(60, history, 1000));
  EXPECT_TRUE(AutoRuleApplies(60, history, 1000 + 52));  // oldest entry 992: 60 s before
  EXPECT_FALSE(AutoRuleApplies(60, history, 1000 + 53));

  EXPECT_EQ(DecideAfterBox(true, 1, 1, history, 1000), AfterBox::Continue);
  EXPECT_EQ(DecideAfterBox(false, 1, 0, history, 1000), AfterBox::Restart);
  EXPECT_EQ(DecideAfterBox(false, 1, 1, history, 1000), AfterBox::Close);
  EXPECT_EQ(DecideAfterBox(false, 0, 0, history, 1000), AfterBox::Close);
}

TEST(ReportSettings, ListItemsAreTrimmedAndEmptyOnesLeftOut) {
  const ReportSettings s = Parse(Block());
  EXPECT_EQ(SettingListItems(s.Text("Plugins"), "|"), (std::vector<std::string>{"modules", "processes", "hardware"}));
  EXPECT_EQ(SettingListItems(" a |\tb||  ", "|"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(SettingListItems("A, B;C|D", ",;|"), (std::vector<std::string>{"A", "B", "C", "D"}));
  EXPECT_EQ(SettingListItems("A, B", "|"), (std::vector<std::string>{"A, B"}));
  EXPECT_TRUE(SettingListItems("", "|").empty());
  EXPECT_TRUE(SettingListItems(" | ", "|").empty());
}

}  // namespace
