// The TCP client's connection on the Windows socket library, version 1.1 (wsock32), with
// window-message notification: WSAAsyncSelect for the connection's events,
// WSAAsyncGetHostByName / WSAAsyncGetServByName for resolution.
#include "net/ClientSocket.h"

#include <cstdio>
#include <cstring>

#include "toolkit/HiddenWindow.h"

namespace {

constexpr long kAllStyles = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;  // 0x33
constexpr int kLookupBufferSize = 1024;  // the platform's MAXGETHOSTSTRUCT

std::string PlatformErrorText(int code) {
  char* text = nullptr;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  const ScopedLocalMemory owner(text);
  return TrimErrorText(length && text ? std::string(text, length) : std::string());
}

[[noreturn]] void RaiseSocketError(int code, const char* api) {
  throw ESocketError(SocketErrorMessage(PlatformErrorText(code), code, api));
}

// The result test: a failed call raises unless it merely would block.
void CheckSocketResult(bool failed, const char* api) {
  if (!failed) return;
  const int code = WSAGetLastError();
  if (code != WSAEWOULDBLOCK) RaiseSocketError(code, api);
}

// The code of a failed call, or 0 when it succeeded or merely would block.
int FailureCode(bool failed) {
  if (!failed) return 0;
  const int code = WSAGetLastError();
  return code == WSAEWOULDBLOCK ? 0 : code;
}

std::string SocketErrorText(int code, const char* api) {
  return SocketErrorMessage(PlatformErrorText(code), code, api);
}

}  // namespace

// ---------------------------------------------------------------------------
// TCustomWinSocket

TCustomWinSocket::TCustomWinSocket() {
  peer_.sin_family = AF_INET;
  WSADATA data;
  const int result = WSAStartup(MAKEWORD(1, 1), &data);
  if (result != 0) RaiseSocketError(result, "WSAStartup");
}

TCustomWinSocket::~TCustomWinSocket() {
  OnSocketEvent = TSocketEventSink();
  OnErrorEvent = TSocketErrorSink();
  // Any socket goes, connected or not: an attempt still pending at
  // destruction would otherwise leak its handle.
  try {
    DropConnection(socket_.Get());
  } catch (...) {
    // A failing close during destruction has nobody left to report to.
  }
  window_.reset();
  WSACleanup();  // a failure here cannot be raised from a destructor
}

HWND TCustomWinSocket::WindowHandle() const { return window_ ? window_->Handle() : nullptr; }

void TCustomWinSocket::NotifyEvent(TCustomWinSocket* socket, TSocketEvent kind) {
  if (OnSocketEvent) OnSocketEvent(socket, kind);
}

void TCustomWinSocket::NotifyError(TCustomWinSocket* socket, TErrorEvent errorEvent, int& errorCode) {
  if (OnErrorEvent) OnErrorEvent(socket, errorEvent, errorCode);
}

void TCustomWinSocket::EnsureWindow() {
  if (window_) return;
  window_ = std::make_unique<THiddenWindow>(
      [this](UINT message, WPARAM wParam, LPARAM lParam) { return HandleMessage(message, wParam, lParam); });
}

char* TCustomWinSocket::LookupBuffer() {
  if (!lookupBuffer_) lookupBuffer_ = std::make_unique<char[]>(kLookupBufferSize);  // zero-filled
  return lookupBuffer_.get();
}

void TCustomWinSocket::AbandonSocket() {
  if (!socket_) return;
  // Stop notifications first so no new ones are posted for the old handle.
  if (window_) WSAAsyncSelect(socket_.Get(), window_->Handle(), 0, 0);
  socket_.Reset();
  PurgeNotifications();
}

void TCustomWinSocket::PurgeNotifications() {
  // The platform hands a closed socket's handle value to the next socket at
  // once, so a notification still queued for the old one would pass the
  // handle test and act on the new connection (a stale close would end it).
  // Only one socket exists at a time and this runs when none does: every
  // queued notification is stale. Posted messages only, so that no message
  // sent from elsewhere runs inside the caller's call.
  if (!window_) return;
  MSG stale;
  while (PeekMessageA(&stale, window_->Handle(), CM_SOCKETMESSAGE, CM_SOCKETMESSAGE, PM_REMOVE | PM_QS_POSTMESSAGE)) {
  }
}

