#include "crash/report/HeaderFields.h"

#include <cstdio>

namespace header_field {
const char kDateTime[] = "date/time";
const char kComputerName[] = "computer name";
const char kWtsClientName[] = "wts client name";
const char kUserName[] = "user name";
const char kRegisteredOwner[] = "registered owner";
const char kOperatingSystem[] = "operating system";
const char kSystemLanguage[] = "system language";
const char kSystemUpTime[] = "system up time";
const char kProgramUpTime[] = "program up time";
const char kProcessor[] = "processor";
const char kProcessors[] = "processors";
const char kPhysicalMemory[] = "physical memory";
const char kFreeDiskSpace[] = "free disk space";
const char kDisplayMode[] = "display mode";
const char kProcessId[] = "process id";
const char kAllocatedMemory[] = "allocated memory";
const char kLargestFreeBlock[] = "largest free block";
const char kCommandLine[] = "command line";
const char kExecutable[] = "executable";
const char kCurrentModule[] = "current module";
const char kExecDateTime[] = "exec. date/time";
const char kModuleDateTime[] = "module date/time";
const char kVersion[] = "version";
const char kCompiledWith[] = "compiled with";
const char kExwatchVersion[] = "Exwatch version";
const char kCallstackCrc[] = "callstack crc";
const char kExceptionNumber[] = "exception number";
const char kExceptionClass[] = "exception class";
const char kExceptionMessage[] = "exception message";
const char kCount[] = "count";
const char kContactName[] = "contact name";
const char kContactEmail[] = "contact email";
}  // namespace header_field

const char kCallstackCrcPending[] = "will be calculated soon";
const char kSectionPending[] = ">> will be calculated soon";
const char kExwatchVersionText[] = "4.0.9";

const std::vector<std::string>& HeaderFieldOrder() {
  using namespace header_field;
  static const std::vector<std::string> order = {
      kDateTime,       kComputerName,    kWtsClientName,   kUserName,      kRegisteredOwner,
      kOperatingSystem, kSystemLanguage, kSystemUpTime,    kProgramUpTime, kProcessor,
      kPhysicalMemory, kFreeDiskSpace,   kDisplayMode,     kProcessId,     kAllocatedMemory,
      kLargestFreeBlock, kCommandLine,   kExecutable,      kCurrentModule, kExecDateTime,
      kVersion,        kCompiledWith,    kExwatchVersion,  kCallstackCrc,  kExceptionNumber,
      kExceptionClass, kExceptionMessage};
  return order;
}

namespace {

std::string Digits(int value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  return buffer;
}

std::string Number(std::uint64_t value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%llu", static_cast<unsigned long long>(value));
  return buffer;
}

std::string DurationPart(std::uint64_t count, const char* unit) {
  if (count == 0) return std::string();
  if (count == 1) return std::string("1 ") + unit + " ";
  return Number(count) + " " + unit + "s ";
}

}  // namespace

std::string FormatDate(const LocalTime& t) {
  return Digits(t.year, 4) + "-" + Digits(t.month, 2) + "-" + Digits(t.day, 2);
}

std::string FormatTime(const LocalTime& t) {
  return Digits(t.hour, 2) + ":" + Digits(t.minute, 2) + ":" + Digits(t.second, 2) + ", " +
         Number(static_cast<std::uint64_t>(t.millisecond < 0 ? 0 : t.millisecond)) + "ms";
}

std::string FormatReportDateTime(const LocalTime& t) { return FormatDate(t) + ", " + FormatTime(t); }

std::string FormatFileDateTime(const LocalTime& t) {
  return FormatDate(t) + " " + Digits(t.hour, 2) + ":" + Digits(t.minute, 2) + "\r\n";
}

std::string FormatDuration(std::uint64_t seconds) {
  const std::uint64_t days = seconds / 86400, hours = seconds / 3600 % 24;
  const std::uint64_t minutes = seconds / 60 % 60, secs = seconds % 60;
  if (seconds == 0) return "0 seconds ";
  if (days > 0) return DurationPart(days, "day") + DurationPart(hours, "hour");
  if (hours > 0) return DurationPart(hours, "hour") + DurationPart(minutes, "minute");
  return DurationPart(minutes, "minute") + DurationPart(secs, "second");
}

