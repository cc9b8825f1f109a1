// Saving into the bug-report file: the place, the no-share open, and the
// file's bytes as a memory mapping for the portable save algorithm.
#include <algorithm>

#include "crash/collect/CollectInternal.h"
#include "crash/report/BugReportFile.h"
#include "crash/report/Placeholders.h"
#include "support/Debugs.h"

namespace {

// The open file's bytes behind the save algorithm. Growing remaps the file
// at the new size (which extends it on disk); Finish unmaps and sets the end
// of file to the logical size, so a save that fails half-way leaves the
// file as long as it was. When the file cannot be mapped at all, its bytes
// are read into memory and written back instead.
class MappedReportFile : public IReportFileBuffer {
 public:
  explicit MappedReportFile(HANDLE file) : file_(file) {}
  ~MappedReportFile() override { Unmap(); }

  bool Open() {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file_, &size) || size.QuadPart < 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > static_cast<std::uint64_t>(kMaxSize))
      return false;
    size_ = static_cast<std::size_t>(size.QuadPart);
    if (size_ == 0 || Map(size_)) return true;
    return ReadIntoMemory();
  }

  std::size_t Size() const override { return size_; }
  unsigned char* Data() override { return inMemory_ ? (memory_.empty() ? nullptr : memory_.data()) : View(); }

  bool Resize(std::size_t size) override {
    if (inMemory_) {
      try {
        memory_.resize(size);
      } catch (...) {
        return false;
      }
      size_ = size;
      return true;
    }
    if (size <= capacity_) {
      size_ = size;
      return true;
    }
    if (size > kMaxSize) return false;
    const std::size_t old = capacity_;
    if (Map(size)) {
      size_ = size;
      return true;
    }
    // Keep the old bytes reachable: the caller goes on with them.
    if (old > 0 && !Map(old)) return false;
    return false;
  }

  // Writes back (memory mode), unmaps and cuts the file after the content.
  bool Finish() {
    bool ok = true;
    if (inMemory_) {
      LARGE_INTEGER zero = {};
      ok = ::SetFilePointerEx(file_, zero, nullptr, FILE_BEGIN) != FALSE;
      std::size_t at = 0;
      while (ok && at < size_) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size_ - at, 1u << 20));
        DWORD written = 0;
        ok = ::WriteFile(file_, memory_.data() + at, chunk, &written, nullptr) && written == chunk;
        at += written;
      }
    } else {
      if (view_) ok = ::FlushViewOfFile(view_.Get(), 0) != FALSE;
      Unmap();
    }
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size_);
    ok = ::SetFilePointerEx(file_, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file_) && ok;
    return ok;
  }

 private:
  static constexpr std::size_t kMaxSize = static_cast<std::size_t>(1) << (sizeof(void*) == 4 ? 30 : 40);

  bool Map(std::size_t size) {
    Unmap();
    const auto wide = static_cast<std::uint64_t>(size);
    HANDLE mapping = ::CreateFileMappingW(file_, nullptr, PAGE_READWRITE, static_cast<DWORD>(wide >> 32),
                                          static_cast<DWORD>(wide), nullptr);
    if (!mapping) return false;
    mapping_.Reset(mapping);
    view_.Reset(::MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, size));
    if (!view_) {
      mapping_.Reset();
      return false;
    }
    capacity_ = size;
    return true;
  }

  void Unmap() {
    view_.Reset();
    mapping_.Reset();
    capacity_ = 0;
  }

  bool ReadIntoMemory() {
    try {
      memory_.resize(size_);
    } catch (...) {
      return false;
    }
    std::size_t at = 0;
    while (at < size_) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size_ - at, 1u << 20));
      DWORD read = 0;
      if (!::ReadFile(file_, memory_.data() + at, chunk, &read, nullptr) || read == 0) return false;
      at += read;
    }
    inMemory_ = true;
    return true;
  }

  HANDLE file_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  ScopedKernelHandle mapping_;
  unsigned char* View() const { return static_cast<unsigned char*>(const_cast<void*>(view_.Get())); }

  ScopedMappedView view_;
  bool inMemory_ = false;
  std::vector<unsigned char> memory_;
};

