// The link to the live host: messages out, the receive algorithm, the link's
// life cycle (connect, disconnect, error and reconnect) and its timers.
#include "app/frmMains.h"

#include "support/Debugs.h"
#include "support/Exceptions.h"
#include "support/Utils.h"

namespace {

// How long the receiver waits for more bytes before it ends what is open: a
// code line without its line end is taken as complete, a lone first line is
// dropped. Messages end with CR LF, so a live host that keeps to them never
// waits on this; it covers a message cut by the network. A segment delivered
// 100 ms late, or resent once after the shortest retransmission timeout
// (200 ms), still arrives well within it, and at most this much of a
// misbehaving host's text can be taken for one message.
constexpr unsigned kRecvGraceMs = 500;

}  // namespace

int TfrmMain::SendHidData(const std::uint8_t* bytes, std::size_t count) {
  if (!Client->Active()) return 0;
  const std::string hex = BytesToHex(bytes, count);
  Trace("Hid: " + hex);
  return SendLinkMessage(RecvMessageText(hex), true);
}

int TfrmMain::SendGetStatus() {
  if (!Client->Active()) return 0;
  return SendLinkMessage(StatusRequestText(), false);
}

int TfrmMain::SendKeepLive() {
  if (!Client->Active()) return 0;
  return SendLinkMessage(KeepAliveText(), false);
}

int TfrmMain::SendLinkMessage(const std::string& message, bool report) {
  const bool wasWaiting = FSendQueue.Waiting();
  if (!FSendQueue.Send(message, SocketSender())) {
    if (report) ++FDroppedReports;
    return 0;
  }
  if (!wasWaiting && FSendQueue.Waiting())
    TraceFmt("send: the live host takes no more; messages wait (at most %d)",
             static_cast<int>(TLinkSendQueue::kMaxMessages));
  SendQueueDrained();
  return static_cast<int>(message.size());
}

TLinkSendQueue::SendFunction TfrmMain::SocketSender() {
  return [this](const char* data, int size) { return Client->Connection()->SendBytes(data, size); };
}

void TfrmMain::ClientWrite(TObject* Sender, TCustomWinSocket* Socket) {
  FSendQueue.Resume(SocketSender());
  SendQueueDrained();
}

void TfrmMain::SendQueueDrained() {
  if (FSendQueue.Waiting()) return;
  const int reports = FDroppedReports;
  const int dropped = static_cast<int>(FSendQueue.TakeDropped());
  FDroppedReports = 0;
  if (dropped > 0) TraceFmt("dropped %d messages (%d reports): the live host did not read", dropped, reports);
}

void TfrmMain::EndSendQueue() {
  // What still waits can never go whole on another connection.
  const int dropped = static_cast<int>(FSendQueue.WaitingMessages() + FSendQueue.Dropped());
  if (dropped > 0) TraceFmt("dropped %d messages: the link ended before the live host read them", dropped);
  FSendQueue.Clear();
  FDroppedReports = 0;
}

void TfrmMain::ClientConnect(TObject* Sender, TCustomWinSocket* Socket) {
  FLinkReceiver.Reset();  // a new stream
  EndSendQueue();
  tmrDelayGetStatus->SetEnabled(true);
  UpdateStatus();
  tmrConnect->SetEnabled(false);
}

void TfrmMain::ClientDisconnect(TObject* Sender, TCustomWinSocket* Socket) {
  // No byte follows on this connection: what waited for the grace period is
  // complete now.
  if (FRecvGraceTimer) FRecvGraceTimer->SetEnabled(false);
  EndSendQueue();
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