std::string FormatProgramUpTime(std::uint64_t milliseconds) {
  if (milliseconds < 1000) return Number(milliseconds) + " milliseconds";
  return FormatDuration(milliseconds / 1000);
}

std::string FormatSize(std::uint64_t bytes, char decimal_separator) {
  if (bytes < 1024) return Number(bytes) + " Bytes";
  const char* unit = " KB";
  std::uint64_t scale = 1024;
  if (bytes >= 1024ull * 1024 * 1024) {
    unit = " GB", scale = 1024ull * 1024 * 1024;
  } else if (bytes >= 1024ull * 1024) {
    unit = " MB", scale = 1024ull * 1024;
  }
  // Hundredths, rounded half up, in integers so that huge sizes stay exact.
  const std::uint64_t hundredths = bytes / scale * 100 + (bytes % scale * 100 + scale / 2) / scale;
  return Number(hundredths / 100) + decimal_separator + Digits(static_cast<int>(hundredths % 100), 2) + unit;
}

std::string FormatUserName(const std::string& user, bool is_admin) {
  if (user.empty()) return std::string();
  return is_admin ? user + "  <admin>" : user;
}

std::string FormatRegisteredOwner(const std::string& owner, const std::string& organization) {
  return organization.empty() ? owner : owner + " / " + organization;
}

std::string FormatOperatingSystem(const std::string& name_and_version, std::uint32_t build) {
  return name_and_version + " build " + Number(build);
}

std::string FormatPhysicalMemory(std::uint64_t free_bytes, std::uint64_t total_bytes) {
  const std::uint64_t mb = 1024 * 1024;
  return Number((free_bytes + mb / 2) / mb) + "/" + Number((total_bytes + mb / 2) / mb) + " MB (free/total)";
}

std::string FormatFreeDiskSpace(std::uint64_t system_free, bool other_drive, std::uint64_t exe_free,
                                char decimal_separator) {
  std::string text = FormatSize(system_free, decimal_separator);
  if (other_drive) text += " " + FormatSize(exe_free, decimal_separator);
  return text;
}

std::string FormatDisplayMode(int width, int height, int bits_per_pixel) {
  return std::to_string(width) + "x" + std::to_string(height) + ", " + std::to_string(bits_per_pixel) + " bit";
}

std::string FormatHexId(std::uint32_t id) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "$%x", static_cast<unsigned>(id));
  return buffer;
}

std::pair<std::string, std::string> ProcessorField(const std::vector<std::string>& names_by_key) {
  auto normalise = [](std::string name) {
    std::string out;
    for (char c : name) {
      if (c == ' ' && !out.empty() && out.back() == ' ') continue;
      out += c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
  };
  if (names_by_key.empty() || names_by_key[0].empty()) return {header_field::kProcessor, std::string()};
  const std::string name = normalise(names_by_key[0]);
  std::size_t count = 1;
  while (count < names_by_key.size() && count < 16 && !names_by_key[count].empty()) ++count;
  if (count == 1) return {header_field::kProcessor, name};
  return {header_field::kProcessors, std::to_string(count) + "x " + name};
}

std::string FormatCallstackCrc(std::uint32_t first, std::uint32_t second, std::uint32_t third) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "$%08x, $%08x, $%08x", static_cast<unsigned>(first),
                static_cast<unsigned>(second), static_cast<unsigned>(third));
  return buffer;
}

std::string ExceptionMessageField(const std::string& class_name, const std::string& message) {
  return message == class_name ? std::string() : message;
}

std::string ChooseVersionText(const std::string& settings_version, const std::string& file_version,
                              const std::string& fallback) {
  if (!settings_version.empty()) return settings_version;
  if (!file_version.empty()) return file_version;
  return fallback;
}
