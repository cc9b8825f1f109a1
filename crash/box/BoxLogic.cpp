#include "crash/box/BoxLogic.h"

#include <algorithm>

#include "crash/report/ReportText.h"
#include "support/Text.h"

namespace {

bool IsHexWord(const std::string& text) {
  if (text.size() < 8) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

}  // namespace

std::string SectionTabTitle(const std::string& section) {
  if (section == "cpu registers") return "cpu regs";
  if (section == "disassembling") return "disasm";
  return section;
}

bool IsThreadSectionTitle(const std::string& title) {
  if (title.rfind("thread $", 0) == 0) return true;
  const auto open = title.rfind(" ($");
  return open != std::string::npos && !title.empty() && title.back() == ')';
}

std::vector<BoxTab> BuildBoxTabs(const Fields& sections) {
  std::vector<BoxTab> tabs;
  tabs.push_back({"general", std::string(), false});
  for (std::size_t i = 0; i < sections.size(); ++i) {
    BoxTab tab;
    tab.section = sections[i].first;
    tab.callStack = i == 0 || IsThreadSectionTitle(tab.section);
    tab.title = i == 0 ? "call stack" : SectionTabTitle(tab.section);
    tabs.push_back(tab);
  }
  return tabs;
}

std::vector<std::vector<std::string>> SplitCallStackColumns(const std::string& content, std::size_t maxColumns) {
  std::vector<std::string> lines = SplitLines(content);
  std::vector<std::vector<std::string>> rows;
  bool callStack = !lines.empty();
  for (const std::string& line : lines) {
    if (!IsHexWord(line.substr(0, line.find(' ')))) callStack = false;
  }
  if (!callStack || maxColumns < 2) {
    for (const std::string& line : lines) rows.push_back({line});
    return rows;
  }
  std::size_t width = 0;
  for (const std::string& line : lines) width = std::max(width, line.size());
  // Byte positions: call-stack cells are padded by code points, so a line
  // with non-ASCII names shifts; such lines are split by their own blanks
  // at the same column count (good enough for a view).
  std::vector<bool> blank(width, true);
  for (const std::string& line : lines)
    for (std::size_t i = 0; i < line.size(); ++i)
      if (line[i] != ' ') blank[i] = false;
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  for (std::size_t i = 0; i < width;) {
    if (blank[i]) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < width && !blank[end]) ++end;
    spans.push_back({i, end});
    i = end;
  }
  if (spans.size() > maxColumns) {
    spans[maxColumns - 1].second = spans.back().second;
    spans.resize(maxColumns);
  }
  for (const std::string& line : lines) {
    std::vector<std::string> row;
    for (std::size_t c = 0; c < spans.size(); ++c) {
      const std::size_t from = spans[c].first;
      const std::size_t to = c + 1 == spans.size() ? line.size() : spans[c].second;
      std::string cell = from < line.size() ? line.substr(from, std::min(to, line.size()) - from) : std::string();
      row.push_back(TrimRightBlanks(cell));
    }
    rows.push_back(row);
  }
  return rows;
}

BoxChoice CloseChoice(int focusedBtn, bool continueVisible, bool canContinue, bool restartVisible,
                      bool closeVisible) {
  if (focusedBtn == bbContinue && canContinue) return BoxChoice::Continue;
  if (focusedBtn == bbRestart) return BoxChoice::Restart;
  if (focusedBtn == bbClose) return BoxChoice::Close;
  if (continueVisible && canContinue) return BoxChoice::Continue;
  if (closeVisible) return BoxChoice::Close;
  if (restartVisible) return BoxChoice::Restart;
  return BoxChoice::Close;
}

std::string HeaderPart(const std::string& reportText) {
  const auto end = reportText.find("\r\n\r\n");
  return end == std::string::npos ? reportText : reportText.substr(0, end);
}

std::string SectionPart(const std::string& reportText, const std::string& title) {
  std::string content;
  ReadSection(reportText, title, &content);
  return content;
}
