#include "tools/simconsole/SimTableAccess.h"

#include <cwchar>

namespace simconsole {

Table* OpenTable() {
  static Table* table = nullptr;
  if (!table) {
    const ScopedKernelHandle mapping(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kTableName));
    if (!mapping) return nullptr;
    // The view keeps the section once the mapping's handle is closed.
    void* view = MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Table));
    if (!view) return nullptr;
    table = static_cast<Table*>(view);
  }
  return table->magic == kTableMagic ? table : nullptr;
}

TableLock::TableLock() {
  mutex_.Reset(CreateMutexA(nullptr, FALSE, kLockName));
  if (mutex_) WaitForSingleObject(mutex_.Get(), 2000);
}

TableLock::~TableLock() {
  if (mutex_) ReleaseMutex(mutex_.Get());
}

DeviceEntry* EntryForSerial(Table* table, DWORD serial) {
  if (!table) return nullptr;
  for (DeviceEntry& entry : table->devices)
    if (entry.present && entry.serial == serial) return &entry;
  return nullptr;
}

DeviceEntry* EntryForHandle(Table* table, HANDLE handle) {
  if (!table || handle == INVALID_HANDLE_VALUE || !handle) return nullptr;
  union {
    FILE_NAME_INFO info;
    char bytes[sizeof(FILE_NAME_INFO) + 512];
  } name = {};
  if (!GetFileInformationByHandleEx(handle, FileNameInfo, &name, sizeof name)) return nullptr;
  const std::size_t chars = name.info.FileNameLength / sizeof(WCHAR);
  const std::size_t prefix = wcslen(kPipeNamePrefix);
  if (chars <= prefix || wcsncmp(name.info.FileName, kPipeNamePrefix, prefix) != 0) return nullptr;
  DWORD serial = 0;
  for (std::size_t i = prefix; i < chars; ++i) {
    const WCHAR c = name.info.FileName[i];
    if (c < L'0' || c > L'9') return nullptr;
    serial = serial * 10 + static_cast<DWORD>(c - L'0');
  }
  return EntryForSerial(table, serial);
}

}  // namespace simconsole
