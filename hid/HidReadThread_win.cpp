// The thread that reads a claimed device's input reports and hands each to
// the main thread (hid/HidDevice.h).
#include <algorithm>

#include "hid/Hid.h"
#include "hid/HidDevice.h"

THidDeviceReadThread::THidDeviceReadThread(THidDevice* device) : TThread(true), Device(device) {
  HIDP_CAPS caps;
  device->Caps(caps);  // on the creating (main) thread: fetches PreparsedData
  Report.assign(caps.InputReportByteLength, 0);
}

void THidDeviceReadThread::Execute() {
  DWORD wait = WAIT_IO_COMPLETION;
  while (!Terminated()) {
    wait = WAIT_IO_COMPLETION;
    // Only the cached preparsed data: fetching it here would open MainHandle
    // on this thread while the main thread uses it.
    HIDP_CAPS caps = {};
    if (Device->FPreparsedData && HidApi.HidP_GetCaps) HidApi.HidP_GetCaps(Device->FPreparsedData, &caps);
    const unsigned length = std::min<unsigned>(caps.InputReportByteLength, static_cast<unsigned>(Report.size()));
    std::fill_n(Report.begin(), length, 0);
    if (Device->StartRead(Report.data(), length, &ReadDone)) {
      do {
        wait = SleepEx(static_cast<DWORD>(Device->FThreadSleepTime.load()), TRUE);
      } while (!Terminated() && wait != WAIT_IO_COMPLETION);
      if (Terminated()) break;
      BytesRead = Device->ReadResult();
      if (BytesRead > 0) Synchronize([this] { DeliverData(); });
    } else {
      LastError = GetLastError();
      Synchronize([this] { DeliverError(); });
      // A removed device fails every read at once until the change is
      // handled: wait the sleep time rather than spin through hand-overs.
      if (!Terminated()) SleepEx(static_cast<DWORD>(Device->FThreadSleepTime.load()), TRUE);
    }
  }
  if (wait != WAIT_IO_COMPLETION) Device->CancelPendingIo();
  WaitForOutstandingRead();
}

void CALLBACK THidDeviceReadThread::ReadDone(DWORD, DWORD, LPOVERLAPPED overlapped) {
  static_cast<THidDevice*>(overlapped->hEvent)->FReadPending = false;
}

void THidDeviceReadThread::WaitForOutstandingRead() {
  // The platform writes into Report and the overlapped record until the
  // completion routine has run; neither may go away before that. Closing or
  // cancelling ends the read promptly; the bound only guards a platform
  // that never completes it.
  for (int slice = 0; Device->ReadPending() && slice < 200; ++slice) SleepEx(50, TRUE);
}

void THidDeviceReadThread::DeliverData() {
  if (!Device->FOnData || Report.empty()) return;
  FDelivering = true;
  try {
    Device->FOnData(Device, Report[0], Report.data() + 1, static_cast<std::uint16_t>(BytesRead - 1));
  } catch (...) {
    FDelivering = false;
    throw;
  }
  FDelivering = false;
}

void THidDeviceReadThread::DeliverError() {
  if (Device->OnDataError) Device->OnDataError(Device, LastError);
}
