// The HID controller and devices with the simulated HID.dll and SetupApi.dll:
// real pipes opened with CreateFileA, real overlapped reads and writes.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hid/Hid.h"
#include "hid/SetupApi.h"
#include "tests/hid/HidSimFixture.h"

using namespace hidtest;
using simconsole::DeviceProfile;
using simconsole::Report;
using simconsole::TSimConsole;

namespace hidtest {

DeviceProfile Console(const wchar_t* product, WORD inputLength) {
  DeviceProfile profile;
  profile.product = product;
  profile.inputLength = inputLength;
  return profile;
}

}  // namespace hidtest

namespace {

constexpr std::uint32_t kFirst = 0xFFFFFFFFu;

class HidSim : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("QEX_HID_INERT")) GTEST_SKIP() << "run without HID.dll";
    ASSERT_TRUE(console.Ok());
  }
  void TearDown() override {
    delete controller;
    controller = nullptr;
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
    ASSERT_TRUE(PumpUntil([&] { return controller->ChangeParam() == kFirst; }, 5000));
  }

  THidDevice* Listed(std::size_t i) const { return controller->Devices().at(i); }

  TSimConsole console;
  THidDeviceController* controller = nullptr;
  Recorder rec;
};

TEST_F(HidSim, FirstNotificationWithoutDevicesFiresOnlyDeviceChange) {
  Start();
  EXPECT_EQ(rec.log, (std::vector<std::string>{"change"}));
  EXPECT_TRUE(controller->Devices().empty());
  EXPECT_EQ(controller->Version(), "1.0.34");
  controller->SetVersion("9.9");
  EXPECT_EQ(controller->Version(), "1.0.34");
}

TEST_F(HidSim, PresentDevicesArriveInEnumerationOrderReadableInsideTheHandler) {
  const DWORD a = console.Plug(Console(L"First"), false);
  const DWORD b = console.Plug(Console(L"Second"), false);
  Start();
  EXPECT_EQ(rec.log, (std::vector<std::string>{"arrival:First", "arrival:Second", "change"}));
  ASSERT_EQ(controller->Devices().size(), 2u);
  EXPECT_EQ(Listed(0)->VendorID(), 0x0483);
  EXPECT_EQ(Listed(0)->ProductID(), 0x5750);
  EXPECT_EQ(Listed(0)->PnPInfo().DeviceID, a);
  EXPECT_EQ(Listed(0)->PnPInfo().DevicePath, console.DevicePath(a));
  EXPECT_EQ(Listed(0)->PnPInfo().DeviceDesc, "Simulated HID device");
  EXPECT_EQ(Listed(0)->PnPInfo().HardwareIds, (std::vector<std::string>{"HID\\VID_0483&PID_5750", "HID_DEVICE"}));
  EXPECT_EQ(Listed(0)->PnPInfo().Capabilities, 0x84u);
  EXPECT_EQ(Listed(0)->PnPInfo().FriendlyName, "");  // failed query: empty
  EXPECT_TRUE(Listed(0)->PnPInfo().UpperFilters.empty());
  EXPECT_EQ(Listed(0)->PnPInfo().UiNumber, 0u);
  EXPECT_EQ(controller->FreeDeviceCount(), 2);
  // Outside an event a free device may not be opened: the cache answers.
  EXPECT_EQ(Listed(1)->ProductName(), L"Second");
  EXPECT_EQ(console.ProductReads(b), 1);
  EXPECT_TRUE(PumpUntil([&] { return console.OpenHandles(a) == 0 && console.OpenHandles(b) == 0; }, 3000))
      << "a device is never left open after creation or a product read";
}

TEST_F(HidSim, FreeUnplugFiresUnplugRemovalThenChangeAndLeavesTheList) {
  const DWORD a = console.Plug(Console(), false);
  Start();
  rec.log.clear();
  console.Unplug(a);  // the broadcast reaches this thread's window directly
  EXPECT_EQ(rec.log, (std::vector<std::string>{"unplug", "removal", "change"}));
  EXPECT_TRUE(controller->Devices().empty());
  EXPECT_EQ(controller->FreeDeviceCount(), 0);
}

