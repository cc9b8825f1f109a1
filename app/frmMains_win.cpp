// Start-up, settings, status display and tray behaviour of the main window.
#include "app/frmMains.h"

#include "app/StatusText.h"
#include "app/Texts.h"
#include "support/Utils.h"
#include "toolkit/Application.h"

namespace {

constexpr char kSettingsKey[] = "Software\\QEX\\JoystickAgent";
constexpr char kAddressValue[] = "Address";
constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kRunValue[] = "JoystickAgent";
constexpr char kDefaultAddress[] = "127.0.0.1";
// A label repaint per report costs the X server and wineserver more than the
// relay itself at a thousand reports a second; nobody reads faster than this.
constexpr unsigned kStatusIntervalMs = 50;

}  // namespace

TfrmMain::TfrmMain(TComponent* owner) : TForm(owner) {
  THandlerTable& h = Handlers();
  h.Add("FormCreate", TNotifyEvent::Bind<&TfrmMain::FormCreate>(this));
  h.Add("btnConfigClick", TNotifyEvent::Bind<&TfrmMain::btnConfigClick>(this));
  h.Add("chkAutoRunClick", TNotifyEvent::Bind<&TfrmMain::chkAutoRunClick>(this));
  h.Add("btn1Click", TNotifyEvent::Bind<&TfrmMain::btn1Click>(this));
  h.Add("btn2Click", TNotifyEvent::Bind<&TfrmMain::btn2Click>(this));
  h.Add("tmrKeepLiveTimer", TNotifyEvent::Bind<&TfrmMain::tmrKeepLiveTimer>(this));
  h.Add("tmrConnectTimer", TNotifyEvent::Bind<&TfrmMain::tmrConnectTimer>(this));
  h.Add("tmrDelayGetStatusTimer", TNotifyEvent::Bind<&TfrmMain::tmrDelayGetStatusTimer>(this));
  h.Add("ClientConnect", TSocketNotifyEvent::Bind<&TfrmMain::ClientConnect>(this));
  h.Add("ClientDisconnect", TSocketNotifyEvent::Bind<&TfrmMain::ClientDisconnect>(this));
  h.Add("ClientRead", TSocketNotifyEvent::Bind<&TfrmMain::ClientRead>(this));
  h.Add("ClientWrite", TSocketNotifyEvent::Bind<&TfrmMain::ClientWrite>(this));
  h.Add("ClientError", TSocketErrorEvent::Bind<&TfrmMain::ClientError>(this));
  h.Add("HidControllerArrival", THidPlugEvent::Bind<&TfrmMain::HidControllerArrival>(this));
  h.Add("HidControllerDeviceUnplug", THidPlugEvent::Bind<&TfrmMain::HidControllerDeviceUnplug>(this));

  BindField("img1", &img1);
  BindField("img2", &img2);
  BindField("img3", &img3);
  BindField("lblSend", &lblSend);
  BindField("lblRecv", &lblRecv);
  BindField("lblJoyStatus", &lblJoyStatus);
  BindField("lblNetStatus", &lblNetStatus);
  BindField("lblAddress", &lblAddress);
  BindField("btnConfig", &btnConfig);
  BindField("lblVersion", &lblVersion);
  BindField("chkAutoRun", &chkAutoRun);
  BindField("btn1", &btn1);
  BindField("btn2", &btn2);
  BindField("HidController", &HidController);
  BindField("Client", &Client);
  BindField("tmrKeepLive", &tmrKeepLive);
  BindField("tmrConnect", &tmrConnect);
  BindField("tmrDelayGetStatus", &tmrDelayGetStatus);

  CreateFromResource("TFRMMAIN");
}

TfrmMain::~TfrmMain() {
  BeginDestroy();
  // The controller goes first, while the labels and the socket it reports
  // into (through HidControllerDeviceUnplug) are still alive.
  delete HidController;
  HidController = nullptr;
  FHidDevice = nullptr;
  DestroyComponents();
}

