// The doubles' view of the device table (mapped on first use, kept mapped).
#pragma once

#include "support/ScopedHandle.h"
#include "tools/simconsole/SimTable.h"

namespace simconsole {

// Null while no harness has created the table.
Table* OpenTable();

class TableLock {
 public:
  TableLock();
  ~TableLock();
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;

 private:
  ScopedKernelHandle mutex_;
};

// The present entry whose pipe a client handle is connected to, or null.
// Call with the table locked.
DeviceEntry* EntryForHandle(Table* table, HANDLE handle);
DeviceEntry* EntryForSerial(Table* table, DWORD serial);

}  // namespace simconsole
