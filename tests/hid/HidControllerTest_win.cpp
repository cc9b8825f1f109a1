// The HID controller and devices on the platform's own HID stack: hid.dll,
// setupapi.dll and the HID class driver, with the simulated console's
// minidriver (tools/simhid) as the device. The platform lists HID devices of
// its own too; the tests look at ours only, matched by interface path.
#include <algorithm>
#include <atomic>
#include <set>
#include <stdexcept>

#include "WineTestSupport_win.h"
#include "hid/Hid.h"
#include "hid/SetupApi.h"
#include "support/ScopedHandle.h"
#include "tests/hid/HidSimFixture.h"
#include "tools/simhid/SimHid.h"
#include "tools/simhid/SimHidProtocol.h"

using namespace hidtest;
using simhid::DeviceProfile;
using simhid::Report;
using simhid::TSimHid;

namespace {

DeviceProfile Console(const wchar_t* product = L"QEX PROPRE CONTROLLER", WORD inputLength = 33) {
  DeviceProfile profile;
  profile.product = product;
  profile.inputLength = inputLength;
  return profile;
}

class HidSim : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(console.Install(testing_support::PathFromEnv("QEX_SIMHID_DRIVERS"), &error)) << error;
    rec.ours = [this](THidDevice* d) { return Ours(d); };
  }
  void TearDown() override {
    delete controller;
    controller = nullptr;
  }

  // Plugs a console and remembers its interface path; 0 on failure.
  DWORD Plug(const DeviceProfile& profile, bool broadcast = true) {
    const DWORD serial = console.Plug(profile, broadcast);
    EXPECT_NE(serial, 0u) << console.LastError();
    if (serial) paths.insert(console.DevicePath(serial));
    return serial;
  }

  // Creates the controller with the recorder's handlers and lets the first,
  // posted notification run.
  void Start(bool withUnplug = true) {
    controller = new THidDeviceController(nullptr);
    ASSERT_NE(controller->NotifyWindow(), nullptr) << "libraries not bound";
    controller->OnArrival = rec.ArrivalEvent();
    controller->OnRemoval = rec.RemovalEvent();
    controller->SetLoading(true);
    controller->SetOnDeviceChange(rec.ChangeEvent());
    controller->SetLoading(false);
    if (withUnplug) controller->SetOnDeviceUnplug(rec.UnplugEvent());
    // The platform's own notices may follow at once and overwrite ChangeParam.
    ASSERT_TRUE(PumpUntil([&] { return rec.sawFirstChange; }, 30000));
    foreign = static_cast<int>(controller->Devices().size() - Listed().size());
  }

  bool Ours(THidDevice* d) const { return paths.count(d->PnPInfo().DevicePath) != 0; }
  // Our devices in the controller's list, in its order.
  std::vector<THidDevice*> Listed() const {
    std::vector<THidDevice*> ours;
    for (THidDevice* d : controller->Devices())
      if (Ours(d)) ours.push_back(d);
    return ours;
  }
  THidDevice* Listed(std::size_t i) const { return Listed().at(i); }

  // Pumps until nothing has been recorded for a second: the platform sends
  // device-nodes-changed notices of its own after a plug or an unplug,
  // besides the harness's broadcast.
  void Settle() {
    for (int i = 0; i < 10; ++i) {
      const std::size_t seen = rec.log.size();
      Pump(1000);
      if (rec.log.size() == seen) return;
    }
  }
  // The log starts with `first`; each further change (the platform's own
  // notices) only reports the claimed unplugged object removed again.
  void ExpectLogThenStaleRemovals(const std::vector<std::string>& first) {
    ASSERT_GE(rec.log.size(), first.size());
    EXPECT_EQ(std::vector<std::string>(rec.log.begin(), rec.log.begin() + first.size()), first);
    for (std::size_t i = first.size(); i < rec.log.size(); ++i)
      EXPECT_EQ(rec.log[i], (i - first.size()) % 2 == 0 ? "removal" : "change") << "entry " << i;
  }

  // Waits until `count` of our devices are listed; a device whose interface
  // has just appeared may not open yet, so the change is sent again.
  bool ListsWithin(std::size_t count, int timeoutMs) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    while (Listed().size() != count) {
      if (GetTickCount64() >= end) return false;
      Pump(500);
      TSimHid::Broadcast();
    }
    return true;
  }

  // Unplugs on another thread while this one keeps handling changes. Under
  // Wine a read that reaches the class driver while the device is being
  // removed holds the removal until its handle closes; the controller closes
  // it once a change shows the device's handles dead, as the agent's own
  // message loop would.
  struct UnplugJob {
    TSimHid* console;
    DWORD serial;
    bool ok;
  };
  static DWORD WINAPI RunUnplug(void* raw) {
    auto* job = static_cast<UnplugJob*>(raw);
    job->ok = job->console->Unplug(job->serial);
    return 0;
  }
  bool UnplugWhileHandlingChanges(DWORD serial) {
    UnplugJob job = {&console, serial, false};
    HANDLE thread = CreateThread(nullptr, 0, &RunUnplug, &job, 0, nullptr);
    if (!thread) return false;
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, 500, QS_ALLINPUT) != WAIT_OBJECT_0) {
      Pump(10);
      TSimHid::Broadcast();
    }
    CloseHandle(thread);
    Pump(50);  // the harness's own broadcast, sent from that thread
    return job.ok;
  }

  // The read thread of `d` has its handle open and a read outstanding: from
  // here on every input report reaches it.
  bool Reading(THidDevice* d) {
    return PumpUntil([&] { return d->ReadPending(); }, 10000);
  }

  TSimHid console;
  std::set<std::string> paths;
  THidDeviceController* controller = nullptr;
  int foreign = 0;  // the platform's own devices, all free
  Recorder rec;
};

