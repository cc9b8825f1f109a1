// What only the HID library doubles (tools/simconsole) can show: a library
// that lacks a bound name, and a controller without the libraries at all.
// Each test group runs as its own ctest entry with its own library set-up.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hid/Hid.h"
#include "hid/SetupApi.h"
#include "tests/hid/HidSimFixture.h"
#include "tools/simconsole/SimConsole.h"

using namespace hidtest;
using simconsole::TSimConsole;

namespace {

TEST(HidBindings, LoadsAreCountedAndAMissingNameFailsTheWholeLoad) {
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

// Run with SetupApi.dll disabled: the controller stays inert.
TEST(HidInert, WithoutTheHidLibraryTheControllerListsNothing) {
  TSimConsole console;
  simconsole::DeviceProfile profile;
  profile.product = L"QEX PROPRE CONTROLLER";
  console.Plug(profile, false);
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

// With Wine's own libraries: every bound name exists.
TEST(HidRealLibraries, WinesOwnLibrariesBindEveryName) {
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
