// Kinds and codes of the TCP client that need no platform header, so the
// portable units and their tests can use them.
#pragma once

#include <string>

// What went wrong, by the operation that failed.
enum TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };
enum TClientType { ctNonBlocking, ctBlocking };

// What a connection reports to its component. seListen and seAccept belong
// to listening sockets and never occur for a client.
enum TSocketEvent {
  seLookup = 0,
  seConnecting = 1,
  seConnect = 2,
  seDisconnect = 3,
  seListen = 4,
  seAccept = 5,
  seWrite = 6,
  seRead = 7
};

// The component's own code for "neither Host nor Address is set".
inline constexpr int kNoAddressErrorCode = 1110;

// The error kind of a failed notification, by its event flag (read 1,
// write 2, accept 8, connect 16, close 32; anything else is general).
TErrorEvent ErrorEventForFlag(int flag);

// The platform's text for an error code with trailing blanks, line breaks
// and full stops removed.
std::string TrimErrorText(std::string text);

// "Windows socket error: %s (%d), on API '%s'".
std::string SocketErrorMessage(const std::string& text, int code, const std::string& api);