TEST_F(HidSim, FirstNotificationWithoutDevicesFiresOnlyDeviceChange) {
  Start();
  EXPECT_EQ(rec.log, (std::vector<std::string>{"change"}));
  EXPECT_TRUE(Listed().empty());
  EXPECT_EQ(controller->FreeDeviceCount(), foreign);
  EXPECT_EQ(controller->Version(), "1.0.34");
  controller->SetVersion("9.9");
  EXPECT_EQ(controller->Version(), "1.0.34");
}

TEST_F(HidSim, PresentDevicesArriveInEnumerationOrderReadableInsideTheHandler) {
  const DWORD a = Plug(Console(L"First"), false);
  const DWORD b = Plug(Console(L"Second"), false);
  Start();
  EXPECT_EQ(rec.log, (std::vector<std::string>{"arrival:First", "arrival:Second", "change"}));
  ASSERT_EQ(Listed().size(), 2u);
  const THidPnPInfo& info = Listed(0)->PnPInfo();
  EXPECT_EQ(Listed(0)->VendorID(), 0x0483);
  EXPECT_EQ(Listed(0)->ProductID(), 0x5750);
  EXPECT_EQ(info.DevicePath, console.DevicePath(a));
  EXPECT_NE(info.DeviceID, Listed(1)->PnPInfo().DeviceID);
  // The class driver's child, as the platform's registry properties list it.
  EXPECT_EQ(info.ClassName, "HIDClass");
  EXPECT_FALSE(info.DeviceDesc.empty());
  ASSERT_GE(info.HardwareIds.size(), 2u) << "a multi-text list, split";
  for (const std::string& id : info.HardwareIds) EXPECT_EQ(id.rfind("HID", 0), 0u) << id;
  EXPECT_EQ(info.FriendlyName, "");  // failed query: empty
  EXPECT_TRUE(info.UpperFilters.empty());
  EXPECT_EQ(controller->FreeDeviceCount(), 2 + foreign);
  // Outside an event a free device may not be opened: the cache answers,
  // even once the device is gone.
  ASSERT_TRUE(console.Unplug(b, false)) << console.LastError();
  EXPECT_EQ(Listed(1)->ProductName(), L"Second");
  EXPECT_FALSE(Listed(0)->MainHandleOpen()) << "a device is never left open after creation or a product read";
  EXPECT_FALSE(Listed(1)->MainHandleOpen());
}

TEST_F(HidSim, FreeUnplugFiresUnplugRemovalThenChangeAndLeavesTheList) {
  const DWORD a = Plug(Console(), false);
  Start();
  rec.log.clear();
  ASSERT_TRUE(console.Unplug(a)) << console.LastError();  // the broadcast reaches this thread's window directly
  EXPECT_EQ(rec.log, (std::vector<std::string>{"unplug", "removal", "change"}));
  EXPECT_TRUE(Listed().empty());
  EXPECT_EQ(controller->FreeDeviceCount(), foreign);
}

