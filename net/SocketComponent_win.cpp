// The socket component: its properties, their activation and the events it
// raises for its connection (ClientSocket_win.cpp).
#include "net/ClientSocket.h"

#include "support/Text.h"

void TAbstractSocket::SetActive(bool value) {
  if (value == FActive) return;
  if (FLoading) {
    FStreamedActive = value;
    return;
  }
  Activate(value);
}

void TAbstractSocket::Loaded() {
  FLoading = false;
  if (FStreamedActive != FActive) Activate(FStreamedActive);
}

void TAbstractSocket::CheckInactive() const {
  if (FActive && !FLoading) throw ESocketError("Can't change value while socket is active");
}

void TAbstractSocket::SetAddress(const std::string& value) {
  if (SameTextAscii(value, FAddress)) return;
  CheckInactive();
  FAddress = value;
}

void TAbstractSocket::SetHost(const std::string& value) {
  if (SameTextAscii(value, FHost)) return;
  CheckInactive();
  FHost = value;
}

void TAbstractSocket::SetService(const std::string& value) {
  if (SameTextAscii(value, FService)) return;
  CheckInactive();
  FService = value;
}

void TAbstractSocket::SetPort(int value) {
  if (value == FPort) return;
  CheckInactive();
  FPort = value;
}

void TCustomSocket::HandleEvent(TCustomWinSocket* socket, TSocketEvent kind) {
  switch (kind) {
    case seLookup:
      if (OnLookup) OnLookup(this, socket);
      break;
    case seConnecting:
      if (OnConnecting) OnConnecting(this, socket);
      break;
    case seConnect:
      FActive = true;
      if (OnConnect) OnConnect(this, socket);
      break;
    case seDisconnect:
      FActive = false;
      if (OnDisconnect) OnDisconnect(this, socket);
      break;
    case seWrite:
      if (OnWrite) OnWrite(this, socket);
      break;
    case seRead:
      if (OnRead) OnRead(this, socket);
      break;
    default:
      break;
  }
}

void TCustomSocket::HandleError(TCustomWinSocket* socket, TErrorEvent errorEvent, int& errorCode) {
  if (OnError) OnError(this, socket, errorEvent, errorCode);
}

TClientSocket::TClientSocket(TComponent* owner) : TCustomSocket(owner), FClientSocket(new TClientWinSocket) {
  FClientSocket->OnSocketEvent = TSocketEventSink::Bind<&TClientSocket::SocketEvent>(this);
  FClientSocket->OnErrorEvent = TSocketErrorSink::Bind<&TClientSocket::SocketError>(this);
}

TClientSocket::~TClientSocket() = default;  // the connection detaches its sinks first

void TClientSocket::Activate(bool value) {
  if (value == FClientSocket->Connected()) return;
  if (FClientSocket->Connected()) {
    FClientSocket->DropConnection(FClientSocket->SocketHandle());
  } else {
    FClientSocket->Open(FHost, FAddress, FService, static_cast<std::uint16_t>(FPort & 0xFFFF),
                        FClientSocket->ClientType() == ctBlocking);
  }
}
