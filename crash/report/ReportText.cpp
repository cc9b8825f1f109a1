#include "crash/report/ReportText.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "crash/report/Utf8.h"
#include "support/Text.h"

namespace {

const char kLineBreak[] = "\r\n";
const char kBlankLine[] = "\r\n\r\n";

std::string Pad(const std::string& text, std::size_t width) {
  const std::size_t length = Utf8Length(text);
  return length >= width ? text : text + std::string(width - length, ' ');
}

std::string HeaderPart(const std::string& text) {
  const std::size_t end = text.find(kBlankLine);
  return end == std::string::npos ? text : text.substr(0, end);
}

// Position and length of the header line named `name`, npos when absent.
std::size_t FindHeaderLine(const std::string& header, const std::string& name, std::size_t* length,
                           std::size_t* value_at) {
  std::size_t start = 0;
  while (start <= header.size()) {
    std::size_t end = header.find(kLineBreak, start);
    if (end == std::string::npos) end = header.size();
    const std::size_t colon = header.find(": ", start);
    if (colon != std::string::npos && colon < end &&
        TrimRightBlanks(header.substr(start, colon - start)) == name) {
      *length = end - start;
      *value_at = colon + 2;
      return start;
    }
    if (end == header.size()) break;
    start = end + 2;
  }
  return std::string::npos;
}

}  // namespace

std::string FlattenHeaderValue(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
      c = ' ';
    }
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out += c;
  }
  return out;
}

std::string RenderReportText(const Fields& header, const Fields& sections) {
  std::size_t width = 0;
  for (const Field& field : header) width = std::max(width, Utf8Length(field.first));
  std::string text;
  for (std::size_t i = 0; i < header.size(); ++i) {
    if (i > 0) text += kLineBreak;
    text += Pad(header[i].first, width + 1) + ": " + FlattenHeaderValue(header[i].second);
  }
  for (const Field& section : sections) {
    text += kBlankLine;
    text += section.first;
    if (section.first.find(':') == std::string::npos) text += ':';
    for (const std::string& line : SplitLines(section.second)) {
      const std::string trimmed = TrimRightBlanks(line);
      text += kLineBreak;
      text += trimmed.empty() ? std::string(".") : trimmed;
    }
  }
  return text;
}

bool ReadHeaderField(const std::string& text, const std::string& name, std::string* value) {
  const std::string header = HeaderPart(text);
  std::size_t length = 0, value_at = 0;
  const std::size_t at = FindHeaderLine(header, name, &length, &value_at);
  if (at == std::string::npos) return false;
  if (value) *value = header.substr(value_at, at + length - value_at);
  return true;
}

std::string HeaderField(const std::string& text, const std::string& name) {
  std::string value;
  return ReadHeaderField(text, name, &value) ? value : std::string();
}

bool ReadSection(const std::string& text, const std::string& title, std::string* content) {
  std::string marker = kBlankLine + title;
  if (title.find(':') == std::string::npos) marker += ':';
  std::size_t from = 0;
  while (true) {
    const std::size_t at = text.find(marker, from);
    if (at == std::string::npos) return false;
    std::size_t begin = at + marker.size();
    if (begin == text.size()) {
      if (content) content->clear();
      return true;
    }
    if (text.compare(begin, 2, kLineBreak) == 0) {
      begin += 2;
      std::size_t end = text.find(kBlankLine, begin);
      if (end == std::string::npos) end = text.size();
      if (content) *content = text.substr(begin, end - begin);
      return true;
    }
    from = at + 1;  // a longer title that starts with this one
  }
}

std::string InsertHeaderLine(const std::string& text, const std::string& after,
                             const std::string& name, const std::string& value) {
  const std::string header = HeaderPart(text);
  const std::string rest = text.substr(header.size());
  std::size_t length = 0, value_at = 0;

  // Replace an existing line in place.
  std::size_t at = FindHeaderLine(header, name, &length, &value_at);
  if (at != std::string::npos)
    return header.substr(0, value_at) + FlattenHeaderValue(value) + header.substr(at + length) + rest;

  std::size_t width = Utf8Length(name) + 1;
  std::size_t insert_at = header.size();
  at = FindHeaderLine(header, after, &length, &value_at);
  if (at != std::string::npos) {
    // value_at - 2 is where the padded name ends.
    width = std::max(width, Utf8Length(header.substr(at, value_at - 2 - at)));
    insert_at = at + length;
  }
  std::string line = Pad(name, width) + ": " + FlattenHeaderValue(value);
  if (header.empty()) return line + rest;
  return header.substr(0, insert_at) + kLineBreak + line + header.substr(insert_at) + rest;
}
