// Placeholder of the event-driven TCP client: the component exists and stays
// inactive, so the window shows the live host as disconnected. The real
// client replaces this file and keeps its interface.
#pragma once

#include <string>

#include "support/Delegate.h"
#include "toolkit/Component.h"

enum TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };
enum TClientType { ctNonBlocking, ctBlocking };

class TCustomWinSocket {
 public:
  int SendString(const std::string&) { return 0; }
  std::string ReceiveString() { return std::string(); }
  void CloseConnection() {}
};
class TClientWinSocket : public TCustomWinSocket {};

using TSocketNotifyEvent = Event<void(TObject* Sender, TCustomWinSocket* Socket)>;
using TSocketErrorEvent = Event<void(TObject* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode)>;

class TClientSocket : public TComponent {
 public:
  explicit TClientSocket(TComponent* owner) : TComponent(owner) {}
  bool Active() const { return false; }
  void SetActive(bool) {}
  const std::string& Address() const { return address_; }
  void SetAddress(const std::string& address) { address_ = address; }
  int Port() const { return port_; }
  void SetPort(int port) { port_ = port; }
  TClientType ClientType() const { return clientType_; }
  void SetClientType(TClientType type) { clientType_ = type; }
  TClientWinSocket* Connection() { return &connection_; }

  TSocketNotifyEvent OnConnect, OnDisconnect, OnRead;
  TSocketErrorEvent OnError;

 private:
  std::string address_;
  int port_ = 0;
  TClientType clientType_ = ctNonBlocking;
  TClientWinSocket connection_;
};