TEST_F(HidSim, ClaimedUnplugStaysListedAndReplugIsANewObject) {
  const DWORD a = console.Plug(Console(), false);
  Start();
  THidDevice* first = Listed(0);
  ASSERT_TRUE(first->Claim());
  EXPECT_EQ(controller->ClaimedDeviceCount(), 1);
  EXPECT_EQ(controller->FreeDeviceCount(), 0);
  rec.log.clear();
  console.Unplug(a);
  EXPECT_EQ(rec.log, (std::vector<std::string>{"unplug", "removal", "change"}));
  ASSERT_EQ(controller->Devices().size(), 1u);
  EXPECT_FALSE(first->Plugged());
  EXPECT_EQ(controller->UnpluggedDeviceCount(), 1);
  EXPECT_EQ(controller->ClaimedDeviceCount(), 0);

  rec.log.clear();
  console.Plug(Console());
  ASSERT_EQ(controller->Devices().size(), 2u);
  EXPECT_NE(Listed(1), first);
  // The old object never matches: it is reported removed again (its
  // OnUnplug was cleared at the first time).
  EXPECT_EQ(rec.log, (std::vector<std::string>{"removal", "arrival:QEX PROPRE CONTROLLER", "change"}));
  rec.log.clear();
  TSimConsole::Broadcast();
  EXPECT_EQ(rec.log, (std::vector<std::string>{"removal", "change"}));
  delete first;  // its holder gives it back: it leaves the list
  EXPECT_EQ(controller->Devices().size(), 1u);
  EXPECT_EQ(controller->UnpluggedDeviceCount(), 0);
}

TEST_F(HidSim, ClaimSucceedsOnlyOnceAndOnlyWhilePlugged) {
  const DWORD a = console.Plug(Console(), false);
  console.Plug(Console(L"Other"), false);
  Start();
  THidDevice* d = Listed(0);
  EXPECT_TRUE(d->Claim());
  EXPECT_FALSE(d->Claim());
  EXPECT_EQ(controller->ClaimedDeviceCount(), 1);
  EXPECT_EQ(controller->FreeDeviceCount(), 1);
  // Claiming without a data handler starts no thread; setting one does.
  EXPECT_FALSE(d->HasReadThread());
  d->SetOnData(rec.DataEvent());
  EXPECT_TRUE(d->HasReadThread());
  d->SetOnData(THidDataEvent());
  EXPECT_FALSE(d->HasReadThread());

  console.Unplug(a);
  THidDevice* other = Listed(1);
  other->MarkUnplugged();
  EXPECT_FALSE(other->Claim());
  EXPECT_EQ(controller->FreeDeviceCount(), 1);
  EXPECT_EQ(controller->ClaimedDeviceCount(), 0);
}

TEST_F(HidSim, HandlerWritesCompareFunctionPartsOnly) {
  console.Plug(Console(), false);
  console.Plug(Console(L"Other"), false);
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
  console.Plug(Console(), false);
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
  TSimConsole::Broadcast();
  EXPECT_EQ(changes, 1);
  controller->SetOnDeviceChange(rec.ChangeEvent());
  EXPECT_TRUE(rec.log.empty());
  console.Plug(Console(L"Late"), false);
  controller->SetOnDeviceChange(TNotifyEvent::FromFunction(&CountChangeToo, &changes));
  EXPECT_EQ(changes, 2) << "a device arrived: the change is reported";
  EXPECT_EQ(controller->Devices().size(), 2u);
}