void TCustomWinSocket::Open(const std::string& host, const std::string& address, const std::string& service,
                            std::uint16_t port, bool blocking) {
  if (connected_) throw ESocketError("Socket already open");
  // An attempt still resolving or connecting is superseded by this one; its
  // socket is closed quietly, as is its lookup, and a failure it still had
  // to report is forgotten.
  if (lookupRequest_) {
    WSACancelAsyncRequest(lookupRequest_);
    lookupRequest_ = nullptr;
  }
  AbandonSocket();
  lookupStage_ = lsIdle;
  ++attempt_;
  failure_.pending = false;

  host_ = host;
  address_ = address;
  service_ = service;
  port_ = port;
  if (!blocking) EnsureWindow();
  socket_.Reset(socket(AF_INET, SOCK_STREAM, 0));
  if (!socket_) {
    if (blocking) throw ESocketError("Can't create new socket");
    // The network stack down at log-on, or no handle to spare: this
    // attempt failed, and the next one may well succeed.
    const int code = WSAGetLastError();
    FailAttempt(eeConnect, code != 0 ? code : WSAENOBUFS, "Can't create new socket");
    return;
  }
  try {
    NotifyEvent(this, seLookup);
    if (blocking) {
      BlockingConnect(host, address, service, port);
    } else {
      ContinueLookup();
    }
  } catch (...) {
    DropConnection(socket_.Get());
    throw;
  }
}

void TCustomWinSocket::ContinueLookup() {
  if (lookupStage_ == lsIdle) {
    if (!host_.empty()) {
      lookupRequest_ = WSAAsyncGetHostByName(window_->Handle(), CM_LOOKUPCOMPLETE, host_.c_str(), LookupBuffer(),
                                             kLookupBufferSize);
      if (const int code = FailureCode(lookupRequest_ == nullptr)) {
        FailAttempt(eeLookup, code, SocketErrorText(code, "WSAASyncGetHostByName"));
        return;
      }
      lookupStage_ = lsHost;
      return;  // resumes in HandleLookupComplete
    }
    if (!address_.empty()) {
      peer_.sin_family = AF_INET;
      peer_.sin_addr.s_addr = inet_addr(address_.c_str());
      // The platform's conversion decides what an address is. A text it
      // cannot read comes back as all ones, the broadcast address, where no
      // connection can go: the attempt fails here, as to an address nobody
      // can reach, without a connect. The all-ones address written out is
      // still dialled as it stands.
      if (peer_.sin_addr.s_addr == INADDR_NONE && address_ != "255.255.255.255") {
        FailAttempt(eeConnect, WSAEADDRNOTAVAIL, SocketErrorText(WSAEADDRNOTAVAIL, "inet_addr"));
        return;
      }
      lookupStage_ = lsHost;
    } else {
      int code = kNoAddressErrorCode;
      NotifyError(this, eeLookup, code);
      DropConnection(socket_.Get());
      if (code != 0) throw ESocketError("No address specified");
      return;
    }
  }
  if (lookupStage_ == lsHost) {
    if (!service_.empty()) {
      lookupRequest_ = WSAAsyncGetServByName(window_->Handle(), CM_LOOKUPCOMPLETE, service_.c_str(), "tcp",
                                             LookupBuffer(), kLookupBufferSize);
      if (const int code = FailureCode(lookupRequest_ == nullptr)) {
        FailAttempt(eeLookup, code, SocketErrorText(code, "WSAASyncGetServByName"));
        return;
      }
      lookupStage_ = lsService;
      return;
    }
    peer_.sin_port = htons(port_);
    lookupStage_ = lsService;
  }
  if (lookupStage_ == lsService) {
    lookupStage_ = lsIdle;
    StartConnect();
  }
}