// Replugged into the same port: the same instance and interface path, yet
// the claimed object stays unplugged and a new one arrives.
TEST_F(HidSim, ClaimedUnplugStaysListedAndReplugIsANewObject) {
  const DWORD a = Plug(Console(), false);
  Start();
  THidDevice* first = Listed(0);
  ASSERT_TRUE(first->Claim());
  EXPECT_EQ(controller->ClaimedDeviceCount(), 1);
  EXPECT_EQ(controller->FreeDeviceCount(), foreign);
  rec.log.clear();
  ASSERT_TRUE(console.Unplug(a)) << console.LastError();
  Settle();
  ExpectLogThenStaleRemovals({"unplug", "removal", "change"});
  ASSERT_EQ(Listed().size(), 1u);
  EXPECT_FALSE(first->Plugged());
  EXPECT_EQ(controller->UnpluggedDeviceCount(), 1);
  EXPECT_EQ(controller->ClaimedDeviceCount(), 0);

  rec.log.clear();
  ASSERT_TRUE(console.Replug(a)) << console.LastError();
  Settle();
  ASSERT_EQ(Listed().size(), 2u);
  EXPECT_NE(Listed(1), first);
  EXPECT_EQ(Listed(1)->PnPInfo().DevicePath, first->PnPInfo().DevicePath);
  // The old object never matches: it is reported removed again (its
  // OnUnplug was cleared at the first time).
  ExpectLogThenStaleRemovals({"removal", "arrival:QEX PROPRE CONTROLLER", "change"});
  rec.log.clear();
  TSimHid::Broadcast();
  EXPECT_EQ(rec.log, (std::vector<std::string>{"removal", "change"}));
  delete first;  // its holder gives it back: it leaves the list
  EXPECT_EQ(Listed().size(), 1u);
  EXPECT_EQ(controller->UnpluggedDeviceCount(), 0);
}

// Unplugged and replugged into the same port before any change is seen: the
// same device instance, but the claimed object's handles are dead.
TEST_F(HidSim, AClaimedConsoleReplugBetweenTwoChangesIsANewObject) {
  const DWORD a = Plug(Console(), false);
  Start();
  THidDevice* first = Listed(0);
  ASSERT_TRUE(first->Claim());
  first->SetOnData(rec.DataEvent());
  ASSERT_TRUE(Reading(first));
  rec.log.clear();
  ASSERT_TRUE(console.Unplug(a, false)) << console.LastError();
  ASSERT_TRUE(console.Replug(a, false)) << console.LastError();
  TSimHid::Broadcast();
  Settle();
  ExpectLogThenStaleRemovals({"unplug", "removal", "arrival:QEX PROPRE CONTROLLER", "change"});
  EXPECT_FALSE(first->Plugged());
  ASSERT_EQ(Listed().size(), 2u);
  EXPECT_NE(Listed(1), first);
  EXPECT_TRUE(Listed(1)->Plugged());
  delete first;
}

TEST_F(HidSim, ClaimSucceedsOnlyOnceAndOnlyWhilePlugged) {
  const DWORD a = Plug(Console(), false);
  Plug(Console(L"Other"), false);
  Start();
  THidDevice* d = Listed(0);
  EXPECT_TRUE(d->Claim());
  EXPECT_FALSE(d->Claim());
  EXPECT_EQ(controller->ClaimedDeviceCount(), 1);
  EXPECT_EQ(controller->FreeDeviceCount(), 1 + foreign);
  // Claiming without a data handler starts no thread; setting one does.
  EXPECT_FALSE(d->HasReadThread());
  d->SetOnData(rec.DataEvent());
  EXPECT_TRUE(d->HasReadThread());
  d->SetOnData(THidDataEvent());
  EXPECT_FALSE(d->HasReadThread());

  ASSERT_TRUE(console.Unplug(a)) << console.LastError();
  THidDevice* other = Listed(1);
  other->MarkUnplugged();
  EXPECT_FALSE(other->Claim());
  EXPECT_EQ(controller->FreeDeviceCount(), 1 + foreign);
  EXPECT_EQ(controller->ClaimedDeviceCount(), 0);
}

