#include "crash/report/BugReportFile.h"

#include <algorithm>
#include <cstring>
#include <vector>
#include <string_view>

#include "crash/report/HeaderFields.h"
#include "crash/report/PathText.h"
#include "crash/report/ReportSettings.h"
#include "crash/report/ReportText.h"
#include "crash/report/Utf8.h"

namespace {

using std::string_view;

const char kReportEnd[] = "\r\n\r\n";
constexpr std::size_t kReportEndSize = 4;
const char kFirstField[] = "date/time";

string_view View(const unsigned char* data, std::size_t size) {
  return size == 0 ? string_view() : string_view(reinterpret_cast<const char*>(data), size);
}

// A report starts with its "date/time" header line: the name, alignment
// blanks, ": ". A section line that merely begins with "date/time" is no start.
bool IsReportStartAt(string_view file, std::size_t at) {
  const std::size_t name = sizeof kFirstField - 1;
  if (file.compare(at, name, kFirstField) != 0) return false;
  std::size_t i = at + name;
  while (i < file.size() && file[i] == ' ') ++i;
  return file.compare(i, 2, ": ") == 0;
}

// A boundary between reports: a blank line (the end of the previous report),
// then a report start. Only reports follow a blank line at the top level,
// since the text form writes no blank line inside a section.
bool IsBoundaryAt(string_view file, std::size_t at) {
  return at >= kReportEndSize && file.compare(at - kReportEndSize, kReportEndSize, kReportEnd) == 0 &&
         IsReportStartAt(file, at);
}

// The last occurrence of `needle` starting at or before `from`. Scans for
// the needle's first byte and compares only there: the library's rfind
// compares at every position, which made a search per candidate quadratic.
std::size_t FindLast(string_view file, string_view needle, std::size_t from) {
  if (needle.empty() || needle.size() > file.size()) return string_view::npos;
  std::size_t at = std::min(from, file.size() - needle.size());
  while (true) {
    if (file[at] == needle[0] && file.compare(at, needle.size(), needle) == 0) return at;
    if (at == 0) return string_view::npos;
    --at;
  }
}

// Where the stored reports start, in order: the file's first report start,
// then every boundary after it. Found in one forward pass, so that placing
// each candidate duplicate costs a binary search instead of a scan.
std::vector<std::size_t> ReportStarts(string_view file) {
  std::vector<std::size_t> starts;
  for (std::size_t at = file.find(kFirstField); at != string_view::npos; at = file.find(kFirstField, at + 1)) {
    if (IsReportStartAt(file, at)) {
      starts.push_back(at);
      break;
    }
  }
  if (starts.empty()) return starts;
  const std::string marker = std::string(kReportEnd) + kFirstField;
  for (std::size_t at = file.find(marker, starts.front()); at != string_view::npos; at = file.find(marker, at + 1)) {
    const std::size_t start = at + kReportEndSize;
    if (start > starts.back() && IsBoundaryAt(file, start)) starts.push_back(start);
  }
  return starts;
}

// The start of the stored report that holds position `hit`: the last report
// start at or before it.
bool ReportBeginFor(const std::vector<std::size_t>& starts, std::size_t hit, std::size_t* begin) {
  auto after = std::upper_bound(starts.begin(), starts.end(), hit);
  if (after == starts.begin()) return false;
  *begin = *(after - 1);
  return true;
}

// The end of the stored report after `hit`: the next boundary whose blank
// line lies wholly after the hit, else the end of the file.
std::size_t ReportEndFor(const std::vector<std::size_t>& starts, std::size_t hit, std::size_t size) {
  auto next = std::lower_bound(starts.begin(), starts.end(), hit + kReportEndSize);
  return next == starts.end() ? size : *next;
}

std::uint64_t ParseCount(const std::string& text) {
  if (text.empty() || text.size() > 18) return 1;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 1;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value == 0 ? 1 : value;
}

bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

BugReportSaveOptions SaveOptionsFromSettings(const ReportSettings& settings) {
  BugReportSaveOptions options;
  options.append = settings.IsOn("AppendBugReps");
  options.size_limit = settings.Number("BugRepFileSize");
  options.no_dup_excepts = settings.IsOn("NoDupExcepts");
  options.dup_except_def = static_cast<int>(settings.Number("DupExceptDef"));
  options.no_dup_freezes = settings.IsOn("NoDupFreezes");
  options.dup_freeze_def = static_cast<int>(settings.Number("DupFreezeDef"));
  return options;
}

bool IsCompleteCallstackCrc(const std::string& value) {
  if (value.size() != 31) return false;
  for (std::size_t part = 0; part < 3; ++part) {
    const std::size_t at = part * 11;
    if (value[at] != '$') return false;
    for (std::size_t i = 1; i <= 8; ++i)
      if (!IsLowerHex(value[at + i])) return false;
    if (part < 2 && value.compare(at + 9, 2, ", ") != 0) return false;
  }
  return true;
}

std::string DuplicateKey(const std::string& report, const BugReportSaveOptions& options) {
  const std::string crc = HeaderField(report, header_field::kCallstackCrc);
  if (!IsCompleteCallstackCrc(crc)) return std::string();
  const bool is_exception = !HeaderField(report, header_field::kExceptionClass).empty();
  const bool counted = is_exception ? options.no_dup_excepts : options.no_dup_freezes;
  const int definition = is_exception ? options.dup_except_def : options.dup_freeze_def;
  if (!counted) return std::string();
  switch (definition) {
    case 0: return crc.substr(0, 9);
    case 1: return crc.substr(0, 20);
    case 2: return crc;
    default: return std::string();
  }
}

bool SameProgramAndClass(const std::string& stored, const std::string& report) {
  using namespace header_field;
  auto same = [&](const char* name) { return HeaderField(stored, name) == HeaderField(report, name); };
  if (!same(kExecutable) || !same(kCurrentModule) || !same(kExceptionClass)) return false;
  const std::string stored_version = HeaderField(stored, kVersion);
  const std::string version = HeaderField(report, kVersion);
  if (!stored_version.empty() || !version.empty()) return stored_version == version;
  return same(kExecDateTime) && same(kModuleDateTime);
}

bool FindStoredDuplicate(const unsigned char* data, std::size_t size, const std::string& key,
                         const std::string& report, StoredDuplicate* found) {
  if (key.empty() || size == 0) return false;
  const string_view file = View(data, size);
  const std::string needle = ": " + key;
  const std::vector<std::size_t> starts = ReportStarts(file);
  std::size_t from = file.size();
  // Hits in a report already turned down lead to the same report again.
  std::size_t rejected_begin = 0, rejected_end = 0;
  while (true) {
    const std::size_t hit = FindLast(file, needle, from);
    if (hit == string_view::npos) return false;
    std::size_t begin = 0;
    if (ReportBeginFor(starts, hit, &begin)) {
      const std::size_t end = ReportEndFor(starts, hit, file.size());
      if (begin == rejected_begin && end == rejected_end) {
        if (hit == 0) return false;
        from = hit - 1;
        continue;
      }
      rejected_begin = begin;
      rejected_end = end;
      const string_view bytes = file.substr(begin, end - begin);
      if (IsValidUtf8(bytes.data(), bytes.size())) {
        const std::string stored(bytes);
        // The hit must be this report's own key, not text in a section.
        const std::string crc = HeaderField(stored, header_field::kCallstackCrc);
        if (crc.compare(0, key.size(), key) == 0 && IsCompleteCallstackCrc(crc) &&
            SameProgramAndClass(stored, report)) {
          found->begin = begin;
          found->end = end;
          found->count = ParseCount(HeaderField(stored, header_field::kCount));
          return true;
        }
      }
    }
    if (hit == 0) return false;
    from = hit - 1;
  }
}

std::size_t TrimPosition(const unsigned char* data, std::size_t size, std::size_t keep_below) {
  const string_view file = View(data, size);
  const std::string marker = std::string(kReportEnd) + kFirstField;
  for (std::size_t at = file.find(marker); at != string_view::npos; at = file.find(marker, at + 1)) {
    const std::size_t start = at + kReportEndSize;
    if (size - start < keep_below && IsBoundaryAt(file, start)) return start;
  }
  return 0;
}

BugReportSaveResult SaveReportToFile(IReportFileBuffer& file, const std::string& report,
                                     const BugReportSaveOptions& options) {
  BugReportSaveResult result;
  std::string text = SanitizeUtf8(report);
  const std::size_t old_size = options.append ? file.Size() : 0;

  StoredDuplicate duplicate;
  if (old_size > 0) {
    const std::string key = DuplicateKey(text, options);
    if (!key.empty() && FindStoredDuplicate(file.Data(), old_size, key, text, &duplicate)) {
      result.duplicate = true;
      result.count = duplicate.count + 1;
      text = InsertHeaderLine(text, header_field::kCallstackCrc, header_field::kCount, std::to_string(result.count));
    }
  }
  const bool over_limit = options.size_limit > 0 && static_cast<std::uint64_t>(options.size_limit) < old_size;

  // Grow first: if the file cannot take the new report, it stays untouched.
  const std::size_t room = old_size + kReportEndSize + text.size() + kReportEndSize;
  if (room > file.Size() && !file.Resize(room)) return result;
  unsigned char* data = file.Data();
  std::size_t size = old_size;

  if (result.duplicate) {
    std::memmove(data + duplicate.begin, data + duplicate.end, size - duplicate.end);
    size -= duplicate.end - duplicate.begin;
  }
  if (over_limit) {
    const auto limit = static_cast<std::size_t>(options.size_limit);
    const std::size_t cut = TrimPosition(data, size, limit - limit / 4);
    if (cut > 0) {
      std::memmove(data, data + cut, size - cut);
      size -= cut;
      result.dropped = cut;
    }
  }
  // A damaged or truncated file may not end with the blank line that
  // separates reports; without it the new report would run into the old
  // bytes and never be found again.
  if (size > 0) {
    const string_view tail = View(data, size);
    if (tail.size() < 2 || tail.compare(tail.size() - 2, 2, "\r\n") != 0) {
      std::memcpy(data + size, kReportEnd, kReportEndSize);
      size += kReportEndSize;
    } else if (tail.size() < kReportEndSize || tail.compare(tail.size() - kReportEndSize, kReportEndSize, kReportEnd) != 0) {
      std::memcpy(data + size, "\r\n", 2);
      size += 2;
    }
  }
  std::memcpy(data + size, text.data(), text.size());
  size += text.size();
  std::memcpy(data + size, kReportEnd, kReportEndSize);
  size += kReportEndSize;

  result.saved = file.Resize(size);
  result.written = std::move(text);
  return result;
}

namespace {

std::string NormaliseSlashes(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

// Root of an absolute path: "C:\", "\\server\share\" or "\"; empty if relative.
std::size_t RootLength(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return path.size() >= 3 && path[2] == '\\' ? 3 : 2;
  if (path.compare(0, 2, "\\\\") == 0) {
    std::size_t server_end = path.find('\\', 2);
    if (server_end == std::string::npos) return path.size();
    std::size_t share_end = path.find('\\', server_end + 1);
    return share_end == std::string::npos ? path.size() : share_end + 1;
  }
  return 0;
}

std::string RemoveDotSteps(const std::string& path) {
  const std::size_t root = RootLength(path);
  std::vector<std::string> parts;
  std::size_t start = root;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out = path.substr(0, root);
  if (root == 2 && path.size() > 2) out += '\\';
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += '\\';
    out += parts[i];
  }
  return out;
}

}  // namespace

std::string ResolveBugReportPath(const std::string& name, const std::string& exe_path) {
  const std::string file = NormaliseSlashes(name);
  const std::string exe = NormaliseSlashes(exe_path);
  std::string full;
  if (RootLength(file) > 1 && file[0] != '\\' ) {
    full = file;  // has a drive
  } else if (file.compare(0, 2, "\\\\") == 0) {
    full = file;  // a network path
  } else if (!file.empty() && file[0] == '\\') {
    std::size_t root = RootLength(exe);
    std::string drive = exe.substr(0, root);
    while (!drive.empty() && drive.back() == '\\') drive.pop_back();
    full = drive + file;
  } else {
    const std::size_t slash = exe.rfind('\\');
    full = (slash == std::string::npos ? std::string() : exe.substr(0, slash + 1)) + file;
  }
  return RemoveDotSteps(full);
}

std::string FallbackBugReportPath(const std::string& name, const std::string& user_app_data,
                                  const std::string& exe_path) {
  if (NormaliseSlashes(name).find('\\') != std::string::npos || user_app_data.empty()) return std::string();
  const std::string exe_name = WithoutExtension(FileNameOf(NormaliseSlashes(exe_path)));
  std::string folder = NormaliseSlashes(user_app_data);
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return RemoveDotSteps(folder + "\\" + exe_name + "\\" + name);
}
