#include "hid/DeviceListDiff.h"

#include <gtest/gtest.h>

namespace {

using Indices = std::vector<std::size_t>;

const char kPathA[] = "\\\\?\\root#qexsimhid#0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const char kPathB[] = "\\\\?\\root#qexsimhid#0001#{4d1e55b2-f16f-11cf-88cb-001111000030}";

DeviceIdentity Id(std::uint32_t deviceId, const char* path) { return DeviceIdentity{deviceId, path}; }

ListedDevice Listed(DeviceIdentity identity, bool plugged = true, bool handlesAnswer = true) {
  ListedDevice listed;
  listed.identity = identity;
  listed.plugged = plugged;
  listed.handlesAnswer = handlesAnswer;
  return listed;
}

TEST(DeviceListDiff, TheSameDeviceNeedsBothTheInstanceHandleAndThePath) {
  EXPECT_TRUE(SameDevice(Id(1, kPathA), Id(1, kPathA)));
  // Wine numbers instances afresh in enumeration order: a new console may
  // take a listed one's handle.
  EXPECT_FALSE(SameDevice(Id(1, kPathA), Id(1, kPathB)));
  EXPECT_FALSE(SameDevice(Id(1, kPathA), Id(2, kPathA)));
  // Paths compare exactly, case included.
  EXPECT_FALSE(SameDevice(Id(1, "\\\\?\\HID#A"), Id(1, "\\\\?\\hid#a")));
}

TEST(DeviceListDiff, AnUnchangedListHasNeitherRemovalsNorArrivals) {
  const DeviceListChange change =
      DiffDeviceList({Listed(Id(1, kPathA)), Listed(Id(2, kPathB))}, {Id(2, kPathB), Id(1, kPathA)});
  EXPECT_EQ(change.gone, Indices{});
  EXPECT_EQ(change.arrived, Indices{});
}

TEST(DeviceListDiff, TheFirstEnumerationBringsEveryDeviceInItsOrder) {
  const DeviceListChange change = DiffDeviceList({}, {Id(2, kPathB), Id(1, kPathA)});
  EXPECT_EQ(change.gone, Indices{});
  EXPECT_EQ(change.arrived, (Indices{0, 1}));
}

TEST(DeviceListDiff, ADeviceMissingFromTheEnumerationIsGone) {
  const DeviceListChange change =
      DiffDeviceList({Listed(Id(1, kPathA)), Listed(Id(2, kPathB))}, {Id(2, kPathB)});
  EXPECT_EQ(change.gone, Indices{0});
  EXPECT_EQ(change.arrived, Indices{});
  EXPECT_TRUE(DiffDeviceList({Listed(Id(1, kPathA))}, {}).gone == Indices{0});
}

// A console unplugged while another is plugged: Wine gives the one left the
// unplugged one's instance handle. Both listed objects are gone (one by its
// path, the other by its handle) and the one left arrives as a new object.
TEST(DeviceListDiff, ARenumberedInstanceHandleMakesTheDeviceNew) {
  const DeviceListChange change =
      DiffDeviceList({Listed(Id(1, kPathA)), Listed(Id(2, kPathB))}, {Id(1, kPathB)});
  EXPECT_EQ(change.gone, (Indices{0, 1}));
  EXPECT_EQ(change.arrived, Indices{0});
}

// Unplugged and replugged into the same port before any change is seen: the
// same instance and path, but the listed object's handles are dead.
TEST(DeviceListDiff, AReplugBetweenTwoChangesIsGoneAndNewAtOnce) {
  const DeviceListChange change = DiffDeviceList({Listed(Id(1, kPathA), true, false)}, {Id(1, kPathA)});
  EXPECT_EQ(change.gone, Indices{0});
  EXPECT_EQ(change.arrived, Indices{0});
}

// A claimed object stays listed after its unplug. It never matches again:
// it is reported gone at every change, and the replugged console (same
// instance, same path) arrives as a new object.
TEST(DeviceListDiff, AnUnpluggedObjectIsGoneAtEveryChangeAndItsReplugArrives) {
  const ListedDevice kept = Listed(Id(1, kPathA), false);
  DeviceListChange change = DiffDeviceList({kept}, {});
  EXPECT_EQ(change.gone, Indices{0});
  EXPECT_EQ(change.arrived, Indices{});

  change = DiffDeviceList({kept}, {Id(1, kPathA)});
  EXPECT_EQ(change.gone, Indices{0});
  EXPECT_EQ(change.arrived, Indices{0});

  // Next change: the new object stands for the console, the old is gone again.
  change = DiffDeviceList({kept, Listed(Id(1, kPathA))}, {Id(1, kPathA)});
  EXPECT_EQ(change.gone, Indices{0});
  EXPECT_EQ(change.arrived, Indices{});
}

TEST(DeviceListDiff, ArrivalsSkipOnlyWhatAPluggedAnsweringListedDeviceStandsFor) {
  const std::vector<DeviceIdentity> present = {Id(1, kPathA), Id(2, kPathB)};
  EXPECT_EQ(ArrivedDevices({Listed(Id(1, kPathA))}, present), Indices{1});
  EXPECT_EQ(ArrivedDevices({Listed(Id(1, kPathA), false)}, present), (Indices{0, 1}));
  EXPECT_EQ(ArrivedDevices({Listed(Id(1, kPathA), true, false)}, present), (Indices{0, 1}));
  EXPECT_EQ(ArrivedDevices({Listed(Id(1, kPathA)), Listed(Id(2, kPathB))}, present), Indices{});
}

TEST(DeviceListDiff, HandlesThatStopAnsweringMakeADeviceGoneThoughItIsListed) {
  EXPECT_TRUE(ListedDeviceIsGone(Listed(Id(1, kPathA), true, false), {Id(1, kPathA)}));
  EXPECT_TRUE(ListedDeviceIsGone(Listed(Id(1, kPathA), false, true), {Id(1, kPathA)}));
  EXPECT_FALSE(ListedDeviceIsGone(Listed(Id(1, kPathA)), {Id(3, kPathB), Id(1, kPathA)}));
}

}  // namespace