TEST_F(HidSim, HandlerWritesCompareFunctionPartsOnly) {
  Plug(Console(), false);
  Plug(Console(L"Other"), false);
  Start();
  THidDevice* a = Listed(0);
  THidDevice* b = Listed(1);
  Recorder second;
  // Same function, other object: nothing changes.
  controller->SetOnDeviceUnplug(second.UnplugEvent());
  EXPECT_EQ(controller->OnDeviceUnplug().Object(), &rec);
  EXPECT_EQ(a->OnUnplug.Object(), &rec);
  // A device with its own handler keeps it; the others follow.
  b->OnUnplug = THidPlugEvent::Bind<&Recorder::OtherUnplug>(&rec);
  controller->SetOnDeviceUnplug(THidPlugEvent::Bind<&Recorder::OtherUnplug>(&second));
  EXPECT_EQ(a->OnUnplug.Object(), &second);
  EXPECT_EQ(b->OnUnplug.Object(), &rec);

  controller->SetOnDeviceData(rec.DataEvent());
  EXPECT_TRUE(a->OnData().SameFunction(rec.DataEvent()));
  controller->SetOnDeviceDataError(rec.DataErrorEvent());
  EXPECT_TRUE(b->OnDataError.SameFunction(rec.DataErrorEvent()));

  controller->SetDevThreadSleepTime(5);
  EXPECT_EQ(controller->DevThreadSleepTime(), 5);
  EXPECT_EQ(a->ThreadSleepTime(), 100);
  controller->SetDevThreadSleepTime(200);
  EXPECT_EQ(a->ThreadSleepTime(), 100) << "no device waits 5 ms";
  controller->SetDevThreadSleepTime(100);
  controller->SetDevThreadSleepTime(300);
  EXPECT_EQ(a->ThreadSleepTime(), 300) << "the device waits the stored 100 ms, so it follows";
}

void CountChange(void* counter, TObject*) { ++*static_cast<int*>(counter); }
void CountChangeToo(void* counter, TObject*) { ++*static_cast<int*>(counter); }

TEST_F(HidSim, SettingOnDeviceChangeReEnumeratesAtOnce) {
  Plug(Console(), false);
  Start();
  int changes = 0;
  rec.log.clear();
  // The last notification was the first one (-1): the handler is called.
  controller->SetOnDeviceChange(TNotifyEvent::FromFunction(&CountChange, &changes));
  EXPECT_EQ(changes, 1);
  // The same function with another object changes nothing.
  int ignored = 0;
  controller->SetOnDeviceChange(TNotifyEvent::FromFunction(&CountChange, &ignored));
  EXPECT_EQ(ignored, 0);
  EXPECT_EQ(controller->OnDeviceChange().Object(), &changes);
  // After an ordinary notification with nothing changed, a new handler is
  // not called.
  TSimHid::Broadcast();
  EXPECT_EQ(changes, 1);
  controller->SetOnDeviceChange(rec.ChangeEvent());
  EXPECT_TRUE(rec.log.empty());
  Plug(Console(L"Late"), false);
  controller->SetOnDeviceChange(TNotifyEvent::FromFunction(&CountChangeToo, &changes));
  EXPECT_EQ(changes, 2) << "a device arrived: the change is reported";
  EXPECT_EQ(Listed().size(), 2u);
}

TEST_F(HidSim, ThreadSleepTimeAcceptsTenToTenThousand) {
  Plug(Console(), false);
  Start();
  THidDevice* d = Listed(0);
  d->SetThreadSleepTime(9);
  EXPECT_EQ(d->ThreadSleepTime(), 100);
  d->SetThreadSleepTime(10);
  EXPECT_EQ(d->ThreadSleepTime(), 10);
  d->SetThreadSleepTime(10001);
  EXPECT_EQ(d->ThreadSleepTime(), 10);
  d->SetThreadSleepTime(10000);
  EXPECT_EQ(d->ThreadSleepTime(), 10000);
}

