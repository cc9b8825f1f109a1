// Arbitrary bytes from the network, cut into reads at arbitrary places,
// through the receiver and the hex decoding of every code it finds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/LinkProtocol.h"
#include "support/Exceptions.h"
#include "support/Hex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the read length, so splits land everywhere.
  const std::size_t step = 1 + data[0] % 17;
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  const std::size_t length = size - 1;

  TLinkReceiver receiver;
  std::vector<std::string> codes;
  for (std::size_t at = 0; at < length; at += step) {
    const std::size_t n = length - at < step ? length - at : step;
    receiver.Feed(bytes + at, n, codes);
    if ((data[0] & 0x80) && receiver.AwaitsGrace()) receiver.Flush(codes);
  }
  receiver.Flush(codes);
  for (const std::string& code : codes) {
    try {
      const Bytes decoded = HexToBytes(code);
      if (decoded.size() > code.size() / 2) __builtin_trap();
    } catch (const EConvertError&) {
    }
  }
  // The whole input as one hex text, too.
  try {
    HexToBytes(std::string(bytes, length));
  } catch (const EConvertError&) {
  }
  return 0;
}
