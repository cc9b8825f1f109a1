// The link to the live host: messages out, the receive algorithm, the link's
// life cycle (connect, disconnect, error and reconnect) and its timers.
#include "app/frmMains.h"

#include "support/Debugs.h"
#include "support/Exceptions.h"
#include "support/Utils.h"

namespace {

// How long the receiver waits for more bytes before it takes a last code
// line without its line end as complete. Short against the live host's
// message rate, long against the gap between two segments of one write.
constexpr unsigned kRecvGraceMs = 30;

}  // namespace

int TfrmMain::SendHidData(const std::uint8_t* bytes, std::size_t count) {
  if (!Client->Active()) return 0;
  const std::string hex = BytesToHex(bytes, count);
  Trace("Hid: " + hex);
  return Client->Connection()->SendString(RecvMessageText(hex));
}

int TfrmMain::SendGetStatus() {
  if (!Client->Active()) return 0;
  return Client->Connection()->SendString(StatusRequestText());
}

int TfrmMain::SendKeepLive() {
  if (!Client->Active()) return 0;
  return Client->Connection()->SendString(KeepAliveText());
}

void TfrmMain::ClientConnect(TObject* Sender, TCustomWinSocket* Socket) {
  FLinkReceiver.Reset();  // a new stream
  tmrDelayGetStatus->SetEnabled(true);
  UpdateStatus();
  tmrConnect->SetEnabled(false);
}

void TfrmMain::ClientDisconnect(TObject* Sender, TCustomWinSocket* Socket) {
  // No byte follows on this connection: what waited for the grace period is
  // complete now.
  if (FRecvGraceTimer) FRecvGraceTimer->SetEnabled(false);
  std::vector<std::string> codes;
  FLinkReceiver.Flush(codes);
  FLinkReceiver.Reset();
  for (const std::string& code : codes) HandleSendMessage(code);
  UpdateStatus();
}

void TfrmMain::ClientRead(TObject* Sender, TCustomWinSocket* Socket) {
  const std::string text = Socket->ReceiveString();
  if (text.empty()) return;
  std::vector<std::string> codes;
  FLinkReceiver.Feed(text, codes);
  for (const std::string& code : codes) HandleSendMessage(code);
  RestartRecvGrace();
}

void TfrmMain::HandleSendMessage(const std::string& code) {
  ++FRecvCount;
  // Bad hex is bad input from the network, not a fault of the agent: it is
  // traced, nothing is written, and the message is handled to its end.
  bool decoded = true;
  Bytes bytes;
  try {
    bytes = HexToBytes(code);
  } catch (const EConvertError& error) {
    Trace(error.Message());
    decoded = false;
  }
  if (decoded) WriteHidReport(bytes);
  Trace(SendMessageTraceText(FAddress, code));
  UpdateStatus();
}

void TfrmMain::RestartRecvGrace() {
  if (!FLinkReceiver.AwaitsGrace()) {
    if (FRecvGraceTimer) FRecvGraceTimer->SetEnabled(false);
    return;
  }
  if (!FRecvGraceTimer)
    FRecvGraceTimer = NewStoppedTimer(kRecvGraceMs, TNotifyEvent::Bind<&TfrmMain::RecvGraceTimer>(this));
  // Disabling first restarts the count: the grace runs from the last read.
  FRecvGraceTimer->SetEnabled(false);
  FRecvGraceTimer->SetEnabled(true);
}

void TfrmMain::RecvGraceTimer(TObject* Sender) {
  FRecvGraceTimer->SetEnabled(false);
  std::vector<std::string> codes;
  FLinkReceiver.Flush(codes);
  for (const std::string& code : codes) HandleSendMessage(code);
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