TEST_F(HidSim, ProductNameIsCachedAndAnEmptyCacheClosesTheMainHandle) {
  DeviceProfile console4 = Console();
  console4.outputLength = 4;  // the class driver refuses a write shorter than the report
  DeviceProfile mute = console4;
  mute.productReadable = false;
  const DWORD a = Plug(console4, false);
  const DWORD m = Plug(mute, false);
  Start();
  THidDevice* d = Listed(0);
  THidDevice* silent = Listed(1);
  ASSERT_TRUE(d->Claim());
  ASSERT_TRUE(silent->Claim());

  const std::uint8_t report[4] = {0x00, 0x04, 0x00, 0x05};
  unsigned written = 0;
  ASSERT_TRUE(d->WriteReport(report, sizeof report, &written)) << GetLastError();
  EXPECT_EQ(written, 4u);
  EXPECT_TRUE(d->MainHandleOpen()) << "a write leaves MainHandle open";
  EXPECT_EQ(d->ProductName(), L"QEX PROPRE CONTROLLER");
  EXPECT_TRUE(d->MainHandleOpen()) << "a cached name touches no handle";

  ASSERT_TRUE(silent->WriteReport(report, sizeof report, &written)) << GetLastError();
  EXPECT_EQ(silent->ProductName(), L"");
  EXPECT_FALSE(silent->MainHandleOpen()) << "an empty cache reads again and closes the handle";
  ASSERT_TRUE(silent->WriteReport(report, sizeof report, &written)) << GetLastError();
  EXPECT_TRUE(console.WaitForOutputReports(m, 2, 5000));
  ASSERT_TRUE(console.WaitForOutputReports(a, 1, 5000));
  EXPECT_EQ(console.OutputReports(a)[0], (Report{0x00, 0x04, 0x00, 0x05}));

  ASSERT_TRUE(console.Unplug(a)) << console.LastError();
  EXPECT_EQ(d->ProductName(), L"QEX PROPRE CONTROLLER");
  EXPECT_FALSE(d->WriteReport(report, sizeof report, &written));
  EXPECT_EQ(written, 0u);
}

TEST_F(HidSim, ReadThreadDeliversReportIdAndPayloadApart) {
  const DWORD a = Plug(Console(L"QEX PROPRE CONTROLLER", 9), false);
  Start();
  THidDevice* d = Listed(0);
  ASSERT_TRUE(d->Claim());
  d->SetOnData(rec.DataEvent());
  ASSERT_TRUE(Reading(d));
  ASSERT_TRUE(console.SendInput(a, Report{0x00, 1, 2, 3, 4, 5, 6, 7, 8}));
  ASSERT_TRUE(PumpUntil([&] { return rec.reports.size() == 1; }, 5000));
  EXPECT_EQ(rec.reportIds[0], 0);
  EXPECT_EQ(rec.reports[0], (Report{1, 2, 3, 4, 5, 6, 7, 8}));
  // Switching handlers keeps the thread; the next report goes to the new one.
  d->SetOnData(THidDataEvent::Bind<&Recorder::OtherData>(&rec));
  ASSERT_TRUE(console.SendInput(a, Report{0x00, 9, 9, 9, 9, 9, 9, 9, 9}));
  ASSERT_TRUE(PumpUntil([&] { return !rec.log.empty() && rec.log.back() == "other-data"; }, 5000));
  EXPECT_EQ(rec.reports.size(), 1u);
}

TEST_F(HidSim, DestroyingAClaimedDeviceLeavesAFreeReplacement) {
  Plug(Console(), false);
  Start();
  THidDevice* d = Listed(0);
  controller->SetOnDeviceData(rec.DataEvent());
  ASSERT_TRUE(d->Claim());
  d->SetThreadSleepTime(50);
  d->OnDataError = rec.DataErrorEvent();
  EXPECT_TRUE(d->HasReadThread());
  delete d;
  ASSERT_EQ(Listed().size(), 1u);
  THidDevice* fresh = Listed(0);
  EXPECT_NE(fresh, d);
  EXPECT_FALSE(fresh->Claimed());
  EXPECT_TRUE(fresh->OnData().SameFunction(rec.DataEvent()));
  EXPECT_TRUE(fresh->OnUnplug.SameFunction(rec.UnplugEvent()));
  EXPECT_EQ(fresh->ThreadSleepTime(), 50);
  EXPECT_FALSE(fresh->OnDataError);
  EXPECT_EQ(controller->FreeDeviceCount(), 1 + foreign);
  EXPECT_EQ(controller->ClaimedDeviceCount(), 0);
  EXPECT_TRUE(fresh->Claim()) << "the replacement can be claimed again";
}

