// The agent's main window and its logic: start-up and settings, the link to
// the live host, the console bridge and the status display. Every handler
// runs on the main thread.
#pragma once

#include <cstdint>
#include <string>

#include "app/LinkProtocol.h"
#include "app/LinkSendQueue.h"
#include "app/StatusText.h"
#include "hid/HidController.h"
#include "net/ClientSocket.h"
#include "support/Hex.h"
#include "toolkit/TrayIcons.h"
#include "toolkit/Controls.h"

class TfrmMain : public TForm {
 public:
  explicit TfrmMain(TComponent* owner);
  ~TfrmMain() override;

  // Components and controls, in the order of the window description.
  TImage* img1 = nullptr;
  TImage* img2 = nullptr;
  TImage* img3 = nullptr;
  TLabel* lblSend = nullptr;
  TLabel* lblRecv = nullptr;
  TLabel* lblJoyStatus = nullptr;
  TLabel* lblNetStatus = nullptr;
  TLabel* lblAddress = nullptr;
  TSpeedButton* btnConfig = nullptr;
  TLabel* lblVersion = nullptr;
  TCheckBox* chkAutoRun = nullptr;
  TButton* btn1 = nullptr;
  TButton* btn2 = nullptr;
  THidDeviceController* HidController = nullptr;
  TClientSocket* Client = nullptr;
  TTimer* tmrKeepLive = nullptr;
  TTimer* tmrConnect = nullptr;
  TTimer* tmrDelayGetStatus = nullptr;

  // Start-up and settings.
  void FormCreate(TObject* Sender);
  void btnConfigClick(TObject* Sender);
  void chkAutoRunClick(TObject* Sender);

  // Status display and tray.
  void UpdateStatus();
  void AppMinimize(TObject* Sender);
  void TrayIconClick(TObject* Sender);

  // Link to the live host.
  int SendHidData(const std::uint8_t* bytes, std::size_t count);
  int SendGetStatus();
  int SendKeepLive();
  void ClientConnect(TObject* Sender, TCustomWinSocket* Socket);
  void ClientDisconnect(TObject* Sender, TCustomWinSocket* Socket);
  void ClientRead(TObject* Sender, TCustomWinSocket* Socket);
  void ClientWrite(TObject* Sender, TCustomWinSocket* Socket);
  void ClientError(TObject* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode);
  void tmrConnectTimer(TObject* Sender);
  void tmrKeepLiveTimer(TObject* Sender);
  void tmrDelayGetStatusTimer(TObject* Sender);

  // Console bridge.
  void HidControllerArrival(THidDevice* HidDev);
  void HidControllerDeviceUnplug(THidDevice* HidDev);
  void HidControllerDeviceData(THidDevice* HidDev, std::uint8_t ReportID, const std::uint8_t* Data,
                               std::uint16_t Size);
  bool WriteHidReport(const Bytes& bytes);
  void btn1Click(TObject* Sender);
  void btn2Click(TObject* Sender);

 protected:
  bool WndProc(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void WMHidData();

  std::string FAddress;
  TTrayIcon* FTrayIcon = nullptr;
  THidDevice* FHidDevice = nullptr;
  std::uint8_t FHidBuffer[1025] = {};
  int FHidBufferLen = 0;
  bool FHidPending = false;  // FHidBuffer holds a report not yet relayed
  TPacketCounter FSendCount;
  TPacketCounter FRecvCount;

  // Receiving from the live host: the stream receiver keeps an unfinished
  // send message across reads; once the peer has been quiet for the grace
  // period, the grace timer completes a last code line that arrived without
  // its line end and drops a first line that got no second one.
  void HandleSendMessage(const std::string& code);
  void RestartRecvGrace();
  void RecvGraceTimer(TObject* Sender);
  TLinkReceiver FLinkReceiver;
  TTimer* FRecvGraceTimer = nullptr;  // owned by the window, made on first need

  // Relayed reports refresh the labels at most every 50 ms; a trailing
  // refresh makes them exact once the reports stop.
  void UpdateStatusThrottled();
  void StatusTimer(TObject* Sender);
  TTimer* FStatusTimer = nullptr;  // owned by the window, made on first need
  std::uint64_t FStatusTick = 0;   // GetTickCount64 of the last refresh

  // A stopped timer owned by the window.
  TTimer* NewStoppedTimer(unsigned interval, TNotifyEvent onTimer);

  // Sending to the live host: every message goes whole and in order through
  // the queue, which holds what the socket cannot take yet.
  int SendLinkMessage(const std::string& message, bool report);
  TLinkSendQueue::SendFunction SocketSender();
  // Traces what was dropped once nothing waits any more.
  void SendQueueDrained();
  // The connection ended or began: forgets what waits, tracing it.
  void EndSendQueue();
  TLinkSendQueue FSendQueue;
  int FDroppedReports = 0;  // recv messages among those dropped
};

// The agent's own message: FHidBuffer holds a report to relay.
inline constexpr UINT WM_HID_DATA = WM_USER + 1;
