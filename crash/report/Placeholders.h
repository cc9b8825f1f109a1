// Placeholders in the texts of the settings (box title, messages, mail
// subject and body, file names). The caller gathers the values; expansion
// itself makes no platform call.
#pragma once

#include <string>

#include "crash/report/HeaderFields.h"

struct PlaceholderValues {
  std::string app_name;        // %appname%: executable file name with extension
  std::string mod_name;        // %modname%
  std::string app_version;     // %appversion% (see ChooseVersionText, fallback "?")
  std::string mod_version;     // %modversion%
  std::string except_class;    // %exceptClass%
  std::string except_msg;      // %exceptMsg% ("Unknown" when empty)
  std::string bug_report;      // %bugReport%
  std::string error_details;   // %errorDetails%
  LocalTime now;               // %date%, %time%, %datetime%
  std::string computer_name;   // %computerName%
  std::string os;              // %os%
  std::string desktop;         // %desktop%
  std::string user_app_data;   // %userappdata%
  std::string common_app_data; // %commonappdata%
};

// Replaces every placeholder in one pass from left to right: text that a
// value brings in (an exception message holding "%LF%", say) is not expanded
// again. Unknown "%...%" runs stay as they are.
std::string ExpandPlaceholders(const std::string& text, const PlaceholderValues& values);
