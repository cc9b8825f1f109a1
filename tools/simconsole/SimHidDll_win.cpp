// Simulated "HID.dll": answers for the harness's devices (named pipes,
// opened with the real CreateFileA) from the shared device table. Every
// other name the agent binds is exported too, by the .def file, and fails.
#include <cstring>
#include <cwchar>

#include "tools/simconsole/SimTableAccess.h"

using namespace simconsole;

namespace {

struct SimPreparsedData {
  DWORD magic;
  WORD inputLength, outputLength, featureLength;
};
constexpr DWORD kPreparsedMagic = 0x51535050;  // "QSPP"

}  // namespace

extern "C" {

BOOL WINAPI SimUnsupported() {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

void WINAPI HidD_GetHidGuid(LPGUID guid) {
  if (guid) *guid = kHidClass;
}

BOOLEAN WINAPI HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
  TableLock lock;
  DeviceEntry* entry = EntryForHandle(OpenTable(), device);
  if (!entry || !entry->attributesReadable || !attributes) return FALSE;
  attributes->VendorID = entry->vendorId;
  attributes->ProductID = entry->productId;
  attributes->VersionNumber = entry->versionNumber;
  return TRUE;
}

BOOLEAN WINAPI HidD_GetProductString(HANDLE device, PVOID buffer, ULONG length) {
  TableLock lock;
  DeviceEntry* entry = EntryForHandle(OpenTable(), device);
  if (!entry || !entry->productReadable || !buffer) return FALSE;
  const std::size_t chars = wcsnlen(entry->product, kProductChars);
  const std::size_t room = length / sizeof(WCHAR);
  if (room == 0) return FALSE;
  const std::size_t copy = chars < room ? chars : room;
  std::memcpy(buffer, entry->product, copy * sizeof(WCHAR));
  if (copy < room) static_cast<WCHAR*>(buffer)[copy] = 0;
  ++entry->productReads;
  return TRUE;
}

BOOLEAN WINAPI HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* data) {
  TableLock lock;
  DeviceEntry* entry = EntryForHandle(OpenTable(), device);
  if (!entry || !data) return FALSE;
  auto* parsed = static_cast<SimPreparsedData*>(HeapAlloc(GetProcessHeap(), 0, sizeof(SimPreparsedData)));
  if (!parsed) return FALSE;
  *parsed = SimPreparsedData{kPreparsedMagic, entry->inputLength, entry->outputLength, entry->featureLength};
  *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(parsed);
  ++entry->preparsedReads;
  return TRUE;
}

BOOLEAN WINAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA data) {
  auto* parsed = reinterpret_cast<SimPreparsedData*>(data);
  if (!parsed || parsed->magic != kPreparsedMagic) return FALSE;
  parsed->magic = 0;
  HeapFree(GetProcessHeap(), 0, parsed);
  return TRUE;
}

NTSTATUS WINAPI HidP_GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps) {
  auto* parsed = reinterpret_cast<SimPreparsedData*>(data);
  if (!parsed || parsed->magic != kPreparsedMagic || !caps) return HIDP_STATUS_INVALID_PREPARSED_DATA;
  std::memset(caps, 0, sizeof *caps);
  caps->UsagePage = 0xFF00;
  caps->Usage = 0x0001;
  caps->InputReportByteLength = parsed->inputLength;
  caps->OutputReportByteLength = parsed->outputLength;
  caps->FeatureReportByteLength = parsed->featureLength;
  return HIDP_STATUS_SUCCESS;
}

BOOLEAN WINAPI HidD_GetNumInputBuffers(HANDLE device, PULONG count) {
  if (!count) return FALSE;
  *count = 32;
  return TRUE;
}

BOOLEAN WINAPI HidD_SetNumInputBuffers(HANDLE device, ULONG count) { return count >= 2 && count <= 512; }

}  // extern "C"
