#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "toolkit/WindowDescription.h"

namespace {

TEST(WindowDescription, KeepsItemsAndPropertiesInOrder) {
  const DescItem form = ParseWindowDescription(
      "# comment\n"
      "form frmMain {\n"
      "  Caption = \"a \\\"quoted\\\" \\\\ text\"\n"
      "  Width = -499\n"
      "  BorderIcons = SystemMenu, Minimize\n"
      "  Font = \"face\", 12, #5B5B5B\n"
      "  label lblA {\n"
      "    Left = 1\n"
      "  }\n"
      "  component Client TClientSocket {\n"
      "  }\n"
      "}\n");
  EXPECT_EQ(form.kind, "form");
  EXPECT_EQ(form.name, "frmMain");
  ASSERT_EQ(form.properties.size(), 4u);
  EXPECT_EQ(form.properties[0].First().text, "a \"quoted\" \\ text");
  EXPECT_EQ(form.properties[1].First().number, -499);
  ASSERT_EQ(form.properties[2].values.size(), 2u);
  EXPECT_EQ(form.properties[2].values[1].text, "Minimize");
  EXPECT_EQ(form.properties[3].values[2].kind, DescValue::Color);
  EXPECT_EQ(form.properties[3].values[2].number, 0x5B5B5B);
  ASSERT_EQ(form.children.size(), 2u);
  EXPECT_EQ(form.children[0].name, "lblA");
  EXPECT_EQ(form.children[1].className, "TClientSocket");
  EXPECT_EQ(form.Find("Width")->line, 4);
  EXPECT_EQ(form.Find("Height"), nullptr);
}

TEST(WindowDescription, MalformedInputFailsWithTheLine) {
  const char* bad[] = {
      "",                                 // no item
      "form a {\n",                       // not closed
      "}\n",                              // nothing open
      "form a {\n}\nform b {\n}\n",       // two top-level items
      "form a {\n X \n}\n",               // no '='
      "form a {\n X = \"open\n}\n",       // text not closed
      "form a {\n X = #12345\n}\n",       // short colour
      "form a {\n X = 1 2\n}\n",          // no ',' between values
      "form a {\n X = 1234567890123\n}\n",  // number too long
      "form a {\n X = \"\\n\"\n}\n",      // unknown escape
      "Caption = \"x\"\n",                // property outside an item
  };
  for (const char* text : bad) EXPECT_THROW(ParseWindowDescription(text), DescriptionError) << text;
  try {
    ParseWindowDescription("form a {\n\n  X = \n}\n");
    FAIL();
  } catch (const DescriptionError& e) {
    EXPECT_NE(std::string(e.what()).find("line 3"), std::string::npos) << e.what();
  }
}

TEST(WindowDescription, TheAgentsOwnDescriptionParses) {
  std::ifstream file(QEX_SOURCE_DIR "/app/frmMains.desc");
  ASSERT_TRUE(file.good());
  std::stringstream text;
  text << file.rdbuf();
  const DescItem form = ParseWindowDescription(text.str());
  // Visible controls in field order, then the non-visual components.
  std::vector<std::string> names;
  for (const DescItem& item : form.children) names.push_back(item.name);
  const std::vector<std::string> expected = {
      "img1",     "img2", "img3", "lblSend",       "lblRecv", "lblJoyStatus", "lblNetStatus",
      "lblAddress", "btnConfig", "lblVersion", "chkAutoRun", "btn1", "btn2", "HidController",
      "Client",   "tmrKeepLive", "tmrConnect", "tmrDelayGetStatus", "XPManifest1"};
  EXPECT_EQ(names, expected);
  EXPECT_EQ(form.Find("Width")->First().number, 499);
  EXPECT_EQ(form.Find("Height")->First().number, 213);
}

}  // namespace
