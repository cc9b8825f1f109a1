// How device-registry property buffers become fields. Pure logic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A text property: the bytes up to the first zero byte (all of them when
// there is none).
std::string PropertyText(const char* buffer, std::size_t size);
// A text-list property: the zero-terminated texts from the start, in order,
// until an empty text or the end of the buffer.
std::vector<std::string> PropertyTextList(const char* buffer, std::size_t size);
// A number property: the buffer's four bytes, little-endian.
std::uint32_t PropertyNumber(const unsigned char (&buffer)[4]);
