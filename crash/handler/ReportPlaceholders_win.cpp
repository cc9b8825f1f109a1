// The values behind the placeholders of the settings' texts, gathered for
// one exception on the handling thread.
#include "crash/handler/ReportPlaceholders.h"

#include "crash/collect/BugReportCollector.h"
#include "crash/handler/ReporterState.h"
#include "crash/report/HeaderFields.h"
#include "crash/report/PathText.h"
#include "support/TextCodec.h"
#include "support/Utils.h"

std::string ExecutableName() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return FileNameOf(std::string(path, length));
}

std::string ExecutablePathUtf8() {
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return FromWide(path, CodePage::Utf8);
}

PlaceholderValues PlaceholdersFor(const CrashReport& report) {
  PlaceholderValues values;
  const std::string exePath = ExecutablePathUtf8();
  values.app_name = FileNameOf(exePath);
  values.mod_name = report.Module;
  // No version is set in the settings: the file versions, else "?".
  values.app_version = ChooseVersionText(std::string(), GetOwnFileVersion(), "?");
  HMODULE module = nullptr;
  char modulePath[MAX_PATH + 1] = {};
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(report.CodeAddress)), &module) &&
      GetModuleFileNameA(module, modulePath, MAX_PATH))
    values.mod_version = ChooseVersionText(std::string(), GetFileVersion(modulePath), "?");
  else
    values.mod_version = "?";
  values.os = OperatingSystemText();
  values.except_class = report.ExceptionClass;
  values.except_msg = report.ExceptionMessage;
  values.now = CurrentLocalTime();
  char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof computer;
  if (GetComputerNameA(computer, &size)) values.computer_name = computer;
  wchar_t folder[MAX_PATH];
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
    values.user_app_data = FromWide(folder, CodePage::Utf8);
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
    values.common_app_data = FromWide(folder, CodePage::Utf8);
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, folder)))
    values.desktop = FromWide(folder, CodePage::Utf8);
  return values;
}
