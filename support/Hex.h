// Hex text of report payloads: two digits per byte, no separator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Two upper-case digits per byte, high digit first; no bytes give "".
std::string BytesToHex(const std::uint8_t* bytes, std::size_t count);

// Drops every blank, then converts pairs from the start; an odd last digit is
// dropped. Either case is accepted. A pair that is not two hex digits throws
// EConvertError "'$xy' is not a valid integer value".
Bytes HexToBytes(const std::string& text);