// A slot that cannot start (its last device left behind by a removal that
// failed, or, as here, its connection name held by another program) is set
// aside: the plug takes the next slot, and so do the later ones.
TEST_F(HidSim, ASlotThatCannotStartIsSetAsideAndThePlugsGoOnInTheNext) {
  ScopedKernelHandle held(CreateNamedPipeA("\\\\.\\pipe\\" SIMHID_PIPE_PREFIX "1", PIPE_ACCESS_DUPLEX,
                                           PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 0, 0, nullptr));
  ASSERT_TRUE(held);
  const DWORD a = Plug(Console(L"First"), false);
  ASSERT_NE(a, 0u);
  EXPECT_NE(a, 1u);
  held.Reset();
  const DWORD b = Plug(Console(L"Second"), false);
  ASSERT_NE(b, 0u);
  EXPECT_NE(b, 1u) << "a slot set aside is not tried again";
  Start();
  ASSERT_TRUE(ListsWithin(2, 20000));
  EXPECT_EQ(rec.log, (std::vector<std::string>{"arrival:First", "arrival:Second", "change"}));
  ASSERT_TRUE(console.Unplug(a)) << console.LastError();
  ASSERT_TRUE(console.Unplug(b)) << console.LastError();
}

TEST_F(HidSim, AFailedReplacementLeavesNoListEntry) {
  const DWORD a = Plug(Console(), false);
  Start();
  THidDevice* d = Listed(0);
  ASSERT_TRUE(d->Claim());
  ASSERT_TRUE(console.Unplug(a, false)) << console.LastError();  // gone, but no change seen yet: still plugged
  ASSERT_TRUE(d->Plugged());
  delete d;
  EXPECT_TRUE(Listed().empty());
  EXPECT_EQ(controller->ClaimedDeviceCount(), 0);
  TSimHid::Broadcast();  // and the next change finds nothing stale
  EXPECT_TRUE(Listed().empty());
}

TEST_F(HidSim, DestroyingTheControllerReportsTheClaimedDeviceUnplugged) {
  Plug(Console(), false);
  Start();
  THidDevice* d = Listed(0);
  ASSERT_TRUE(d->Claim());
  d->SetOnData(rec.DataEvent());
  rec.log.clear();
  delete controller;
  controller = nullptr;
  EXPECT_EQ(rec.log, (std::vector<std::string>{"unplug"}));
  EXPECT_EQ(d->Controller(), nullptr);
  EXPECT_FALSE(d->Plugged());
  EXPECT_FALSE(HidLibraryLoaded());
  EXPECT_FALSE(SetupLibraryLoaded());
  delete d;  // its holder stops the thread and frees it; no list to update
}

// The unplug of a device whose read is outstanding: the read handle closes
// on the main thread while the read thread waits on it. Repeated, since the
// race is the point; each round replugs the same console.
// A handler that lets the device go from inside the hand-over (an unplug
// handled in a modal box's loop): the thread cannot be waited for there.
struct LetGoInsideTheHandOver {
  THidDevice* device = nullptr;
  bool retiredInside = false;
  void Data(THidDevice* d, std::uint8_t, const std::uint8_t*, std::uint16_t) {
    d->SetOnData(THidDataEvent());
    retiredInside = !d->HasReadThread() && d->HasRetiredThread();
  }
};

TEST_F(HidSim, ReportsThatArriveWhileTheMainThreadIsBusyComeInOrderOnceEach) {
  const DWORD a = Plug(Console(), false);
  Start();
  THidDevice* d = Listed(0);
  ASSERT_TRUE(d->Claim());
  d->SetOnData(rec.DataEvent());
  ASSERT_TRUE(Reading(d));
  // Reports sent while this thread runs no hand-over wait in the thread's
  // read and the handle's buffers, and come out in the order sent, once.
  const int count = 40;
  for (int i = 0; i < count; ++i) {
    Report report(33, 7);
    report[0] = 0x00;
    report[1] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(console.SendInput(a, report));
  }
  Sleep(300);
  ASSERT_TRUE(PumpUntil([&] { return rec.reports.size() >= static_cast<std::size_t>(count); }, 10000))
      << rec.reports.size() << " of " << count;
  Pump(100);
  ASSERT_EQ(rec.reports.size(), static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) EXPECT_EQ(rec.reports[static_cast<std::size_t>(i)][0], i) << "report " << i;
}

