// One HID device interface found by the controller, and the thread that
// reads its input reports.
//
// Ownership: the controller owns every listed device that is not claimed; a
// claimed device belongs to its holder, who gives it back by destroying it
// (a fresh free object for the same device then takes its list position).
//
// Threads: everything runs on the main thread except the read loop, which
// touches only the read handle and its overlapped record (under the read
// lock), Caps and the accessibility flags. Every handler runs on the main
// thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hid/HidPnPInfo.h"
#include "hid/WriteBackoff.h"
#include "support/CriticalSection.h"
#include "support/Delegate.h"
#include "support/Exceptions.h"
#include "support/ScopedHandle.h"
#include "support/Win32.h"
#include "toolkit/Thread.h"

class THidDevice;
class THidDeviceController;
class THidDeviceReadThread;

// A device could not be opened or identified.
QEX_DECLARE_EXCEPTION(EControllerError, Exception);

using THidPlugEvent = Event<void(THidDevice* HidDev)>;
// ReportID: the report's first byte; Data: the bytes after it, valid only
// during the call; Size: their count.
using THidDataEvent =
    Event<void(THidDevice* HidDev, std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size)>;
using THidDataErrorEvent = Event<void(THidDevice* HidDev, std::uint32_t Error)>;
using THidEnumerateEvent = Event<bool(THidDevice* HidDev, std::int32_t Idx)>;

class THidDevice : public TObject {
 public:
  // Opens the device for a moment to read its attributes; throws
  // EControllerError "device cannot be opened" / "device cannot be
  // identified", releasing the handle and the PnP record.
  THidDevice(std::unique_ptr<THidPnPInfo> pnpInfo, THidDeviceController* controller);
  ~THidDevice() override;
  THidDevice(const THidDevice&) = delete;
  THidDevice& operator=(const THidDevice&) = delete;

  THidDeviceController* Controller() const { return FController; }
  void SetController(THidDeviceController* controller) { FController = controller; }
  bool Plugged() const { return FPlugged; }
  bool Claimed() const { return FClaimed; }
  bool InControllerEvent() const { return FInControllerEvent; }
  void SetInControllerEvent(bool value) { FInControllerEvent = value; }
  // Plugged and (claimed or inside a controller event): only then may the
  // device be opened.
  bool IsAccessible() const { return FPlugged && (FClaimed || FInControllerEvent); }

  const THidPnPInfo& PnPInfo() const { return *FPnPInfo; }
  const HIDD_ATTRIBUTES& Attributes() const { return FAttributes; }
  std::uint16_t VendorID() const { return FAttributes.VendorID; }
  std::uint16_t ProductID() const { return FAttributes.ProductID; }
  std::uint16_t VersionNumber() const { return FAttributes.VersionNumber; }
  bool ReadWriteAccess() const { return FReadWriteAccess; }
  std::uint32_t MainBufferCount() const { return FMainBufferCount; }
  std::uint32_t ReadBufferCount() const { return FReadBufferCount; }
  bool HasReadThread() const { return FReadThread != nullptr; }
  // A read thread stopped from inside its own hand-over, not yet reaped.
  bool HasRetiredThread() const { return FRetiredThread != nullptr; }
  // True while MainHandle is open (diagnostics and tests).
  bool MainHandleOpen() const { return FMainHandle.IsValid(); }

  // Read from the device once, then cached (also after an unplug).
  std::wstring ProductName();
  PHIDP_PREPARSED_DATA PreparsedData();
  // Zeroes `caps`, then fills it from PreparsedData (all zeros without it).
  void Caps(HIDP_CAPS& caps);

  // Takes a plugged, unclaimed device of a controller; starts the read
  // thread when a data handler is set.
  bool Claim();

  const THidDataEvent& OnData() const { return FOnData; }
  // An unset handler stops the read thread first; a set one starts it once
  // the device is claimed.
  void SetOnData(const THidDataEvent& handler);
  THidDataErrorEvent OnDataError;
  // Fired once, when the device is marked unplugged, then cleared.
  THidPlugEvent OnUnplug;

  std::int32_t ThreadSleepTime() const { return FThreadSleepTime; }
  // Values outside 10..10000 ms are ignored.
  void SetThreadSleepTime(std::int32_t milliseconds);

