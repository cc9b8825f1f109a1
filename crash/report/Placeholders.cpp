#include "crash/report/Placeholders.h"

#include <cstring>

namespace {

struct Entry {
  const char* name;
  std::string (*value)(const PlaceholderValues&);
};

const Entry kEntries[] = {
    {"%appname%", [](const PlaceholderValues& v) { return v.app_name; }},
    {"%modname%", [](const PlaceholderValues& v) { return v.mod_name; }},
    {"%appversion%", [](const PlaceholderValues& v) { return v.app_version; }},
    {"%modversion%", [](const PlaceholderValues& v) { return v.mod_version; }},
    {"%exceptClass%", [](const PlaceholderValues& v) { return v.except_class; }},
    {"%exceptMsg%",
     [](const PlaceholderValues& v) { return v.except_msg.empty() ? std::string("Unknown") : v.except_msg; }},
    {"%bugReport%", [](const PlaceholderValues& v) { return v.bug_report; }},
    {"%errorDetails%", [](const PlaceholderValues& v) { return v.error_details; }},
    {"%LF%", [](const PlaceholderValues&) { return std::string("\r\n"); }},
    {"%date%", [](const PlaceholderValues& v) { return FormatDate(v.now); }},
    {"%time%", [](const PlaceholderValues& v) { return FormatTime(v.now); }},
    {"%datetime%", [](const PlaceholderValues& v) { return FormatDate(v.now) + ", " + FormatTime(v.now); }},
    {"%computerName%", [](const PlaceholderValues& v) { return v.computer_name; }},
    {"%os%", [](const PlaceholderValues& v) { return v.os; }},
    {"%desktop%", [](const PlaceholderValues& v) { return v.desktop; }},
    {"%userappdata%", [](const PlaceholderValues& v) { return v.user_app_data; }},
    {"%commonappdata%", [](const PlaceholderValues& v) { return v.common_app_data; }},
};

}  // namespace

std::string ExpandPlaceholders(const std::string& text, const PlaceholderValues& values) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '%') {
      const Entry* hit = nullptr;
      for (const Entry& entry : kEntries)
        if (text.compare(i, std::strlen(entry.name), entry.name) == 0) {
          hit = &entry;
          break;
        }
      if (hit) {
        out += hit->value(values);
        i += std::strlen(hit->name);
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}
