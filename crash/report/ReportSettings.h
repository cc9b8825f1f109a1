// The crash reporter's settings: fixed values of three kinds, looked up by
// name. The names and kinds are known here; the values come from the settings
// block (ReportSettings.txt) that the program carries as a resource.
//
// Block format, one setting a line: `Name = on|off`, `Name = 123` or
// `Name = "text"` (escapes \\ \" \r \n \t). Blank lines and lines starting
// with '#' are ignored; CR LF or LF line ends; a UTF-8 byte-order mark is
// skipped. Every known setting must appear exactly once.
//
// A ReportSettings object is a plain value: each exception takes a copy and
// changes it for itself. Not synchronised.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/Exceptions.h"

// A settings block that does not parse, or a lookup of a name that is not a
// setting of that kind.
QEX_DECLARE_EXCEPTION(EReportSettingsError, Exception);

enum class SettingKind { OnOff, Number, Text };

struct SettingDefinition {
  const char* name;
  SettingKind kind;
};

class ReportSettings {
 public:
  // Every known setting, in the block's order.
  static const std::vector<SettingDefinition>& Known();

  // Throws EReportSettingsError "Internal error: Invalid settings resource
  // (<detail>)." when the block does not parse.
  static ReportSettings Parse(const void* data, std::size_t size);

  bool IsOn(const std::string& name) const;
  std::int64_t Number(const std::string& name) const;
  const std::string& Text(const std::string& name) const;

  void SetOn(const std::string& name, bool value);
  void SetNumber(const std::string& name, std::int64_t value);
  void SetText(const std::string& name, const std::string& value);

  bool Has(const std::string& name) const;

 private:
  struct Value {
    std::string name;
    SettingKind kind;
    bool set = false;
    bool on = false;
    std::int64_t number = 0;
    std::string text;
  };

  ReportSettings();
  Value& Find(const std::string& name, SettingKind kind);
  const Value& Find(const std::string& name, SettingKind kind) const;

  std::vector<Value> values_;
};

// The items of a list-valued setting ("modules|processes|hardware",
// "EDBEditError, EOther"): split at any of `separators`, blanks around each
// item dropped, empty items left out.
std::vector<std::string> SettingListItems(const std::string& text, const char* separators);
