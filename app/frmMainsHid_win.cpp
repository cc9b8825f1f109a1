// The console bridge: recognising the console, relaying its input reports to
// the live host and writing the live host's reports to it.
#include "app/frmMains.h"

#include <cstring>

#include "app/StatusText.h"
#include "app/Texts.h"
#include "support/Debugs.h"
#include "support/TextCodec.h"
#include "support/Utils.h"

namespace {

std::string ProductName8(THidDevice* device) { return FromWide(device->ProductName(), CodePage::Ansi); }

}  // namespace

void TfrmMain::HidControllerArrival(THidDevice* HidDev) {
  const std::string name = ProductName8(HidDev);
  TraceFmt("HidDev=%s vid=%d, pid=%d", name.c_str(), HidDev->VendorID(), HidDev->ProductID());
  if (!IsConsoleName(name)) return;
  if (FHidDevice) {
    ShowMessageBox(Handle(), texts::kTextSecondConsole, texts::kTextWarningCaption, MB_ICONWARNING | MB_OK);  // 0x30
  } else {
    FHidDevice = HidDev;
    FHidDevice->Claim();
    FHidDevice->SetOnData(THidDataEvent::Bind<&TfrmMain::HidControllerDeviceData>(this));
    tmrDelayGetStatus->SetEnabled(true);
  }
  UpdateStatus();
}

void TfrmMain::HidControllerDeviceData(THidDevice* HidDev, std::uint8_t ReportID, const std::uint8_t* Data,
                                       std::uint16_t Size) {
  TraceFmt("HidControllerDeviceData=%d", Size);
  if (ReportID != 0) return;
  // Hand-overs run before posted messages: when the next report comes before
  // the message for the last one, relay that one now rather than overwrite it.
  if (FHidPending) WMHidData();
  std::memcpy(FHidBuffer, Data, Size < sizeof FHidBuffer ? Size : sizeof FHidBuffer);
  FHidBufferLen = Size;
  FHidPending = true;
  PostMessageA(Handle(), WM_HID_DATA, 0, 0);
}

void TfrmMain::WMHidData() {
  if (!FHidPending) return;  // relayed already, when the next report came
  FHidPending = false;
  if (FHidBufferLen > static_cast<int>(sizeof FHidBuffer)) {
    ShowErrorBox(Handle(), texts::kTextHidOverflow, texts::kTextErrorCaption);
    return;
  }
  ++FSendCount;
  SendHidData(FHidBuffer, static_cast<std::size_t>(FHidBufferLen));
  UpdateStatusThrottled();
}

void TfrmMain::HidControllerDeviceUnplug(THidDevice* HidDev) {
  if (!IsConsoleName(ProductName8(HidDev))) return;
  if (FHidDevice) FHidDevice->SetOnData(THidDataEvent());
  FHidDevice = nullptr;
  Trace("HidControllerDeviceUnplug");
  UpdateStatus();
}

bool TfrmMain::WriteHidReport(const Bytes& bytes) {
  if (bytes.empty()) return false;
  Bytes report;
  report.reserve(bytes.size() + 1);
  report.push_back(0x00);  // report ID 0
  report.insert(report.end(), bytes.begin(), bytes.end());
  if (!FHidDevice) return false;
  // A HID write must be exactly the console's output report: a shorter one
  // is refused by the platform, a longer one would be cut.
  HIDP_CAPS caps;
  FHidDevice->Caps(caps);
  const std::size_t length = caps.OutputReportByteLength;
  if (length > 0 && report.size() > length) {
    TraceFmt("WriteHidReport: %d bytes do not fit the output report of %d bytes", static_cast<int>(report.size()),
             static_cast<int>(length));
    return false;
  }
  if (length > 0) report.resize(length, 0x00);
  unsigned written = 0;
  if (!FHidDevice->WriteReport(report.data(), static_cast<unsigned>(report.size()), &written)) {
    const DWORD error = GetLastError();
    // A console that stopped taking reports: the time-out was traced, the
    // writes skipped after it are counted and traced once it takes them again.
    if (error != ERROR_RETRY) TraceFmt("WriteHidReport failed: error %d", static_cast<int>(error));
    return false;
  }
  if (const std::uint32_t skipped = FHidDevice->TakeSkippedWrites())
    TraceFmt("WriteHidReport: %u reports skipped while the console stalled", static_cast<unsigned>(skipped));
  return true;
}

void TfrmMain::btn1Click(TObject* Sender) {
  WriteHidReport(HexToBytes("0400050000000110000000000000000000000000000000000000000000000000"));
}

void TfrmMain::btn2Click(TObject* Sender) {
  WriteHidReport(HexToBytes("0000000000000000000000000000000000000000000000000000000000000000"));
}
