// Property buffers come from the platform: any bytes must parse within them.
#include <cstddef>
#include <cstdint>

#include "hid/PnPBuffers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  std::size_t total = 0;
  for (const std::string& item : PropertyTextList(text, size)) {
    if (item.empty()) __builtin_trap();
    total += item.size() + 1;
  }
  if (total > size + 1) __builtin_trap();
  if (PropertyText(text, size).size() > size) __builtin_trap();
  return 0;
}
