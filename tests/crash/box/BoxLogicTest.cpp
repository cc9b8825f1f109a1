// The box's decisions and the assistant's pages, without windows.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "crash/box/AssistantForms.h"
#include "crash/box/BoxLogic.h"
#include "crash/report/BugReport.h"
#include "crash/report/CallStack.h"

TEST(BoxTabs, GeneralAndCallStackFirstThenOneTabPerSectionWithShortNames) {
  Fields sections = {{"main thread ($1a2b)", "x"}, {"thread $33", "y"}, {"modules", "m"},
                     {"cpu registers", "r"},      {"disassembling", "d"}, {"error details", "e"}};
  std::vector<BoxTab> tabs = BuildBoxTabs(sections);
  ASSERT_EQ(tabs.size(), 7u);
  EXPECT_EQ(tabs[0].title, "general");
  EXPECT_TRUE(tabs[0].section.empty());
  EXPECT_EQ(tabs[1].title, "call stack");
  EXPECT_EQ(tabs[1].section, "main thread ($1a2b)");
  EXPECT_TRUE(tabs[1].callStack);
  EXPECT_EQ(tabs[2].title, "thread $33");
  EXPECT_TRUE(tabs[2].callStack);
  EXPECT_FALSE(tabs[3].callStack);
  EXPECT_EQ(tabs[4].title, "cpu regs");
  EXPECT_EQ(tabs[5].title, "disasm");
  EXPECT_EQ(tabs[6].title, "error details");
}

TEST(CallStackColumns, SplitsTheRenderedSectionIntoItsColumns) {
  StackFrames frames(3);
  frames[0].address = 0x401000;
  frames[0].module = "QEXJoystick.exe";
  frames[0].unit = "frmMains.cpp";
  frames[0].function = "TfrmMain.Button click";  // a blank inside the last column
  frames[0].function_offset = 0x1f;
  frames[0].line = 120;
  frames[0].line_offset = 3;
  frames[1] = frames[0];
  frames[1].function = "Run";
  frames[2].address = 0x77001234;  // no debug information
  frames[2].module = "user32.dll";
  auto rows = SplitCallStackColumns(RenderCallStack(frames, CallStackColumns()));
  ASSERT_EQ(rows.size(), 3u);
  ASSERT_EQ(rows[0].size(), 7u);
  EXPECT_EQ(rows[0][0], "00401000");
  EXPECT_EQ(rows[0][1], "+1f");
  EXPECT_EQ(rows[0][2], "QEXJoystick.exe");
  EXPECT_EQ(rows[0][4], "120");
  EXPECT_EQ(rows[0][6], "TfrmMain.Button click");
  EXPECT_EQ(rows[2][0], "77001234");
  EXPECT_EQ(rows[2][1], "");
  EXPECT_EQ(rows[2][2], "user32.dll");
  EXPECT_EQ(rows[2][6], "");
}

TEST(CallStackColumns, APendingSectionIsOneColumn) {
  auto rows = SplitCallStackColumns(">> will be calculated soon");
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_EQ(rows[0].size(), 1u);
  EXPECT_EQ(rows[0][0], ">> will be calculated soon");
}

TEST(BoxClosing, FocusedButtonFirstThenContinueCloseRestart) {
  EXPECT_EQ(CloseChoice(0, true, true, true, true), BoxChoice::Continue);
  EXPECT_EQ(CloseChoice(0, true, false, true, true), BoxChoice::Close);
  EXPECT_EQ(CloseChoice(0, true, false, true, false), BoxChoice::Restart);
  EXPECT_EQ(CloseChoice(0, false, true, false, false), BoxChoice::Close);
  EXPECT_EQ(CloseChoice(bbRestart, true, true, true, true), BoxChoice::Restart);
  EXPECT_EQ(CloseChoice(bbClose, true, true, true, true), BoxChoice::Close);
  // Continuing is never chosen for an exception that cannot continue.
  EXPECT_EQ(CloseChoice(bbContinue, true, false, true, true), BoxChoice::Close);
}

TEST(AssistantPages, SendAssistantDeclarationAndPageTexts) {
  TNVAssistant a;
  ASSERT_TRUE(ParseAssistant("SendAssistant|Send Assistant|ContactForm|DetailsForm|ScrShotForm", &a));
  EXPECT_EQ(a.name, "SendAssistant");
  EXPECT_EQ(a.title, "Send Assistant");
  EXPECT_EQ(a.pages, (std::vector<std::string>{"ContactForm", "DetailsForm", "ScrShotForm"}));
  EXPECT_FALSE(ParseAssistant("OnlyName|Title", &a));

  TNVForm contact = MakeForm("ContactForm");
  EXPECT_EQ(contact.title, "Contact Information");
  EXPECT_FALSE(contact.buttonEnabled[nbSkip]);
  TNVForm details = MakeForm("DetailsForm");
  EXPECT_EQ(details.title, "Error Details");
  EXPECT_TRUE(details.buttonEnabled[nbSkip]);
  TNVForm shot = MakeForm("ScrShotForm");
  EXPECT_EQ(shot.title, "Screenshot Configuration");
  EXPECT_EQ(shot.timerPeriodMs, 250);
  EXPECT_EQ(shot.activeItem, "Continue");
  EXPECT_TRUE(MakeForm("Nope").name.empty());
}

