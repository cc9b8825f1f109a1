// Simulated "SetupApi.dll": lists the harness's present devices as HID
// interfaces. Every other name the agent binds is exported too, by the
// .def file, and fails.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/simconsole/SimTableAccess.h"

using namespace simconsole;

namespace {

struct Member {
  DWORD serial;
  std::string path;
};

// A device-information set: the devices present when it was opened.
struct Snapshot {
  DWORD magic;
  std::vector<Member> members;
};
constexpr DWORD kSnapshotMagic = 0x51535353;  // "QSSS"

Snapshot* FromSet(HDEVINFO set) {
  auto* snapshot = static_cast<Snapshot*>(set);
  if (!snapshot || set == INVALID_HANDLE_VALUE || snapshot->magic != kSnapshotMagic) return nullptr;
  return snapshot;
}

const Member* MemberOf(Snapshot* snapshot, ULONG_PTR reserved) {
  if (!snapshot || reserved == 0 || reserved > snapshot->members.size()) return nullptr;
  return &snapshot->members[reserved - 1];
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Copies a property value the way the platform does: too small a buffer
// fails with ERROR_INSUFFICIENT_BUFFER and leaves it untouched.
BOOL PutProperty(const void* value, DWORD size, DWORD type, PDWORD regType, PBYTE buffer, DWORD bufferSize,
                 PDWORD required) {
  if (required) *required = size;
  if (regType) *regType = type;
  if (!buffer || bufferSize < size) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, value, size);
  return TRUE;
}

}  // namespace

extern "C" {

BOOL WINAPI SimUnsupported() { return Fail(ERROR_CALL_NOT_IMPLEMENTED); }

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags) {
  auto* snapshot = new Snapshot{kSnapshotMagic, {}};
  const bool wantsHid = classGuid && std::memcmp(classGuid, &kHidClass, sizeof(GUID)) == 0 &&
                        (flags & DIGCF_DEVICEINTERFACE) && !enumerator;
  if (wantsHid) {
    TableLock lock;
    if (Table* table = OpenTable()) {
      for (const DeviceEntry& entry : table->devices) {
        if (!entry.present) continue;
        snapshot->members.push_back(Member{entry.serial, kPipePathPrefix + std::to_string(entry.serial)});
      }
    }
  }
  return snapshot;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  Snapshot* snapshot = FromSet(set);
  if (!snapshot) return Fail(ERROR_INVALID_HANDLE);
  snapshot->magic = 0;
  delete snapshot;
  return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device, const GUID* classGuid, DWORD index,
                                        PSP_DEVICE_INTERFACE_DATA data) {
  Snapshot* snapshot = FromSet(set);
  if (!snapshot) return Fail(ERROR_INVALID_HANDLE);
  if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
  if (index >= snapshot->members.size()) return Fail(ERROR_NO_MORE_ITEMS);
  data->InterfaceClassGuid = kHidClass;
  data->Flags = SPINT_ACTIVE;
  data->Reserved = index + 1;
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                             PDWORD required, PSP_DEVINFO_DATA device) {
  Snapshot* snapshot = FromSet(set);
  if (!snapshot) return Fail(ERROR_INVALID_HANDLE);
  const Member* member = data ? MemberOf(snapshot, data->Reserved) : nullptr;
  if (!member) return Fail(ERROR_INVALID_PARAMETER);
  const DWORD need =
      static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + member->path.size() + 1);
  if (required) *required = need;
  if (detail && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return Fail(ERROR_INVALID_USER_BUFFER);
  if (!detail || detailSize < need) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (device && device->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
  std::memcpy(detail->DevicePath, member->path.c_str(), member->path.size() + 1);
  if (device) {
    device->ClassGuid = kHidClass;
    device->DevInst = member->serial;
    device->Reserved = data->Reserved;
  }
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property,
                                              PDWORD regType, PBYTE buffer, DWORD bufferSize, PDWORD required) {
  Snapshot* snapshot = FromSet(set);
  if (!snapshot) return Fail(ERROR_INVALID_HANDLE);
  const Member* member = device ? MemberOf(snapshot, device->Reserved) : nullptr;
  if (!member) return Fail(ERROR_INVALID_PARAMETER);
  WORD vendor = 0, product = 0;
  {
    TableLock lock;
    if (const DeviceEntry* entry = EntryForSerial(OpenTable(), member->serial)) {
      vendor = entry->vendorId;
      product = entry->productId;
    }
  }
  auto text = [&](const std::string& value) {
    return PutProperty(value.c_str(), static_cast<DWORD>(value.size() + 1), REG_SZ, regType, buffer, bufferSize,
                       required);
  };
  auto number = [&](DWORD value) {
    return PutProperty(&value, sizeof value, REG_DWORD, regType, buffer, bufferSize, required);
  };
  switch (property) {
    case SPDRP_DEVICEDESC:
      return text("Simulated HID device");
    case SPDRP_CLASS:
      return text("HIDClass");
    case SPDRP_CLASSGUID:
      return text("{745a17a0-74d3-11d0-b6fe-00a0c90f57da}");
    case SPDRP_MFG:
      return text("QEX simulation");
    case SPDRP_SERVICE:
      return text("HidUsb");
    case SPDRP_HARDWAREID: {
      char ids[96];
      const int n = std::snprintf(ids, sizeof ids, "HID\\VID_%04X&PID_%04X%cHID_DEVICE%c", vendor, product, 0, 0);
      return PutProperty(ids, static_cast<DWORD>(n + 1), REG_MULTI_SZ, regType, buffer, bufferSize, required);
    }
    case SPDRP_CAPABILITIES:
      return number(0x00000084);
    case SPDRP_ADDRESS:  // stored as a raw number
      return number(member->serial);
    default:
      return Fail(ERROR_INVALID_DATA);
  }
}

}  // extern "C"
