#include "toolkit/DescriptionValues.h"

namespace {

[[noreturn]] void Fail(const DescProperty& property, const std::string& what) {
  throw DescriptionError("line " + std::to_string(property.line) + ": " + what);
}

const DescValue& ValueAt(const DescProperty& property, std::size_t index, const char* expected) {
  if (index >= property.values.size()) Fail(property, std::string("expected ") + expected);
  return property.values[index];
}

}  // namespace

bool DescBool(const DescProperty& property) {
  const std::string& text = ValueAt(property, 0, "true or false").text;
  if (text == "true") return true;
  if (text == "false") return false;
  Fail(property, "expected true or false");
}

int DescInt(const DescProperty& property, std::size_t index) {
  const DescValue& value = ValueAt(property, index, "a number");
  if (value.kind != DescValue::Integer) Fail(property, "expected a number");
  return static_cast<int>(value.number);  // the parser takes at most 9 digits
}

TColor DescColor(const DescProperty& property, std::size_t index) {
  const DescValue& value = ValueAt(property, index, "a colour");
  // A text or a name carries no number: it would silently be black.
  if (value.kind != DescValue::Color && value.kind != DescValue::Integer) Fail(property, "expected a colour #RRGGBB");
  const auto rgb = static_cast<std::uint32_t>(value.number);
  return MakeColor(rgb >> 16, rgb >> 8, rgb);
}

TFont DescFont(const DescProperty& property, const TFont& base) {
  if (property.values.empty() || property.values[0].kind != DescValue::Text)
    Fail(property, "expected Font = \"face\", height");
  TFont font = base;
  font.name = property.values[0].text;
  if (property.values.size() > 1) font.height = DescInt(property, 1);
  if (property.values.size() > 2) font.color = DescColor(property, 2);
  return font;
}

TAlignment DescAlignment(const DescProperty& property) {
  const std::string& text = ValueAt(property, 0, "an alignment").text;
  if (text == "Center") return TAlignment::Center;
  if (text == "Right") return TAlignment::Right;
  return TAlignment::Left;
}

unsigned DescBorderIcons(const DescProperty& property) {
  unsigned icons = 0;
  for (const DescValue& value : property.values) {
    if (value.text == "SystemMenu") icons |= biSystemMenu;
    else if (value.text == "Minimize") icons |= biMinimize;
    else if (value.text == "Maximize") icons |= biMaximize;
  }
  return icons;
}
