// The report header: field names in their order and the formats of their
// values. The Win32 side gathers the raw values (each in its own guard) and
// formats them here.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// A broken-down local time.
struct LocalTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

namespace header_field {
extern const char kDateTime[];           // "date/time"
extern const char kComputerName[];
extern const char kWtsClientName[];
extern const char kUserName[];
extern const char kRegisteredOwner[];
extern const char kOperatingSystem[];
extern const char kSystemLanguage[];
extern const char kSystemUpTime[];
extern const char kProgramUpTime[];
extern const char kProcessor[];          // "processor" / "processors"
extern const char kProcessors[];
extern const char kPhysicalMemory[];
extern const char kFreeDiskSpace[];
extern const char kDisplayMode[];
extern const char kProcessId[];
extern const char kAllocatedMemory[];
extern const char kLargestFreeBlock[];
extern const char kCommandLine[];
extern const char kExecutable[];
extern const char kCurrentModule[];
extern const char kExecDateTime[];       // "exec. date/time" / "module date/time"
extern const char kModuleDateTime[];
extern const char kVersion[];
extern const char kCompiledWith[];
extern const char kExwatchVersion[];
extern const char kCallstackCrc[];
extern const char kExceptionNumber[];
extern const char kExceptionClass[];
extern const char kExceptionMessage[];
// Added later: duplicate counting and the send assistant.
extern const char kCount[];
extern const char kContactName[];
extern const char kContactEmail[];
}  // namespace header_field

// The 27 header fields in their order (the first name where a field has two).
// Once built, the header's insertion index is the place of "callstack crc"
// (FieldList::SetInsertionIndexBefore), so fields added later by the send
// assistant stand directly ahead of it whichever fields were left out.
const std::vector<std::string>& HeaderFieldOrder();

extern const char kCallstackCrcPending[];  // "will be calculated soon"
extern const char kSectionPending[];       // ">> will be calculated soon"
extern const char kExwatchVersionText[];   // "4.0.9"

// "2024-03-05, 07:08:09, 45ms"
std::string FormatReportDateTime(const LocalTime& time);
// "2024-03-05"
std::string FormatDate(const LocalTime& time);
// "07:08:09, 45ms"
std::string FormatTime(const LocalTime& time);
// Last-write time of a file: "2024-03-05 07:08" and a line break.
std::string FormatFileDateTime(const LocalTime& time);

// The two largest non-zero-ranked units: "1 day 3 hours ", "5 minutes 1 second ".
std::string FormatDuration(std::uint64_t seconds);
// Program up time: below one second "N milliseconds", else a duration text.
std::string FormatProgramUpTime(std::uint64_t milliseconds);
// "512 Bytes", "1.50 KB", "2.00 MB", "1.25 GB".
std::string FormatSize(std::uint64_t bytes, char decimal_separator = '.');

std::string FormatUserName(const std::string& user, bool is_admin);
std::string FormatRegisteredOwner(const std::string& owner, const std::string& organization);
std::string FormatOperatingSystem(const std::string& name_and_version, std::uint32_t build);
// Free and total physical memory in bytes: "1234/4096 MB (free/total)".
std::string FormatPhysicalMemory(std::uint64_t free_bytes, std::uint64_t total_bytes);
// System drive's free space; the executable's drive follows when it differs.
std::string FormatFreeDiskSpace(std::uint64_t system_free, bool other_drive, std::uint64_t exe_free,
                                char decimal_separator = '.');
std::string FormatDisplayMode(int width, int height, int bits_per_pixel);
// "$" and lower-case hexadecimal: thread and process ids.
std::string FormatHexId(std::uint32_t id);

// The processor field from the names read from keys 0, 1, 2 ...: the count
// is the number of leading keys (at most 16) that have a name. Field name and
// value; an empty value when key 0 has no name.
std::pair<std::string, std::string> ProcessorField(const std::vector<std::string>& names_by_key);

// The callstack crc value: "$xxxxxxxx, $xxxxxxxx, $xxxxxxxx" (31 characters).
std::string FormatCallstackCrc(std::uint32_t first, std::uint32_t second, std::uint32_t third);

// The exception message field: empty (left out) when it equals the class.
std::string ExceptionMessageField(const std::string& class_name, const std::string& message);

// Version text: the settings' version when set, else the file version, else
// the fallback (the header leaves the field out, placeholders show "?").
std::string ChooseVersionText(const std::string& settings_version, const std::string& file_version,
                              const std::string& fallback = std::string());