TEST_F(HidSim, ThreadSleepTimeAcceptsTenToTenThousand) {
  console.Plug(Console(), false);
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
  DeviceProfile mute = Console();
  mute.productReadable = false;
  const DWORD a = console.Plug(Console(), false);
  const DWORD m = console.Plug(mute, false);
  Start();
  THidDevice* d = Listed(0);
  THidDevice* silent = Listed(1);
  ASSERT_TRUE(d->Claim());
  ASSERT_TRUE(silent->Claim());
  EXPECT_EQ(console.ProductReads(a), 1);

  const std::uint8_t report[4] = {0x00, 0x04, 0x00, 0x05};
  unsigned written = 0;
  ASSERT_TRUE(d->WriteReport(report, sizeof report, &written));
  EXPECT_EQ(written, 4u);
  EXPECT_TRUE(d->MainHandleOpen()) << "a write leaves MainHandle open";
  EXPECT_EQ(d->ProductName(), L"QEX PROPRE CONTROLLER");
  EXPECT_TRUE(d->MainHandleOpen()) << "a cached name touches no handle";
  EXPECT_EQ(console.ProductReads(a), 1);

  ASSERT_TRUE(silent->WriteReport(report, sizeof report, &written));
  EXPECT_EQ(silent->ProductName(), L"");
  EXPECT_FALSE(silent->MainHandleOpen()) << "an empty cache reads again and closes the handle";
  ASSERT_TRUE(silent->WriteReport(report, sizeof report, &written));
  EXPECT_TRUE(console.WaitForOutputReports(m, 2, 3000));
  ASSERT_TRUE(console.WaitForOutputReports(a, 1, 3000));
  EXPECT_EQ(console.OutputReports(a)[0], (Report{0x00, 0x04, 0x00, 0x05}));

  console.Unplug(a);
  EXPECT_EQ(d->ProductName(), L"QEX PROPRE CONTROLLER");
  EXPECT_FALSE(d->WriteReport(report, sizeof report, &written));
  EXPECT_EQ(written, 0u);
}

TEST_F(HidSim, ReadThreadDeliversReportIdAndPayloadApart) {
  const DWORD a = console.Plug(Console(L"QEX PROPRE CONTROLLER", 9), false);
  Start();
  THidDevice* d = Listed(0);
  ASSERT_TRUE(d->Claim());
  d->SetOnData(rec.DataEvent());
  ASSERT_TRUE(console.WaitForSteadyHandle(a, 5000));
  ASSERT_GE(console.SendInput(a, Report{0x00, 1, 2, 3, 4, 5, 6, 7, 8}), 1);
  ASSERT_TRUE(PumpUntil([&] { return rec.reports.size() == 1; }, 5000));
  EXPECT_EQ(rec.reportIds[0], 0);
  EXPECT_EQ(rec.reports[0], (Report{1, 2, 3, 4, 5, 6, 7, 8}));
  // Switching handlers keeps the thread; the next report goes to the new one.
  d->SetOnData(THidDataEvent::Bind<&Recorder::OtherData>(&rec));
  ASSERT_GE(console.SendInput(a, Report{0x01, 9, 9, 9, 9, 9, 9, 9, 9}), 1);
  ASSERT_TRUE(PumpUntil([&] { return !rec.log.empty() && rec.log.back() == "other-data"; }, 5000));
  EXPECT_EQ(rec.reports.size(), 1u);
}

TEST_F(HidSim, DestroyingAClaimedDeviceLeavesAFreeReplacement) {
  console.Plug(Console(), false);
  Start();
  THidDevice* d = Listed(0);
  controller->SetOnDeviceData(rec.DataEvent());
  ASSERT_TRUE(d->Claim());
  d->SetThreadSleepTime(50);
  d->OnDataError = rec.DataErrorEvent();
  EXPECT_TRUE(d->HasReadThread());
  delete d;
  ASSERT_EQ(controller->Devices().size(), 1u);
  THidDevice* fresh = Listed(0);
  EXPECT_NE(fresh, d);
  EXPECT_FALSE(fresh->Claimed());
  EXPECT_TRUE(fresh->OnData().SameFunction(rec.DataEvent()));
  EXPECT_TRUE(fresh->OnUnplug.SameFunction(rec.UnplugEvent()));
  EXPECT_EQ(fresh->ThreadSleepTime(), 50);
  EXPECT_FALSE(fresh->OnDataError);
  EXPECT_EQ(controller->FreeDeviceCount(), 1);
  EXPECT_EQ(controller->ClaimedDeviceCount(), 0);
  EXPECT_TRUE(fresh->Claim()) << "the replacement can be claimed again";
}

