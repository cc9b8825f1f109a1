#include <cstddef>
#include <cstdint>
#include <string>

#include "toolkit/DescriptionValues.h"
#include "toolkit/WindowDescription.h"

namespace {

// Every typed reading of every property, as the form's loader may ask it.
void ReadAll(const DescItem& item) {
  for (const DescProperty& p : item.properties) {
    for (std::size_t index = 0; index < 3; ++index) {
      try {
        DescInt(p, index);
      } catch (const DescriptionError&) {
      }
      try {
        DescColor(p, index);
      } catch (const DescriptionError&) {
      }
    }
    try {
      DescBool(p);
    } catch (const DescriptionError&) {
    }
    try {
      DescFont(p, TFont());
    } catch (const DescriptionError&) {
    }
    DescAlignment(p);
    DescBorderIcons(p);
  }
  for (const DescItem& child : item.children) ReadAll(child);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    ReadAll(ParseWindowDescription(std::string(reinterpret_cast<const char*>(data), size)));
  } catch (const DescriptionError&) {
  }
  return 0;
}