TEST(AssistantPages, ContinueNeedsAValidAddressAndTheRequiredDescription) {
  TNVForm contact = MakeForm("ContactForm");
  EXPECT_FALSE(ContinueEnabled(contact, {}));
  EXPECT_FALSE(ContinueEnabled(contact, {{"EmailEdit", "user@example"}}));
  EXPECT_FALSE(ContinueEnabled(contact, {{"EmailEdit", " user@example.org"}}));
  EXPECT_TRUE(ContinueEnabled(contact, {{"EmailEdit", "user@example.org"}}));  // the name is optional
  TNVForm details = MakeForm("DetailsForm");
  EXPECT_FALSE(ContinueEnabled(details, {{"DetailsMemo", ""}}));
  EXPECT_TRUE(ContinueEnabled(details, {{"DetailsMemo", "x"}}));
}

// Every page at the usual scales, with a text font of the scale's size and a
// bold title font that may be taller than its place.
TEST(AssistantLayout, NoControlOverlapsAnotherOrLeavesTheClientAndTheTitleIsNeverClipped) {
  for (const char* page : {"ContactForm", "DetailsForm", "ScrShotForm"})
    for (int dpi : {96, 120, 144, 192})
      for (int titleGrowth : {0, 12}) {
        SCOPED_TRACE(std::string(page) + " at " + std::to_string(dpi) + " +" + std::to_string(titleGrowth));
        const TNVForm form = MakeForm(page);
        const int text = ScaleToDpi(13, dpi), title = text + titleGrowth;
        const PageLayout layout = LayOutPage(form, dpi, title, text);
        ASSERT_EQ(layout.items.size(), form.items.size());
        EXPECT_GE(layout.title.height, title);
        std::vector<TBounds> all(layout.items);
        all.push_back(layout.title);
        all.insert(all.end(), std::begin(layout.buttons), std::end(layout.buttons));
        for (std::size_t i = 0; i < all.size(); ++i) {
          const TBounds& a = all[i];
          EXPECT_TRUE(a.left >= 0 && a.top >= 0 && a.Right() <= layout.clientWidth && a.Bottom() <= layout.clientHeight)
              << "control " << i;
          EXPECT_GE(a.height, i < form.items.size() && form.items[i].kind == ItemKind::Image ? 1 : text) << i;
          for (std::size_t j = i + 1; j < all.size(); ++j) {
            const TBounds& b = all[j];
            const bool apart = a.Right() <= b.left || b.Right() <= a.left || a.Bottom() <= b.top || b.Bottom() <= a.top;
            EXPECT_TRUE(apart) << "controls " << i << " and " << j;
          }
        }
      }
}

TEST(AssistantOutputs, HeaderFieldsAtTheInsertionIndexAndTheDetailsAsTheirOwnSection) {
  NullLockFactory locks;
  BugReport report(locks);
  report.Header().Set("date/time", "d");
  report.Header().Set("callstack crc", "will be calculated soon");
  report.Header().Set("exception class", "E");
  report.Header().SetInsertionIndexBefore("callstack crc");
  report.Sections().Set("main thread ($1)", "00401000 x.exe");

  std::vector<AssistantOutput> outputs = CollectOutputs(
      MakeForm("ContactForm"), {{"NameEdit", "Tess"}, {"EmailEdit", "t@e.org"}, {"MemCheck", "1"}});
  std::vector<AssistantOutput> details = CollectOutputs(MakeForm("DetailsForm"), {{"DetailsMemo", "line 1\r\nline 2"}});
  outputs.insert(outputs.end(), details.begin(), details.end());
  ApplyAssistantOutputs(report, outputs);

  Fields header = report.Header().Snapshot();
  ASSERT_EQ(header.size(), 5u);
  EXPECT_EQ(header[1], Field("contact name", "Tess"));
  EXPECT_EQ(header[2], Field("contact email", "t@e.org"));
  EXPECT_EQ(header[3].first, "callstack crc");
  EXPECT_EQ(report.Sections().Get("error details"), "line 1\r\nline 2");
  EXPECT_NE(report.Text().find("\r\n\r\nerror details:\r\nline 1\r\nline 2"), std::string::npos);
}

TEST(AssistantOutputs, CheckBoxesBecomeYesOrNoAndEmptyEditsAddNothing) {
  NullLockFactory locks;
  BugReport report(locks);
  report.Header().Set("contact name", "kept");
  ApplyAssistantOutputs(report, {{"contact name", "", OutputKind::HeaderField, 1, false},
                                 {"wants reply", "1", OutputKind::HeaderField, 1, true},
                                 {"newsletter", "", OutputKind::HeaderField, 1, true}});
  EXPECT_EQ(report.Header().Get("contact name"), "kept");
  EXPECT_EQ(report.Header().Get("wants reply"), "yes");
  EXPECT_EQ(report.Header().Get("newsletter"), "no");
}

TEST(AssistantOutputs, SenderIsNameAndAddressInAngleBracketsOrTheBareAddress) {
  EXPECT_EQ(ContactSender("Tess Tester", "t@e.org"), "Tess Tester <t@e.org>");
  EXPECT_EQ(ContactSender("  ", "t@e.org"), "t@e.org");
}

TEST(FormCacheTest, KeepsTheInputsOfEachPage) {
  FormCache cache;
  EXPECT_TRUE(cache.Get("ContactForm").empty());
  cache.Put("ContactForm", {{"NameEdit", "Tess"}});
  EXPECT_EQ(cache.Get("ContactForm").at("NameEdit"), "Tess");
}
