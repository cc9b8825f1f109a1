// The event-driven TCP client: one outgoing IPv4 connection whose resolution,
// connecting, data arrival and closing are reported as events.
//
// Threads: everything runs on the thread that opens the connection (the
// main thread). The platform posts its notifications to the connection's
// hidden window; they are handled one at a time by that thread's message
// loop. The lock only makes sending, receiving and closing re-entrant: an
// event raised inside them (OnError, OnDisconnect) may call them again.
//
// A non-blocking attempt that fails at once (no socket to be had, no network,
// no route, a text that is no address) is reported by OnError from the
// message loop, like a refusal that the platform reports later, never from
// inside the caller's own open call: the caller is not re-entered half way
// through (its handler closes the socket and schedules the next attempt, as
// after any refusal), and no exception leaves the call for a condition of
// the network. (A missing address is still reported inside the call, then
// OnDisconnect.)
//
// Ownership: TClientSocket owns its TClientWinSocket for its whole life; the
// connection owns the socket handle, the hidden window and the lookup buffer.
// Destroying either raises no event.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/SocketTypes.h"
#include "support/CriticalSection.h"
#include "support/Delegate.h"
#include "support/Exceptions.h"
#include "support/ScopedHandle.h"
#include "support/Win32.h"
#include "toolkit/Component.h"

// Every failure of the client. Messages:
//   "Windows socket error: %s (%d), on API '%s'"  a platform call failed
//   "Asynchronous socket error %d"                 a notification carried an error
//   "No address specified"                         neither Host nor Address
//   "Can't create new socket"                      socket() refused
//   "Socket already open"                          opening while connected
//   "Can't change value while socket is active"    a property write while active
QEX_DECLARE_EXCEPTION(ESocketError, Exception);

class THiddenWindow;
class TCustomWinSocket;

// Notification messages on the connection's hidden window.
inline constexpr UINT CM_SOCKETMESSAGE = 0x0401;   // WSAAsyncSelect
inline constexpr UINT CM_OPENFAILED = 0x0402;      // an attempt refused at once; wParam: its number
inline constexpr UINT CM_LOOKUPCOMPLETE = 0x0403;  // WSAAsyncGetHostByName / ServByName

using TSocketNotifyEvent = Event<void(TObject* Sender, TCustomWinSocket* Socket)>;
using TSocketErrorEvent = Event<void(TObject* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode)>;

// Where a connection reports to: its component.
using TSocketEventSink = Event<void(TCustomWinSocket* Socket, TSocketEvent Kind)>;
using TSocketErrorSink = Event<void(TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode)>;

class TCustomWinSocket : public TObject {
 public:
  // Starts the platform socket library (version 1.1); ESocketError on failure.
  TCustomWinSocket();
  // Detaches the sinks first, so closing here raises nothing.
  ~TCustomWinSocket() override;
  TCustomWinSocket(const TCustomWinSocket&) = delete;
  TCustomWinSocket& operator=(const TCustomWinSocket&) = delete;

  // Bytes the platform accepted; 0 when not connected; -1 when the send
  // would block, or failed and OnError cleared the code. No send queue.
  int SendBytes(const void* buffer, int count);
  // The text's bytes; an empty text sends nothing and gives 0.
  int SendString(const std::string& text);
  // count -1: the number of bytes waiting, nothing read. Otherwise the bytes
  // read: 0 when the peer has closed, -1 on a would-block or cleared failure.
  int ReceiveBytes(void* buffer, int count);
  // Every byte waiting at this moment, with no regard to message boundaries.
  std::string ReceiveString();
  // DropConnection of the current socket: OnDisconnect when a socket exists.
  void CloseConnection();

  SOCKET SocketHandle() const { return socket_.Get(); }
  bool Connected() const { return connected_; }
  const sockaddr_in& PeerAddress() const { return peer_; }
  // The hidden window that receives this connection's notifications (null
  // until the first non-blocking open).
  HWND WindowHandle() const;

  // Set by the owning component.
  TSocketEventSink OnSocketEvent;
  TSocketErrorSink OnErrorEvent;

  // Overridable steps, each for the socket a notification names.
  virtual void AcceptReady(SOCKET socket) {}
  virtual void ConnectReady(SOCKET socket);
  // The close notification: see the definition for why it looks first.
  void CloseReady(SOCKET socket);
  // Cancels a pending lookup; when socket is the current one, raises
  // OnDisconnect (socket still open, lock held), then closes it.
  virtual void DropConnection(SOCKET socket);
  virtual void ReadReady(SOCKET socket);
  virtual void WriteReady(SOCKET socket);

 protected:
  virtual void NotifyEvent(TCustomWinSocket* socket, TSocketEvent kind);
  virtual void NotifyError(TCustomWinSocket* socket, TErrorEvent errorEvent, int& errorCode);

  // Opens a new connection. Non-blocking: resolution and the connect's
  // outcome arrive as notifications, a failure of the attempt (creating the
  // socket, registering it, the address text, connect) as OnError from the
  // message loop; only "Socket already open" and the events' own exceptions
  // leave the call. Blocking: connects inside the call and raises there.
  void Open(const std::string& host, const std::string& address, const std::string& service,
            std::uint16_t port, bool blocking);
  // The notification set: 0x33 (read, write, connect, close) or empty for
  // blocking use; registered with the platform at once when a socket exists.
  void SetAsyncStyles(long styles);
  long AsyncStyles() const { return asyncStyles_; }

  bool connected_ = false;