TEST_F(HidSim, AFailedReplacementLeavesNoListEntry) {
  const DWORD a = console.Plug(Console(), false);
  Start();
  THidDevice* d = Listed(0);
  ASSERT_TRUE(d->Claim());
  console.Unplug(a, false);  // gone, but no change seen yet: still plugged
  ASSERT_TRUE(d->Plugged());
  delete d;
  EXPECT_TRUE(controller->Devices().empty());
  EXPECT_EQ(controller->ClaimedDeviceCount(), 0);
  TSimConsole::Broadcast();  // and the next change finds nothing stale
  EXPECT_TRUE(controller->Devices().empty());
}

TEST_F(HidSim, DestroyingTheControllerReportsTheClaimedDeviceUnplugged) {
  console.Plug(Console(), false);
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
// race is the point.
TEST_F(HidSim, UnplugWhileAReadIsOutstandingNeverReadsAClosedHandle) {
  Start(false);
  for (int round = 0; round < 25; ++round) {
    const DWORD a = console.Plug(Console());
    ASSERT_EQ(controller->Devices().size(), 1u) << "round " << round;
    THidDevice* d = Listed(0);
    d->SetThreadSleepTime(10);
    ASSERT_TRUE(d->Claim());
    d->OnDataError = rec.DataErrorEvent();
    d->SetOnData(rec.DataEvent());
    if (round % 2 == 0) {
      ASSERT_TRUE(console.WaitForSteadyHandle(a, 5000, 20 + round));
      console.SendInput(a, Report(33, static_cast<std::uint8_t>(round)));
      Pump(round % 4 == 0 ? 0 : 15);
    }
    rec.errors.clear();
    console.Unplug(a);
    EXPECT_FALSE(d->Plugged());
    // The thread keeps running until its holder stops it: every cycle now
    // fails to start a read before touching a handle (a read on the closed
    // handle would fail with ERROR_INVALID_HANDLE).
    Pump(60);
    EXPECT_TRUE(d->HasReadThread());
    EXPECT_FALSE(rec.errors.empty());
    EXPECT_EQ(std::count(rec.errors.begin(), rec.errors.end(), ERROR_INVALID_HANDLE), 0);
    const std::size_t reports = rec.reports.size();
    d->SetOnData(THidDataEvent());
    EXPECT_FALSE(d->HasReadThread());
    EXPECT_FALSE(d->ReadPending());
    EXPECT_EQ(rec.reports.size(), reports);
    delete d;
    rec.errors.clear();
  }
  EXPECT_TRUE(controller->Devices().empty());
}

TEST(HidBindings, LoadsAreCountedAndAMissingNameFailsTheWholeLoad) {
  if (std::getenv("QEX_HID_INERT")) GTEST_SKIP();
  EXPECT_EQ(SetupLibraryLoadCount(), 0);
  EXPECT_FALSE(LoadSetupLibraryFile("qexsim_setupapi_lacking.dll"));
  EXPECT_EQ(SetupLibraryLoadCount(), 0);
  EXPECT_FALSE(SetupLibraryLoaded());
  EXPECT_EQ(SetupApi.SetupDiGetClassDevsA, nullptr);

  ASSERT_TRUE(LoadSetupLibrary());
  ASSERT_TRUE(LoadSetupLibrary());
  EXPECT_NE(SetupApi.SetupDiGetClassDevsA, nullptr);
  EXPECT_EQ(SetupApi.SetupDiGetClassDevsT, SetupApi.SetupDiGetClassDevsA);
  UnloadSetupLibrary();
  EXPECT_TRUE(SetupLibraryLoaded()) << "two loads need two unloads";
  UnloadSetupLibrary();
  EXPECT_FALSE(SetupLibraryLoaded());
  EXPECT_EQ(SetupApi.SetupDiEnumDeviceInterfaces, nullptr);

  EXPECT_FALSE(LoadHidLibraryFile("qexsim_hid_lacking.dll", PlatformVersion{2, 6, 1}));
  EXPECT_FALSE(HidLibraryLoaded());
  EXPECT_EQ(HidApi.HidD_GetAttributes, nullptr);
}

TEST(HidBindings, VersionDependentSlotsFollowThePlatformVersion) {
  if (std::getenv("QEX_HID_INERT")) GTEST_SKIP();
  ASSERT_TRUE(LoadHidLibraryFile(kHidLibraryName, PlatformVersion{2, 10, 0}));
  EXPECT_EQ(HidApi.HidD_GetInputReport, nullptr);
  EXPECT_EQ(HidApi.HidD_SetOutputReport, nullptr);
  EXPECT_NE(HidApi.HidP_GetExtendedAttributes, nullptr);
  EXPECT_EQ(HidApi.HidP_GetButtons, HidApi.HidP_GetUsages);
  UnloadHidLibrary();
  ASSERT_TRUE(LoadHidLibraryFile(kHidLibraryName, PlatformVersion{2, 5, 1}));
  EXPECT_NE(HidApi.HidD_GetInputReport, nullptr);
  UnloadHidLibrary();
  ASSERT_TRUE(LoadHidLibraryFile(kHidLibraryName, PlatformVersion{1, 4, 90}));
  EXPECT_EQ(HidApi.HidP_InitializeReportForID, nullptr);
  UnloadHidLibrary();
  EXPECT_EQ(HidApi.HidP_GetCaps, nullptr);
}

// Run as its own test with SetupApi.dll disabled: the controller stays inert.
TEST(HidInert, WithoutTheHidLibraryTheControllerListsNothing) {
  if (!std::getenv("QEX_HID_INERT")) GTEST_SKIP() << "needs SetupApi.dll disabled";
  TSimConsole console;
  console.Plug(Console(), false);
  Recorder rec;
  THidDeviceController controller(nullptr);
  controller.OnArrival = rec.ArrivalEvent();
  controller.SetOnDeviceChange(rec.ChangeEvent());
  Pump(200);
  TSimConsole::Broadcast();
  EXPECT_EQ(controller.NotifyWindow(), nullptr);
  EXPECT_TRUE(controller.Devices().empty());
  EXPECT_TRUE(rec.log.empty());
  const GUID standard = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  EXPECT_EQ(std::memcmp(&controller.InterfaceGuid(), &standard, sizeof standard), 0);
  EXPECT_FALSE(SetupLibraryLoaded()) << "the setup load is given back";
}

// With Wine's own libraries (no device listed): every bound name exists.
TEST(HidRealLibraries, WinesOwnLibrariesBindEveryName) {
  if (!std::getenv("QEX_HID_REAL")) GTEST_SKIP() << "needs the builtin libraries";
  ASSERT_TRUE(LoadSetupLibrary());
  EXPECT_TRUE(LoadHidLibrary());
  std::printf("bound %d setup names in %d slots, %d HID slots\n", SetupBoundNameCount(), SetupBoundSlotCount(),
              HidBoundSlotCount());
  UnloadHidLibrary();
  UnloadSetupLibrary();
  EXPECT_TRUE(LoadHidLibraryFile(kHidLibraryName, PlatformVersion{2, 5, 1})) << "the NT 5.1 names too";
  UnloadHidLibrary();
}

}  // namespace