void TCustomWinSocket::StartConnect() {
  lookupStage_ = lsIdle;
  if (const int code = SelectNotifications()) {
    FailAttempt(eeConnect, code, SocketErrorText(code, "WSAAsyncSelect"));
    return;
  }
  // Reports are small and each one is sent as it happens: Nagle's delay would
  // hold a report back until the previous one is acknowledged, and the live
  // host reacts to every report, so latency matters more than packet count.
  BOOL noDelay = TRUE;
  setsockopt(socket_.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  const WPARAM attempt = attempt_;
  NotifyEvent(this, seConnecting);
  if (attempt != attempt_ || !socket_) return;  // OnConnecting closed or replaced it
  const int result = connect(socket_.Get(), reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_);
  // Would-block is the normal outcome: the result comes as a notification.
  // A failure now (no route, the network down, an address the platform
  // will not dial) is the failure that notification would have brought.
  if (const int code = FailureCode(result == SOCKET_ERROR))
    FailAttempt(eeConnect, code, SocketErrorText(code, "connect"));
}

void TCustomWinSocket::FailAttempt(TErrorEvent kind, int code, const std::string& message) {
  lookupStage_ = lsIdle;
  failure_.pending = true;
  failure_.attempt = attempt_;
  failure_.kind = kind;
  failure_.code = code;
  failure_.message = message;
  // Reported from the message loop (see the header). Should the queue be
  // full, the caller hears of it at once rather than never: an attempt that
  // reports nothing would never be tried again.
  if (window_ && PostMessageA(window_->Handle(), CM_OPENFAILED, attempt_, 0)) return;
  HandleOpenFailed(attempt_);
}

void TCustomWinSocket::HandleOpenFailed(WPARAM attempt) {
  // Only for the attempt still under way: a later open or a close since has
  // superseded it.
  if (!failure_.pending || failure_.attempt != attempt || attempt != attempt_) return;
  failure_.pending = false;
  int code = failure_.code;
  const std::string message = failure_.message;
  NotifyError(this, failure_.kind, code);
  if (code == 0) return;
  // Nobody handled it: the attempt ends as an opening call that raised.
  if (attempt == attempt_) DropConnection(socket_.Get());
  throw ESocketError(message);
}

void TCustomWinSocket::BlockingConnect(const std::string& host, const std::string& address,
                                       const std::string& service, std::uint16_t port) {
  peer_ = {};
  peer_.sin_family = AF_INET;
  if (!host.empty()) {
    const hostent* entry = gethostbyname(host.c_str());
    if (entry && entry->h_addr_list && entry->h_addr_list[0])
      std::memcpy(&peer_.sin_addr, entry->h_addr_list[0], sizeof peer_.sin_addr);
  } else if (!address.empty()) {
    peer_.sin_addr.s_addr = inet_addr(address.c_str());
  } else {
    throw ESocketError("No address specified");
  }
  if (!service.empty()) {
    const servent* entry = getservbyname(service.c_str(), "tcp");
    peer_.sin_port = entry ? static_cast<u_short>(entry->s_port) : 0;
  } else {
    peer_.sin_port = htons(port);
  }
  RegisterAsyncStyles();
  NotifyEvent(this, seConnecting);
  const int result = connect(socket_.Get(), reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_);
  CheckSocketResult(result == SOCKET_ERROR, "connect");
  connected_ = socket_.IsValid();
  NotifyEvent(this, seConnect);
}

void TCustomWinSocket::SetAsyncStyles(long styles) {
  if (styles == asyncStyles_) return;
  asyncStyles_ = styles;
  if (socket_) RegisterAsyncStyles();
}

int TCustomWinSocket::SelectNotifications() {
  EnsureWindow();
  // Also makes the socket non-blocking.
  return FailureCode(WSAAsyncSelect(socket_.Get(), window_->Handle(), CM_SOCKETMESSAGE, asyncStyles_) == SOCKET_ERROR);
}

void TCustomWinSocket::RegisterAsyncStyles() {
  if (asyncStyles_ != 0) {
    if (const int code = SelectNotifications()) RaiseSocketError(code, "WSAAsyncSelect");
  } else {
    CheckSocketResult(WSAAsyncSelect(socket_.Get(), window_ ? window_->Handle() : nullptr, 0, 0) == SOCKET_ERROR,
                      "WSAAsyncSelect");
    u_long nonBlocking = 0;
    CheckSocketResult(ioctlsocket(socket_.Get(), FIONBIO, &nonBlocking) == SOCKET_ERROR, "ioctlsocket");
  }
}

LRESULT TCustomWinSocket::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  // The hidden window runs this inside the toolkit's guard: an exception goes
  // to the application's central handler and the message loop goes on.
  switch (message) {
    case CM_SOCKETMESSAGE:
      HandleSocketMessage(static_cast<SOCKET>(wParam), WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
      return 0;
    case CM_LOOKUPCOMPLETE:
      HandleLookupComplete(reinterpret_cast<HANDLE>(wParam), WSAGETASYNCERROR(lParam));
      return 0;
    case CM_OPENFAILED:
      HandleOpenFailed(wParam);
      return 0;
    default:
      return window_->Default(message, wParam, lParam);
  }
}

void TCustomWinSocket::HandleSocketMessage(SOCKET socket, int flag, int error) {
  // The error first: a refused connect, a reset. An error of a socket that
  // is no longer this connection's (a superseded attempt) concerns nobody.
  if (error != 0) {
    if (socket == INVALID_SOCKET || socket != socket_.Get()) return;
    int code = error;
    NotifyError(this, ErrorEventForFlag(flag), code);
    if (code != 0) throw ESocketError("Asynchronous socket error " + std::to_string(code));
    return;
  }
  switch (flag) {
    case FD_CONNECT: ConnectReady(socket); break;
    case FD_CLOSE: CloseReady(socket); break;
    case FD_READ: ReadReady(socket); break;
    case FD_WRITE: WriteReady(socket); break;
    case FD_ACCEPT: AcceptReady(socket); break;
    default: break;
  }
}

void TCustomWinSocket::HandleLookupComplete(HANDLE request, int error) {
  if (request == nullptr || request != lookupRequest_) return;  // cancelled or superseded
  lookupRequest_ = nullptr;
  try {
    if (error != 0) {
      int code = error;
      NotifyError(this, eeLookup, code);
      DropConnection(socket_.Get());
      if (code != 0) RaiseSocketError(code, "ASync Lookup");
      return;
    }
    if (lookupStage_ == lsHost) {
      const auto* entry = reinterpret_cast<const hostent*>(LookupBuffer());
      peer_.sin_family = AF_INET;
      if (entry->h_addr_list && entry->h_addr_list[0])
        std::memcpy(&peer_.sin_addr, entry->h_addr_list[0], sizeof peer_.sin_addr);
      ContinueLookup();
    } else if (lookupStage_ == lsService) {
      const auto* entry = reinterpret_cast<const servent*>(LookupBuffer());
      peer_.sin_port = static_cast<u_short>(entry->s_port);  // already in network order
      service_.clear();
      port_ = 0;
      ContinueLookup();
    }
  } catch (...) {
    DropConnection(socket_.Get());
    throw;
  }
}

void TCustomWinSocket::CloseReady(SOCKET socket) {
  if (socket != INVALID_SOCKET && socket == socket_.Get()) {
    // The platform may post the close before the last data has been read
    // (its documentation says to look for it): what still waits goes to
    // OnRead first. A reset that shows only now is reported as the error it
    // is. (Wine 8 posts a reset as a close without error and leaves no trace
    // of it on the socket, so there it ends like an orderly close.)
    char probe;
    const int peeked = recv(socket, &probe, 1, MSG_PEEK);
    if (peeked > 0) {
      ReadReady(socket);
      if (socket != socket_.Get()) return;
    } else if (peeked == SOCKET_ERROR) {
      const int code = WSAGetLastError();
      if (code != WSAEWOULDBLOCK && code != WSAENOTCONN && code != WSAESHUTDOWN) {
        HandleSocketMessage(socket, FD_CLOSE, code);
        return;
      }
    }
  }
  DropConnection(socket);
}

void TCustomWinSocket::ConnectReady(SOCKET socket) {
  // A connect notification of a socket that was superseded or closed must
  // not mark the current one connected (or a closed one, which would leave
  // the component active with no socket).
  if (socket == INVALID_SOCKET || socket != socket_.Get()) return;
  connected_ = true;
  NotifyEvent(this, seConnect);
}

void TCustomWinSocket::ReadReady(SOCKET socket) {
  if (socket != INVALID_SOCKET && socket == socket_.Get()) NotifyEvent(this, seRead);
}

void TCustomWinSocket::WriteReady(SOCKET socket) {
  if (socket != INVALID_SOCKET && socket == socket_.Get()) NotifyEvent(this, seWrite);
}

void TCustomWinSocket::DropConnection(SOCKET socket) {
  std::lock_guard<CriticalSection> lock(lock_);
  // Closing the attempt (or finding none) ends it: a failure it still had to
  // report concerns nobody now, like a refusal still queued for its socket.
  if (socket == socket_.Get()) failure_.pending = false;
  if (lookupRequest_) {
    const HANDLE request = lookupRequest_;
    lookupRequest_ = nullptr;
    // A request that completed a moment ago (its message still queued) is no
    // failure: the message is ignored once the request is forgotten.
    if (WSACancelAsyncRequest(request) == SOCKET_ERROR && WSAGetLastError() != WSAEALREADY)
      CheckSocketResult(true, "WSACancelASyncRequest");
  }
  if (socket == INVALID_SOCKET || socket != socket_.Get() || dropping_) return;
  // OnDisconnect runs with the socket still open; a handler that closes it
  // again from there must not raise the event a second time.
  dropping_ = true;
  try {
    NotifyEvent(this, seDisconnect);
  } catch (...) {
    dropping_ = false;
    throw;
  }
  dropping_ = false;
  // Closed here rather than by the owner: a failed close is reported.
  const int result = SocketTraits::Close(socket_.Release());
  PurgeNotifications();
  peer_ = {};
  peer_.sin_family = AF_INET;
  connected_ = false;
  lookupStage_ = lsIdle;
  CheckSocketResult(result == SOCKET_ERROR, "closesocket");
}

void TCustomWinSocket::CloseConnection() { DropConnection(socket_.Get()); }

int TCustomWinSocket::SendBytes(const void* buffer, int count) {
  std::lock_guard<CriticalSection> lock(lock_);
  if (!connected_) return 0;
  const int sent = send(socket_.Get(), static_cast<const char*>(buffer), count, 0);
  if (sent == SOCKET_ERROR) {
    int code = WSAGetLastError();
    if (code != WSAEWOULDBLOCK) {
      NotifyError(this, eeSend, code);
      DropConnection(socket_.Get());
      if (code != 0) RaiseSocketError(code, "send");
    }
  }
  return sent;
}

int TCustomWinSocket::SendString(const std::string& text) {
  if (text.empty()) return 0;
  return SendBytes(text.data(), static_cast<int>(text.size()));
}

int TCustomWinSocket::ReceiveBytes(void* buffer, int count) {
  std::lock_guard<CriticalSection> lock(lock_);
  int result = 0;
  if (count == -1 && connected_) {
    u_long waiting = 0;
    if (ioctlsocket(socket_.Get(), FIONREAD, &waiting) == 0) result = static_cast<int>(waiting);
  } else if (connected_ && count >= 0) {
    result = recv(socket_.Get(), static_cast<char*>(buffer), count, 0);
    if (result == SOCKET_ERROR) {
      int code = WSAGetLastError();
      if (code != WSAEWOULDBLOCK) {
        NotifyError(this, eeReceive, code);
        DropConnection(socket_.Get());
        if (code != 0) RaiseSocketError(code, "recv");
      }
    }
  }
  return result;
}

std::string TCustomWinSocket::ReceiveString() {
  const int waiting = ReceiveBytes(nullptr, -1);
  if (waiting <= 0) return std::string();
  std::string text(static_cast<std::size_t>(waiting), '\0');
  const int received = ReceiveBytes(&text[0], waiting);
  text.resize(received > 0 ? static_cast<std::size_t>(received) : 0);
  return text;
}

// ---------------------------------------------------------------------------
// TClientWinSocket

void TClientWinSocket::SetClientType(TClientType type) {
  if (type == clientType_) return;
  if (connected_) throw ESocketError("Can't change value while socket is active");
  clientType_ = type;
  SetAsyncStyles(type == ctBlocking ? 0 : kAllStyles);
}

void TClientWinSocket::ConnectReady(SOCKET socket) { TCustomWinSocket::ConnectReady(socket); }
