// Decisions of the report box that need no window: which tabs it shows and
// their titles, how a call-stack section splits into list columns, and what
// closing the box means.
#pragma once

#include <string>
#include <vector>

#include "crash/report/FieldList.h"

enum class BoxChoice { Continue, Restart, Close };

// Button indexes of the box.
enum BoxButton : int {
  bbSend = 0, bbSave = 1, bbPrint = 2, bbShow = 3, bbContinue = 4, bbRestart = 5, bbClose = 6,
  kBoxButtonCount = 7,
};

// Action codes fired to the crash reporter's action handlers.
enum BoxAction : int {
  baSend = 0, baSave = 1, baPrint = 2,
  baSendAssistantDone = 3, baSaveAssistantDone = 4, baPrintAssistantDone = 5,
  baSent = 6, baSaved = 7, baPrinted = 8,
  baShowBugReport = 9, baHelp = 10,
  baContinue = 11, baRestart = 12, baClose = 13,
};

struct BoxTab {
  std::string title;    // "general", "call stack", "cpu regs", ...
  std::string section;  // the section shown; empty for the header
  bool callStack = false;
};

// "general", "call stack" (the first section, the raising thread), then one
// tab per further section; thread sections (call stacks) show as lists.
std::vector<BoxTab> BuildBoxTabs(const Fields& sections);
// "cpu registers" shows as "cpu regs", "disassembling" as "disasm".
std::string SectionTabTitle(const std::string& section);
// Thread sections: "main thread ($1a2b)", "thread $1a2b", "name ($id)".
bool IsThreadSectionTitle(const std::string& title);

// A call-stack section split into its columns. Columns are padded to their
// widest entry, so a column boundary is a position blank on every line; a
// section that is not a call stack (the pending placeholder) comes back as
// one column. At most `maxColumns`: extra splits stay in the last column
// (function names may hold blanks).
std::vector<std::vector<std::string>> SplitCallStackColumns(const std::string& content,
                                                            std::size_t maxColumns = 7);

// Closing from the title bar or Escape. FocusedBtn 4, 5, 6 choose their own
// action; otherwise continue when possible, else close, else restart, else
// (the plain box) close.
BoxChoice CloseChoice(int focusedBtn, bool continueVisible, bool canContinue, bool restartVisible,
                      bool closeVisible);

// The header as the "general" tab shows it: the header part of the text.
std::string HeaderPart(const std::string& reportText);
// A section's content as text lines for an edit control (CR LF already).
std::string SectionPart(const std::string& reportText, const std::string& title);
