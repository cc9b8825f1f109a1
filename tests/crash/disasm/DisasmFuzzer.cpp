// Untrusted bytes through the decoder, the listing and the table parser:
// nothing may crash, read outside the input, or report an impossible length.
#include <cstdlib>
#include <vector>

#include "crash/disasm/Disassembly.h"
#include "crash/disasm/SymbolTable.h"
#include "crash/disasm/X86Decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::uint8_t selector = data[0];
  // A copy of exactly the rest, so ASan sees any read past its end.
  std::vector<std::uint8_t> bytes(data + 1, data + size);
  CpuMode mode = (selector & 1) ? CpuMode::X64 : CpuMode::X86;

  switch ((selector >> 1) % 3) {
    case 0: {
      std::size_t offset = 0;
      while (offset < bytes.size()) {
        DecodedInstruction decoded =
            DecodeInstruction(bytes.data() + offset, bytes.size() - offset, 0x401000 + offset, mode);
        if (decoded.length < 1 || decoded.length > 15 || decoded.length > bytes.size() - offset ||
            decoded.text.empty())
          std::abort();
        offset += decoded.length;
      }
      break;
    }
    case 1: {
      if (bytes.empty()) break;
      CodeWindow code{bytes.data(), bytes.size(), 0x401000};
      DisassemblyOptions options;
      options.mode = mode;
      options.limit = selector >> 5;
      std::size_t fault = bytes[0] % bytes.size();
      options.haveFunctionStart = (selector & 0x10) != 0;
      options.functionStart = 0x401000 + (bytes.size() > 1 ? bytes[1] % bytes.size() : 0);
      std::vector<std::string> lines = DisassembleAround(code, 0x401000 + fault, options);
      if (lines.empty() || lines.size() > 2 * std::size_t{options.limit} + 1) std::abort();
      break;
    }
    default: {
      SymbolTable table;
      if (table.Parse(bytes.data(), bytes.size())) {
        for (std::uint32_t rva : {0u, 0x1000u, 0x1234u, 0xFFFFFFFFu}) {
          SymbolInfo info = table.Lookup(rva);
          if (info.hasFunction && info.functionStart > rva) std::abort();
          table.LookupCaller(rva);
        }
      }
      break;
    }
  }
  return 0;
}