void TfrmMain::FormCreate(TObject* Sender) {
  // 1-4: caption, tray icon, minimise event.
  SetCaption(Application->Title());
  FTrayIcon = new TTrayIcon(this);
  FTrayIcon->SetIcon(Application->Icon());
  FTrayIcon->OnClick = TNotifyEvent::Bind<&TfrmMain::TrayIconClick>(this);
  FTrayIcon->SetToolTip(Caption());
  Application->OnMinimize = TNotifyEvent::Bind<&TfrmMain::AppMinimize>(this);
  FTrayIcon->SetActive(true);

  // 5-6: the address in force, and the first connection attempt.
  FAddress = RegReadString(HKEY_CURRENT_USER, kSettingsKey, kAddressValue);
  if (FAddress.empty()) FAddress = kDefaultAddress;  // not written back
  lblAddress->SetCaption(FAddress);
  Client->SetAddress(FAddress);
  Client->SetActive(true);

  // 7-8: status and version.
  UpdateStatus();
  lblVersion->SetCaption("v" + GetOwnFileVersion());

  // 9: checking the box fires chkAutoRunClick, which refreshes the stored path.
  chkAutoRun->SetChecked(!RegReadString(HKEY_CURRENT_USER, kRunKey, kRunValue).empty());

  // 10: "-min" as the first argument, exactly.
  if (IsMinimizedStart(__argc, __argv)) Application->Minimize();
}

void TfrmMain::btnConfigClick(TObject* Sender) {
  std::string address = FAddress;
  if (!InputQuery(Handle(), texts::kTextSettingsCaption, texts::kTextAddressPrompt, address, 255)) return;
  FAddress = address;  // unchanged: no trimming, no validation
  RegWriteString(HKEY_CURRENT_USER, kSettingsKey, kAddressValue, FAddress);
  lblAddress->SetCaption(FAddress);
  Client->SetActive(false);
  Client->SetAddress(FAddress);
  Client->SetActive(true);
}

void TfrmMain::chkAutoRunClick(TObject* Sender) {
  if (chkAutoRun->Checked()) {
    RegWriteString(HKEY_CURRENT_USER, kRunKey, kRunValue, AutorunCommandLine(GetModulePath()));
  } else {
    RegRemoveValue(HKEY_CURRENT_USER, kRunKey, kRunValue);
  }
}

void TfrmMain::UpdateStatus() {
  // Teardown reports the console's unplug while components go; the labels
  // may already be gone then.
  if (!lblJoyStatus || !lblNetStatus || !lblSend || !lblRecv || !Client) return;
  // Any refresh stands for a trailing one that was due.
  FStatusTick = GetTickCount64();
  if (FStatusTimer) FStatusTimer->SetEnabled(false);
  lblJoyStatus->SetCaption(JoyStatusText(FHidDevice != nullptr));
  lblNetStatus->SetCaption(NetStatusText(Client->Active()));
  lblSend->SetCaption(SendCountText(FSendCount));
  lblRecv->SetCaption(RecvCountText(FRecvCount));
}

void TfrmMain::UpdateStatusThrottled() {
  const std::uint64_t since = GetTickCount64() - FStatusTick;
  // Checked on every report rather than left to the timer alone: timer
  // messages wait while the queue holds others, as under a steady stream.
  if (since >= kStatusIntervalMs) {
    UpdateStatus();
    return;
  }
  if (!FStatusTimer)
    FStatusTimer = NewStoppedTimer(kStatusIntervalMs, TNotifyEvent::Bind<&TfrmMain::StatusTimer>(this));
  if (FStatusTimer->Enabled()) return;  // the trailing refresh is due already
  FStatusTimer->SetInterval(kStatusIntervalMs - static_cast<unsigned>(since));
  FStatusTimer->SetEnabled(true);
}

void TfrmMain::StatusTimer(TObject* Sender) { UpdateStatus(); }

TTimer* TfrmMain::NewStoppedTimer(unsigned interval, TNotifyEvent onTimer) {
  TTimer* timer = new TTimer(this);
  timer->SetEnabled(false);
  timer->SetInterval(interval);
  timer->OnTimer = onTimer;
  return timer;
}

void TfrmMain::AppMinimize(TObject* Sender) {
  Hide();
  SetWindowState(wsMinimized);
  FTrayIcon->SetActive(true);
  Application->ShowTaskbarWindow(false);
}

void TfrmMain::TrayIconClick(TObject* Sender) {
  Application->Restore();
  Application->BringToFront();
}

bool TfrmMain::WndProc(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message == WM_HID_DATA) {
    result = 0;
    WMHidData();
    return true;
  }
  return false;
}
