#include "crash/report/Utf8.h"

#include <cstdint>

namespace {

// Length of the valid sequence at data[i], 0 when invalid; code point in *cp.
std::size_t DecodeOne(const unsigned char* data, std::size_t size, std::size_t i, std::uint32_t* cp) {
  const unsigned char b = data[i];
  if (b < 0x80) {
    *cp = b;
    return 1;
  }
  std::size_t length;
  std::uint32_t value, minimum;
  if ((b & 0xE0) == 0xC0) {
    length = 2, value = b & 0x1F, minimum = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    length = 3, value = b & 0x0F, minimum = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    length = 4, value = b & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (size - i < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char c = data[i + k];
    if ((c & 0xC0) != 0x80) return 0;
    value = (value << 6) | (c & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *cp = value;
  return length;
}

}  // namespace

bool IsValidUtf8(const char* data, std::size_t size) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  std::uint32_t cp;
  for (std::size_t i = 0; i < size;) {
    const std::size_t n = DecodeOne(bytes, size, i, &cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string SanitizeUtf8(const std::string& text) {
  if (IsValidUtf8(text)) return text;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::string out;
  out.reserve(text.size() + 8);
  std::uint32_t cp;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = DecodeOne(bytes, text.size(), i, &cp);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

std::size_t Utf8Length(const std::string& text) {
  std::size_t count = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++count;
  return count;
}

std::string Utf8ToUtf16leBytes(const std::string& text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::string out;
  out.reserve(text.size() * 2);
  auto put = [&out](std::uint32_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>((unit >> 8) & 0xFF);
  };
  std::uint32_t cp;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n = DecodeOne(bytes, text.size(), i, &cp);
    if (n == 0) {
      cp = 0xFFFD;
      n = 1;
    }
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}