// Creates every missing folder of the path's folder chain.
void CreateFolderChain(const std::wstring& filePath) {
  const std::size_t last = filePath.find_last_of(L'\\');
  if (last == std::wstring::npos) return;
  const std::wstring folder = filePath.substr(0, last);
  // Skip the root ("C:\" or "\\server\share\").
  std::size_t at = 0;
  if (folder.size() >= 2 && folder[1] == L':') {
    at = 3;
  } else if (folder.compare(0, 2, L"\\\\") == 0) {
    at = folder.find(L'\\', 2);
    at = at == std::wstring::npos ? folder.size() : folder.find(L'\\', at + 1);
    if (at == std::wstring::npos) return;
    ++at;
  }
  while (at <= folder.size()) {
    std::size_t next = folder.find(L'\\', at);
    if (next == std::wstring::npos) next = folder.size();
    if (next > at) ::CreateDirectoryW(folder.substr(0, next).c_str(), nullptr);
    at = next + 1;
  }
}

ScopedFile OpenReportFile(const std::string& path) {
  if (path.empty()) return ScopedFile();
  const std::wstring wide = WideFromUtf8(path);
  CreateFolderChain(wide);
  // No sharing for the whole read-modify-write: two saves never interleave.
  // A reader (a viewer, a backup, the check after a mail went out) holds the
  // file for a moment only: the save waits up to 2 s for it rather than
  // putting the report into another file.
  for (int attempt = 0;; ++attempt) {
    ScopedFile file(::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file || ::GetLastError() != ERROR_SHARING_VIOLATION || attempt == 40) return file;
    if (attempt == 0) TraceFmt("crash reporting: the bug-report file is in use, waiting: %s", path.c_str());
    ::Sleep(50);
  }
}

std::string ShellFolder(int csidl) {
  wchar_t path[MAX_PATH];
  if (FAILED(::SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path)))
    return std::string();
  return Utf8FromWide(path, wcslen(path));
}

PlaceholderValues FileNamePlaceholders(const std::string& exePath) {
  PlaceholderValues values;
  values.app_name = FileNameOf(exePath);
  values.mod_name = values.app_name;
  values.now = CurrentLocalTime();
  values.user_app_data = ShellFolder(CSIDL_APPDATA);
  values.common_app_data = ShellFolder(CSIDL_COMMON_APPDATA);
  values.desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY);
  wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (::GetComputerNameW(computer, &size)) values.computer_name = Utf8FromWide(computer, size);
  return values;
}

bool WriteInto(HANDLE file, const std::string& text, const BugReportSaveOptions& options) {
  MappedReportFile bytes(file);
  if (!bytes.Open()) return false;
  const BugReportSaveResult result = SaveReportToFile(bytes, text, options);
  // Finish even after a failed save: it restores the file's length.
  const bool finished = bytes.Finish();
  return result.saved && finished;
}

}  // namespace

bool SaveBugReport(const BugReport& report, const ReportSettings& settings, std::string* savedPath) {
  try {
    const std::string text = report.Text();
    const std::string exePath = Utf8FromWide(ExecutablePathW());
    if (exePath.empty()) return false;
    const PlaceholderValues values = FileNamePlaceholders(exePath);
    const std::string name = ExpandPlaceholders(settings.Text("BugRepFile"), values);
    if (TrimBlanks(name).empty()) return false;
    std::string path = ResolveBugReportPath(name, exePath);
    ScopedFile file = OpenReportFile(path);
    if (!file) {
      path = FallbackBugReportPath(name, values.user_app_data, exePath);
      file = OpenReportFile(path);
    }
    if (!file) return false;
    if (!WriteInto(file.Get(), text, SaveOptionsFromSettings(settings))) return false;
    if (savedPath) *savedPath = path;
    return true;
  } catch (...) {
    return false;
  }
}

bool SaveBugReport(BugReportJob& job, const ReportSettings& settings, std::string* savedPath) {
  if (!SaveBugReport(job.Report(), settings, savedPath)) return false;
  job.MarkSaved();
  return true;
}
