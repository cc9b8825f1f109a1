// Window descriptions: the stored layout a form is built from.
//
// The text form, one item a line:
//   # a comment
//   <kind> <name> [<class>] {      opens an item (the form or a component)
//   <Property> = <value>           a property of the innermost open item
//   }                              closes it
// A value is a "quoted text" (\" and \\ escape), an integer, #RRGGBB, an
// identifier, or a comma-separated list of those. Items keep their order:
// components are created in description order.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

struct DescValue {
  enum Kind { Text, Integer, Color, Identifier };
  Kind kind = Text;
  std::string text;      // Text and Identifier (and the source of the others)
  std::int64_t number = 0;  // Integer; Color as 0xRRGGBB
};

struct DescProperty {
  std::string key;
  std::vector<DescValue> values;  // one or more (a list)
  int line = 0;

  const DescValue& First() const { return values.front(); }
};

struct DescItem {
  std::string kind;       // "form", "label", "timer", "component", ...
  std::string name;       // "frmMain", "lblSend", ...
  std::string className;  // optional: "TClientSocket"
  std::vector<DescProperty> properties;
  std::vector<DescItem> children;

  const DescProperty* Find(const std::string& key) const;
};

class DescriptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses a whole description (one top-level item). Throws DescriptionError
// with the line number on malformed input; never reads outside the text.
DescItem ParseWindowDescription(const std::string& text);
