#include "net/SocketTypes.h"

#include <cstdio>

TErrorEvent ErrorEventForFlag(int flag) {
  switch (flag) {
    case 1: return eeReceive;
    case 2: return eeSend;
    case 8: return eeAccept;
    case 16: return eeConnect;
    case 32: return eeDisconnect;
    default: return eeGeneral;
  }
}

std::string TrimErrorText(std::string text) {
  while (!text.empty()) {
    const char c = text.back();
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '.') break;
    text.pop_back();
  }
  return text;
}

std::string SocketErrorMessage(const std::string& text, int code, const std::string& api) {
  return "Windows socket error: " + text + " (" + std::to_string(code) + "), on API '" + api + "'";
}
