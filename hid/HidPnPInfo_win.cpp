#include "hid/HidPnPInfo.h"

#include "hid/PnPBuffers.h"
#include "hid/SetupApi.h"

namespace {

// The buffers are queried as the platform fills them: a failed query leaves
// the pre-set contents (0, or an empty text).
class PropertyReader {
 public:
  PropertyReader(HDEVINFO set, SP_DEVINFO_DATA* info) : set_(set), info_(info) {}

  std::uint32_t Number(DWORD property) {
    unsigned char buffer[4] = {};
    Query(property, buffer, sizeof buffer);
    return PropertyNumber(buffer);
  }
  std::string Text(DWORD property) {
    std::vector<char> buffer(1024);
    buffer[0] = 0;
    Query(property, buffer.data(), buffer.size());
    return PropertyText(buffer.data(), buffer.size());
  }
  std::vector<std::string> TextList(DWORD property) {
    std::vector<char> buffer(16384);
    buffer[0] = 0;
    Query(property, buffer.data(), buffer.size());
    return PropertyTextList(buffer.data(), buffer.size());
  }

 private:
  void Query(DWORD property, void* buffer, std::size_t size) {
    if (!SetupApi.SetupDiGetDeviceRegistryPropertyA) return;
    SetupApi.SetupDiGetDeviceRegistryPropertyA(set_, info_, property, nullptr, static_cast<PBYTE>(buffer),
                                               static_cast<DWORD>(size), nullptr);
  }

  HDEVINFO set_;
  SP_DEVINFO_DATA* info_;
};

}  // namespace

THidPnPInfo::THidPnPInfo(HDEVINFO set, const SP_DEVINFO_DATA& info, const std::string& devicePath)
    : DeviceID(info.DevInst), DevicePath(devicePath), FDeviceInfo(info) {
  PropertyReader r(set, &FDeviceInfo);
  Capabilities = r.Number(SPDRP_CAPABILITIES);
  ClassName = r.Text(SPDRP_CLASS);
  ClassGuid = r.Text(SPDRP_CLASSGUID);
  CompatibleIds = r.TextList(SPDRP_COMPATIBLEIDS);
  ConfigFlags = r.Number(SPDRP_CONFIGFLAGS);
  DeviceDesc = r.Text(SPDRP_DEVICEDESC);
  Driver = r.Text(SPDRP_DRIVER);
  FriendlyName = r.Text(SPDRP_FRIENDLYNAME);
  HardwareIds = r.TextList(SPDRP_HARDWAREID);
  LowerFilters = r.TextList(SPDRP_LOWERFILTERS);
  Mfg = r.Text(SPDRP_MFG);
  UpperFilters = r.TextList(SPDRP_UPPERFILTERS);
  Service = r.Text(SPDRP_SERVICE);
  Address = r.Text(SPDRP_ADDRESS);
  BusNumber = r.Number(SPDRP_BUSNUMBER);
  BusTypeGuid = r.Text(SPDRP_BUSTYPEGUID);
  Characteristics = r.Text(SPDRP_CHARACTERISTICS);
  DevType = r.Number(SPDRP_DEVTYPE);
  EnumeratorName = r.Text(SPDRP_ENUMERATOR_NAME);
  Exclusive = r.Number(SPDRP_EXCLUSIVE);
  LegacyBusType = r.Number(SPDRP_LEGACYBUSTYPE);
  LocationInformation = r.Text(SPDRP_LOCATION_INFORMATION);
  PhysicalDeviceObjectName = r.Text(SPDRP_PHYSICAL_DEVICE_OBJECT_NAME);
  SecuritySds = r.Text(SPDRP_SECURITY_SDS);
  UiNumber = r.Number(SPDRP_UI_NUMBER);
  DevicePowerData = r.Text(SPDRP_DEVICE_POWER_DATA);
}
