// The link to the live host: messages out, the receive algorithm, the link's
// life cycle (connect, disconnect, error and reconnect) and its timers.
#include "app/frmMains.h"

#include "support/Debugs.h"
#include "support/Utils.h"

int TfrmMain::SendHidData(const std::uint8_t* bytes, std::size_t count) {
  if (!Client->Active()) return 0;
  const std::string hex = BytesToHex(bytes, count);
  Trace("Hid: " + hex);
  return Client->Connection()->SendString("usb-hid=recv\r\ncode=" + hex + "\r\n");
}

int TfrmMain::SendGetStatus() {
  if (!Client->Active()) return 0;
  return Client->Connection()->SendString("usb-hid=get_status\r\n");
}

int TfrmMain::SendKeepLive() {
  if (!Client->Active()) return 0;
  return Client->Connection()->SendString("mark=live\r\n");
}

void TfrmMain::ClientConnect(TObject* Sender, TCustomWinSocket* Socket) {
  tmrDelayGetStatus->SetEnabled(true);
  UpdateStatus();
  tmrConnect->SetEnabled(false);
}

void TfrmMain::ClientDisconnect(TObject* Sender, TCustomWinSocket* Socket) { UpdateStatus(); }

void TfrmMain::ClientRead(TObject* Sender, TCustomWinSocket* Socket) {
  // The receive algorithm arrives with the link; until then nothing is read.
}

void TfrmMain::ClientError(TObject* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode) {
  TraceFmt("socket error %d", ErrorCode);
  ErrorCode = 0;
  Client->SetActive(false);
  Client->Connection()->CloseConnection();
  tmrConnect->SetEnabled(true);
}

void TfrmMain::tmrConnectTimer(TObject* Sender) {
  if (!Client->Active()) Client->SetActive(true);
}

void TfrmMain::tmrKeepLiveTimer(TObject* Sender) { SendKeepLive(); }

void TfrmMain::tmrDelayGetStatusTimer(TObject* Sender) {
  tmrDelayGetStatus->SetEnabled(false);
  SendGetStatus();
}
