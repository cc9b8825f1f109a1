#include <cstddef>
#include <cstdint>
#include <string>

#include "toolkit/WindowDescription.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    ParseWindowDescription(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const DescriptionError&) {
  }
  return 0;
}