  // Writes one whole report (report ID first) on MainHandle, which stays
  // open afterwards. Waits at most WriteTimeoutMs for the device to take it:
  // a device that stops taking reports must not freeze the main thread.
  // After a time-out, further writes fail at once (ERROR_RETRY, counted as
  // skipped) while the device still holds that write, and otherwise until a
  // write goes through or TWriteBackoff's pause is over. On failure the
  // thread's last error tells why (ERROR_TIMEOUT when the device did not
  // take the report in time).
  bool WriteReport(const void* buffer, unsigned count, unsigned* written);
  static constexpr DWORD WriteTimeoutMs = 200;
  // Writes skipped since the last call; resets the count.
  std::uint32_t TakeSkippedWrites() { return FBackoff.TakeSkipped(); }
  // Frees the records of abandoned writes the platform has completed since.
  // Main thread; called on every write and device change.
  static void ReapAbandonedWrites();

  // False when an open handle of the device no longer answers (the device
  // was removed since it was opened); true when none is open.
  bool HandlesAnswer();

  // Closes both handles, clears Plugged and fires OnUnplug once.
  void MarkUnplugged();

  bool OpenMainHandle();
  void CloseMainHandle();
  bool OpenReadHandle();
  void CloseReadHandle();

  // Read-thread side: start one overlapped read, its byte count once it has
  // completed, and the cancel of a read still outstanding.
  bool StartRead(void* buffer, unsigned count, LPOVERLAPPED_COMPLETION_ROUTINE routine);
  std::uint32_t ReadResult();
  bool CancelPendingIo();
  // True from a started read until its completion routine has run; the read
  // buffer must stay alive that long.
  bool ReadPending() const { return FReadPending; }

 private:
  friend class THidDeviceReadThread;
  friend class THidDeviceController;

  bool OpenForQueryOrReadWrite();
  void ApplyBufferCount(HANDLE handle, std::uint32_t& count);
  void StartReadThread();
  void StopReadThread();
  void CloseReadHandleLocked();
  void RetireReadThread();
  // Joins and frees a retired read thread once no hand-over can use it any
  // more; without `wait` only when it has already ended.
  void ReapRetiredThread(bool wait);
  // Gives the write record up with MainHandle (to the abandoned ones while
  // the device still holds the write).
  void ReleaseWrite();

  THidDeviceController* FController = nullptr;
  // Read by the read thread too.
  std::atomic<bool> FPlugged{true};
  bool FClaimed = false;
  std::atomic<bool> FInControllerEvent{false};
  ScopedFile FMainHandle;
  ScopedFile FReadHandle;
  OVERLAPPED FReadOverlap = {};
  HIDD_ATTRIBUTES FAttributes = {};
  std::unique_ptr<THidPnPInfo> FPnPInfo;
  std::wstring FProductName;
  PHIDP_PREPARSED_DATA FPreparsedData = nullptr;
  std::uint32_t FMainBufferCount = 0;
  std::uint32_t FReadBufferCount = 0;
  std::atomic<std::int32_t> FThreadSleepTime{100};  // the read thread sleeps this long
  THidDataEvent FOnData;
  bool FReadWriteAccess = false;
  THidDeviceReadThread* FReadThread = nullptr;
  // A read thread stopped from inside its own hand-over: it ends once the
  // hand-over returns, and is joined later.
  THidDeviceReadThread* FRetiredThread = nullptr;
  // The write the device still holds after its time-out: the platform may
  // use its record and bytes until it ends, so they outlive a time-out.
  struct PendingWrite;
  std::unique_ptr<PendingWrite> FWrite;
  static std::vector<std::unique_ptr<PendingWrite>>& AbandonedWrites();
  TWriteBackoff FBackoff;
  // Guards FReadHandle, FReadOverlap and FReadPending between the main thread
  // (which closes the handle on unplug) and the read thread (which starts
  // reads on it), so no read is ever started on a closed or reused handle.
  CriticalSection FReadLock;
  // Cleared by the read's completion routine on the read thread.
  std::atomic<bool> FReadPending{false};
};

// Reads input reports with overlapped reads and hands each to the main
// thread, blocking until the data handler has returned. Created suspended
// by the device, which owns it.
class THidDeviceReadThread : public TThread {
 public:
  explicit THidDeviceReadThread(THidDevice* device);

  std::uint32_t LastError = 0;
  THidDevice* const Device;
  std::uint32_t BytesRead = 0;
  std::vector<std::uint8_t> Report;
  // True while DeliverData runs on the main thread.
  bool Delivering() const { return FDelivering; }

 protected:
  void Execute() override;

 private:
  void DeliverData();
  void DeliverError();
  void WaitForOutstandingRead();
  // The completion routine of every read: tells the thread that the
  // platform no longer writes into Report.
  static void CALLBACK ReadDone(DWORD error, DWORD bytes, LPOVERLAPPED overlapped);

  bool FDelivering = false;
};
