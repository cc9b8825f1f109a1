#include "hid/PnPBuffers.h"

#include <cstring>

std::string PropertyText(const char* buffer, std::size_t size) {
  const void* zero = std::memchr(buffer, 0, size);
  const std::size_t length = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - buffer) : size;
  return std::string(buffer, length);
}

std::vector<std::string> PropertyTextList(const char* buffer, std::size_t size) {
  std::vector<std::string> list;
  std::size_t at = 0;
  while (at < size) {
    std::string item = PropertyText(buffer + at, size - at);
    if (item.empty()) break;
    at += item.size() + 1;  // a last text without its zero ends the buffer
    list.push_back(std::move(item));
  }
  return list;
}

std::uint32_t PropertyNumber(const unsigned char (&buffer)[4]) {
  return static_cast<std::uint32_t>(buffer[0]) | static_cast<std::uint32_t>(buffer[1]) << 8 |
         static_cast<std::uint32_t>(buffer[2]) << 16 | static_cast<std::uint32_t>(buffer[3]) << 24;
}
