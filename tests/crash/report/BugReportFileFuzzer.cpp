// Random bug-report files against the duplicate search and trimming: nothing
// may crash, and the new report must always end up whole at the end.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ReportFixtures.h"
#include "crash/report/BugReportFile.h"

namespace {

const std::string& NewReport() {
  static const std::string report = MakeReport();
  return report;
}

// Byte 0xFE in the input stands for a stored copy of the same fault, so the
// fuzzer reaches the comparison and the cut without having to guess a report.
std::string Expand(const std::uint8_t* data, std::size_t size) {
  std::string file;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFE)
      file += NewReport();
    else
      file += static_cast<char>(data[i]);
  }
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  BugReportSaveOptions options;
  // A small limit makes trimming happen on short inputs.
  options.size_limit = data[0] & 1 ? 100000 : 1 + (data[0] >> 1) * 16;
  MemoryReportFile file(Expand(data + 1, size - 1));
  const BugReportSaveResult result = SaveReportToFile(file, NewReport(), options);
  const std::string content = file.Text();
  const std::string tail = result.written + "\r\n\r\n";
  if (!result.saved || content.size() < tail.size() ||
      content.compare(content.size() - tail.size(), tail.size(), tail) != 0)
    std::abort();
  if (HeaderField(result.written, "callstack crc") != HeaderField(NewReport(), "callstack crc")) std::abort();
  if (result.written != (result.duplicate ? InsertHeaderLine(NewReport(), "callstack crc", "count",
                                                             std::to_string(result.count))
                                          : NewReport()))
    std::abort();
  return 0;
}