 private:
  enum LookupStage : std::uint8_t { lsIdle = 0, lsHost = 1, lsService = 2 };

  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void HandleSocketMessage(SOCKET socket, int flag, int error);
  void HandleLookupComplete(HANDLE request, int error);
  // The attempt failed at once: OnError with kind and code is posted for the
  // message loop (CM_OPENFAILED); message is what ESocketError says when the
  // handler leaves the code non-zero.
  void FailAttempt(TErrorEvent kind, int code, const std::string& message);
  void HandleOpenFailed(WPARAM attempt);
  // The resolution state machine; a stage that need not wait moves on.
  void ContinueLookup();
  void StartConnect();
  void BlockingConnect(const std::string& host, const std::string& address, const std::string& service,
                       std::uint16_t port);
  void RegisterAsyncStyles();
  // Registers the non-empty notification set with the hidden window; the
  // platform's error code, 0 on success.
  int SelectNotifications();
  void EnsureWindow();
  char* LookupBuffer();
  // Closes a socket this object no longer reports on, without events.
  void AbandonSocket();
  // Removes the notifications still queued for sockets already closed.
  void PurgeNotifications();

  ScopedSocket socket_;
  std::unique_ptr<THiddenWindow> window_;
  sockaddr_in peer_ = {};
  long asyncStyles_ = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
  LookupStage lookupStage_ = lsIdle;
  bool dropping_ = false;
  HANDLE lookupRequest_ = nullptr;
  CriticalSection lock_;
  std::unique_ptr<char[]> lookupBuffer_;
  std::string host_;
  std::string address_;
  std::string service_;
  std::uint16_t port_ = 0;
  // Each open starts a new attempt; a failure posted for an earlier one, or
  // for one closed since, is forgotten.
  WPARAM attempt_ = 0;
  struct OpenFailure {
    bool pending = false;
    WPARAM attempt = 0;
    TErrorEvent kind = eeGeneral;
    int code = 0;
    std::string message;
  } failure_;
};

class TClientWinSocket : public TCustomWinSocket {
 public:
  TClientType ClientType() const { return clientType_; }
  // ESocketError while connected; an equal value changes nothing.
  void SetClientType(TClientType type);

  void ConnectReady(SOCKET socket) override;

 private:
  friend class TClientSocket;
  using TCustomWinSocket::Open;

  TClientType clientType_ = ctNonBlocking;
};

class TAbstractSocket : public TComponent {
 public:
  explicit TAbstractSocket(TComponent* owner) : TComponent(owner) {}

  bool Active() const { return FActive; }
  // Equal value: nothing. While loading only stored; otherwise Activate.
  // The flag itself changes only through the connect and disconnect events.
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  // Writes compare without regard to ASCII case (Port: the number). A
  // different value while Active raises ESocketError and changes nothing.
  const std::string& Address() const { return FAddress; }
  void SetAddress(const std::string& value);
  const std::string& Host() const { return FHost; }
  void SetHost(const std::string& value);
  const std::string& Service() const { return FService; }
  void SetService(const std::string& value);
  int Port() const { return FPort; }
  void SetPort(int value);

  // Loading from a window description: between these two, SetActive only
  // stores the value; Loaded applies it.
  void BeginLoading() { FLoading = true; }
  void Loaded();

 protected:
  virtual void HandleEvent(TCustomWinSocket* socket, TSocketEvent kind) = 0;
  virtual void HandleError(TCustomWinSocket* socket, TErrorEvent errorEvent, int& errorCode) = 0;
  virtual void Activate(bool value) = 0;
  void CheckInactive() const;

  bool FActive = false;
  bool FLoading = false;
  bool FStreamedActive = false;
  int FPort = 0;
  std::string FAddress;
  std::string FHost;
  std::string FService;
};

class TCustomSocket : public TAbstractSocket {
 public:
  explicit TCustomSocket(TComponent* owner) : TAbstractSocket(owner) {}

  // Each fires on the main thread; Sender is the component, Socket the
  // connection. OnLookup and OnConnecting fire inside the opening call.
  TSocketNotifyEvent OnLookup;
  TSocketNotifyEvent OnConnect;
  TSocketNotifyEvent OnConnecting;
  TSocketNotifyEvent OnDisconnect;
  TSocketNotifyEvent OnRead;
  TSocketNotifyEvent OnWrite;
  // A handler that sets ErrorCode to 0 has handled the failure; otherwise
  // the component raises ESocketError afterwards.
  TSocketErrorEvent OnError;

 protected:
  void HandleEvent(TCustomWinSocket* socket, TSocketEvent kind) override;
  void HandleError(TCustomWinSocket* socket, TErrorEvent errorEvent, int& errorCode) override;
};

class TClientSocket : public TCustomSocket {
 public:
  explicit TClientSocket(TComponent* owner);
  ~TClientSocket() override;

  TClientWinSocket* Connection() const { return FClientSocket.get(); }
  TClientType ClientType() const { return FClientSocket->ClientType(); }
  void SetClientType(TClientType type) { FClientSocket->SetClientType(type); }

 protected:
  void Activate(bool value) override;

 private:
  void SocketEvent(TCustomWinSocket* socket, TSocketEvent kind) { HandleEvent(socket, kind); }
  void SocketError(TCustomWinSocket* socket, TErrorEvent errorEvent, int& errorCode) {
    HandleError(socket, errorEvent, errorCode);
  }

  std::unique_ptr<TClientWinSocket> FClientSocket;
};
