// The thread that reads a claimed device's input reports and hands them to
// the main thread (hid/HidDevice.h).
#include <algorithm>

#include "hid/Hid.h"
#include "hid/HidDevice.h"

THidDeviceReadThread::THidDeviceReadThread(THidDevice* device) : TThread(true), Device(device) {
  HIDP_CAPS caps;
  device->Caps(caps);  // on the creating (main) thread: fetches PreparsedData
  for (ReadSlot& slot : FSlots) {
    slot.Report.assign(caps.InputReportByteLength, 0);
    slot.Overlap.hEvent = &slot;
    slot.Thread = this;
  }
}

void THidDeviceReadThread::Execute() {
  try {
    ReadLoop();
  } catch (...) {
    // A handler's exception ends the thread: the reads still outstanding
    // write into this object, so they must end first.
    FinishReads();
    throw;
  }
  FinishReads();
}

void THidDeviceReadThread::ReadLoop() {
  while (!Terminated()) {
    // Only the cached preparsed data: fetching it here would open MainHandle
    // on this thread while the main thread uses it.
    HIDP_CAPS caps = {};
    if (Device->FPreparsedData && HidApi.HidP_GetCaps) HidApi.HidP_GetCaps(Device->FPreparsedData, &caps);
    const unsigned length = std::min<unsigned>(caps.InputReportByteLength, static_cast<unsigned>(FSlots[0].Report.size()));
    StartReads(length);
    if (FStarted == 0) {
      Synchronize([this] { DeliverError(); });
      // A removed device fails every read at once until the change is
      // handled: wait the sleep time rather than spin through hand-overs.
      if (!Terminated()) SleepEx(static_cast<DWORD>(Device->FThreadSleepTime.load()), TRUE);
      continue;
    }
    // Reads complete in the order they were started; the reports of those
    // that finish meanwhile go with the oldest.
    while (!Terminated() && !FSlots[FOldest].Done) SleepEx(static_cast<DWORD>(Device->FThreadSleepTime.load()), TRUE);
    if (Terminated()) break;
    FReadFailed = false;
    Synchronize([this] { DeliverFinished(); });
    // Reads on a device removed since they started fail as fast as they are
    // started until the change is handled: wait rather than spin.
    if (FReadFailed && !Terminated()) SleepEx(static_cast<DWORD>(Device->FThreadSleepTime.load()), TRUE);
  }
}

void THidDeviceReadThread::StartReads(unsigned length) {
  // After a read that could not start, wait for the outstanding ones to be
  // handed over before trying again: they end soon on a removed device.
  if (FStartFailed && FStarted > 0) return;
  FStartFailed = false;
  while (FStarted < kReadDepth) {
    ReadSlot& slot = FSlots[(FOldest + FStarted) % kReadDepth];
    std::fill_n(slot.Report.begin(), length, 0);
    slot.BytesRead = 0;
    slot.Done = slot.Failed = false;
    if (!Device->StartRead(slot.Report.data(), length, &slot.Overlap, &ReadDone)) {
      LastError = GetLastError();
      FStartFailed = true;
      return;
    }
    ++FStarted;
  }
}

void CALLBACK THidDeviceReadThread::ReadDone(DWORD error, DWORD bytes, LPOVERLAPPED overlapped) {
  auto* slot = static_cast<ReadSlot*>(overlapped->hEvent);
  // A cancelled or failed read carries no report.
  slot->Failed = error != ERROR_SUCCESS;
  slot->BytesRead = slot->Failed ? 0 : bytes;
  slot->Done = true;
  slot->Thread->Device->ReadCompleted();
}

void THidDeviceReadThread::FinishReads() {
  if (Device->ReadPending()) Device->CancelPendingIo();
  // The platform writes into the slots until their completion routines have
  // run; none may go away before that. Closing or cancelling ends the reads
  // promptly; the bound only guards a platform that never completes them.
  for (int slice = 0; Device->ReadPending() && slice < 200; ++slice) SleepEx(50, TRUE);
}

void THidDeviceReadThread::DeliverFinished() {
  FDelivering = true;
  try {
    while (FStarted > 0 && FSlots[FOldest].Done) {
      const ReadSlot& slot = FSlots[FOldest];
      FOldest = (FOldest + 1) % kReadDepth;
      --FStarted;
      FReadFailed = FReadFailed || slot.Failed;
      // A handler that stopped this thread (an unplug inside its modal box)
      // also cleared OnData: the rest of the batch is not delivered.
      if (slot.BytesRead == 0 || !Device->FOnData || slot.Report.empty() || Terminated()) continue;
      Device->FOnData(Device, slot.Report[0], slot.Report.data() + 1, static_cast<std::uint16_t>(slot.BytesRead - 1));
    }
  } catch (...) {
    FDelivering = false;
    throw;
  }
  FDelivering = false;
}

void THidDeviceReadThread::DeliverError() {
  if (Device->OnDataError) Device->OnDataError(Device, LastError);
}
