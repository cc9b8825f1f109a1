// Saving a report into the bug-report file: appending, duplicate counting and
// the size limit, on the file's bytes.
//
// The Win32 side opens the file without sharing, maps it and implements
// IReportFileBuffer over the mapping; natively (tests, fuzzing) a byte vector
// stands in. The algorithm never copies the file: it moves the tail in place
// and copies out only a candidate duplicate for comparison.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ReportSettings;

// The file's bytes while they are rewritten.
class IReportFileBuffer {
 public:
  virtual ~IReportFileBuffer() = default;
  virtual std::size_t Size() const = 0;
  // Valid until the next Resize; may be null while the size is 0.
  virtual unsigned char* Data() = 0;
  // Keeps the first min(old, new) bytes. On failure the size and the bytes
  // stay as they were.
  virtual bool Resize(std::size_t size) = 0;
};

class MemoryReportFile : public IReportFileBuffer {
 public:
  MemoryReportFile() = default;
  explicit MemoryReportFile(const std::string& bytes)
      : bytes_(reinterpret_cast<const unsigned char*>(bytes.data()),
               reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size()) {}
  std::size_t Size() const override { return bytes_.size(); }
  unsigned char* Data() override { return bytes_.empty() ? nullptr : bytes_.data(); }
  bool Resize(std::size_t size) override {
    bytes_.resize(size);
    return true;
  }
  std::string Text() const { return std::string(reinterpret_cast<const char*>(bytes_.data()), bytes_.size()); }

 private:
  std::vector<unsigned char> bytes_;
};

struct BugReportSaveOptions {
  bool append = true;               // AppendBugReps
  std::int64_t size_limit = 100000; // BugRepFileSize; 0: no limit
  bool no_dup_excepts = true;       // NoDupExcepts
  int dup_except_def = 1;           // DupExceptDef: key of 1, 2 or 3 CRCs (0, 1, 2)
  bool no_dup_freezes = true;       // NoDupFreezes
  int dup_freeze_def = 2;           // DupFreezeDef
};

BugReportSaveOptions SaveOptionsFromSettings(const ReportSettings& settings);

struct BugReportSaveResult {
  bool saved = false;
  bool duplicate = false;      // a stored copy was found and cut out
  std::uint64_t count = 1;     // the "count" the new report carries (1 without one)
  std::size_t dropped = 0;     // bytes of old reports dropped at the size limit
  std::string written;         // the report as written, without the trailing CR LF CR LF
};

// Writes `report` (the rendered text) into the file: with appending, after
// the duplicate search and trimming; the report always goes in whole, as
// UTF-8 (invalid sequences replaced), followed by CR LF CR LF, and the file is
// cut off after it. A damaged file never stops the save: what cannot be
// parsed is simply no duplicate.
BugReportSaveResult SaveReportToFile(IReportFileBuffer& file, const std::string& report,
                                     const BugReportSaveOptions& options);

// The pieces, for the Win32 side and the tests.

// The duplicate key of a report: the first 9, 20 or 31 characters of its
// complete "callstack crc" value; empty when there is none.
std::string DuplicateKey(const std::string& report, const BugReportSaveOptions& options);

// True when `value` is three "$" + 8 lower-case hex digits joined by ", ".
bool IsCompleteCallstackCrc(const std::string& value);

// Whether a stored report and a new one describe the same fault (apart from
// the CRCs): same executable, module and class, and equal non-empty version
// or, without one, equal file times.
bool SameProgramAndClass(const std::string& stored, const std::string& report);

struct StoredDuplicate {
  std::size_t begin = 0, end = 0;  // the stored report with its trailing blank line
  std::uint64_t count = 1;         // its "count" field
};

// Searches the file backwards for a stored report with `key` in its
// "callstack crc" that SameProgramAndClass accepts.
bool FindStoredDuplicate(const unsigned char* data, std::size_t size, const std::string& key,
                         const std::string& report, StoredDuplicate* found);

// Where the oldest reports are cut: the first report start after which fewer
// than `keep_below` bytes remain; 0 when none qualifies.
std::size_t TrimPosition(const unsigned char* data, std::size_t size, std::size_t keep_below);

// The bug-report file's full path: BugRepFile (placeholders already expanded)
// relative to the executable's folder, or to its drive with one leading
// backslash; "." steps dropped, ".." steps remove the folder before them.
std::string ResolveBugReportPath(const std::string& name, const std::string& exe_path);

// The second place tried: "<userappdata>\<exe name without extension>\<name>",
// only when the name holds no backslash; empty otherwise.
std::string FallbackBugReportPath(const std::string& name, const std::string& user_app_data,
                                  const std::string& exe_path);
