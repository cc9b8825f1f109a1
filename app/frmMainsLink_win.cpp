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
// waits on this; it covers a message cut by the network, whose tail comes
// when a lost segment is sent again. The platform resends after at least
// 300 ms and doubles the wait each time: a segment lost twice arrives 900 ms
// late, a third time 2100 ms. Two seconds cover the first two with room for
// a busy machine (the emulated 32-bit lane runs three times slower), and
// taking a line early would write a shorter command to the console; a host
// that leaves out its last line end waits this long for its message.
constexpr unsigned kRecvGraceMs = 2000;

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
  // No byte follows on this connection: a send message still open lost its
  // tail with it, and written as it stands it would be another command.
  if (FRecvGraceTimer) FRecvGraceTimer->SetEnabled(false);
  EndSendQueue();
  if (FLinkReceiver.InSendMessage()) Trace("dropped an unfinished send message: the connection ended");
  FLinkReceiver.Reset();
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
  // traced, nothing is written, and the message is handled to its end. So
  // is an odd digit count: decoding would drop the last digit and write a
  // shorter command than the one sent.
  bool decoded = HasWholeBytes(code);
  Bytes bytes;
  if (!decoded) {
    Trace("code with an odd number of hex digits: not written");
  } else {
    try {
      bytes = HexToBytes(code);
    } catch (const EConvertError& error) {
      Trace(error.Message());
      decoded = false;
    }
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
