// The text form of a bug report and reading it back.
//
// Header: one line per field, the name padded to the longest name plus one,
// ": ", the value on one line. Each section: a blank line, the title with a
// colon, then its lines; an empty line is written as "." so that a blank line
// only ever separates sections (and, in the bug-report file, reports). No
// trailing line break.
#pragma once

#include <string>

#include "crash/report/FieldList.h"

std::string RenderReportText(const Fields& header, const Fields& sections);

// A header value on one line: every CR LF, CR and LF becomes a blank, every
// run of blanks one blank.
std::string FlattenHeaderValue(const std::string& value);

// The value of the header line named `name` (the alignment blanks ignored).
// Only the header, the part before the first blank line, is searched.
bool ReadHeaderField(const std::string& text, const std::string& name, std::string* value);
std::string HeaderField(const std::string& text, const std::string& name);

// The content of the section titled `title`: up to the next blank line or the
// end of the text.
bool ReadSection(const std::string& text, const std::string& title, std::string* content);

// Inserts (or replaces) a header line directly after the line of `after`
// (at the end of the header when that line is missing), padded like it.
std::string InsertHeaderLine(const std::string& text, const std::string& after,
                             const std::string& name, const std::string& value);