TEST_F(HidSim, AHandlerThatThrowsEndsTheThreadOnlyOnceItsReadsHaveEnded) {
  const DWORD a = Plug(Console(), false);
  Start();
  THidDevice* d = Listed(0);
  ASSERT_TRUE(d->Claim());
  struct Thrower {
    void Data(THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) { throw std::runtime_error("handler"); }
  } thrower;
  // The hook runs on the read thread once Execute has left: the platform
  // must no longer be writing into the thread's buffers by then.
  std::atomic<int> pendingAtEnd{-1};
  TThread::SetExceptionHook([&](std::exception_ptr) { pendingAtEnd = d->ReadPending() ? 1 : 0; });
  d->SetOnData(THidDataEvent::Bind<&Thrower::Data>(&thrower));
  ASSERT_TRUE(Reading(d));
  ASSERT_TRUE(console.SendInput(a, Report(33, 1)));
  const bool ended = PumpUntil([&] { return pendingAtEnd >= 0; }, 10000);
  TThread::SetExceptionHook(nullptr);
  ASSERT_TRUE(ended);
  EXPECT_EQ(pendingAtEnd, 0);
  d->SetOnData(THidDataEvent());
  EXPECT_FALSE(d->HasReadThread());
}

TEST_F(HidSim, AThreadStoppedInsideItsHandOverIsGivenBackOnceItHasEnded) {
  const DWORD a = Plug(Console(), false);
  Start();
  THidDevice* d = Listed(0);
  ASSERT_TRUE(d->Claim());
  LetGoInsideTheHandOver handler;
  d->SetOnData(THidDataEvent::Bind<&LetGoInsideTheHandOver::Data>(&handler));
  ASSERT_TRUE(Reading(d));
  ASSERT_TRUE(console.SendInput(a, Report(33, 1)));
  ASSERT_TRUE(PumpUntil([&] { return handler.retiredInside; }, 5000));
  // Nothing else touches this device again (an unplugged console stays
  // listed): the next change reaps the thread once it has ended.
  EXPECT_TRUE(PumpUntil(
      [&] {
        controller->DeviceChange();
        return !d->HasRetiredThread();
      },
      5000));
  delete d;
}

TEST_F(HidSim, UnplugWhileAReadIsOutstandingNeverReadsAClosedHandle) {
  Start(false);
  const DWORD a = Plug(Console());
  for (int round = 0; round < 25; ++round) {
    if (round > 0) {
      ASSERT_TRUE(console.Replug(a)) << "round " << round << ": " << console.LastError();
    }
    ASSERT_TRUE(ListsWithin(1, 10000)) << "round " << round;
    THidDevice* d = Listed(0);
    d->SetThreadSleepTime(10);
    ASSERT_TRUE(d->Claim());
    d->OnDataError = rec.DataErrorEvent();
    d->SetOnData(rec.DataEvent());
    if (round % 2 == 0) {
      ASSERT_TRUE(Reading(d)) << "round " << round;
      console.SendInput(a, Report(33, static_cast<std::uint8_t>(round)));
      Pump(round % 4 == 0 ? 0 : 15);
    }
    rec.errors.clear();
    ASSERT_TRUE(UnplugWhileHandlingChanges(a)) << "round " << round << ": " << console.LastError();
    EXPECT_FALSE(d->Plugged());
    // The thread keeps running until its holder stops it: every cycle now
    // fails to start a read before touching a handle (a read on the closed
    // handle would fail with ERROR_INVALID_HANDLE).
    EXPECT_TRUE(PumpUntil([&] { return rec.errors.size() >= 2; }, 5000));
    EXPECT_TRUE(d->HasReadThread());
    EXPECT_EQ(std::count(rec.errors.begin(), rec.errors.end(), ERROR_INVALID_HANDLE), 0);
    const std::size_t reports = rec.reports.size();
    d->SetOnData(THidDataEvent());
    EXPECT_FALSE(d->HasReadThread());
    EXPECT_FALSE(d->ReadPending());
    EXPECT_EQ(rec.reports.size(), reports);
    delete d;
    rec.errors.clear();
  }
  EXPECT_TRUE(Listed().empty());
}

}  // namespace
