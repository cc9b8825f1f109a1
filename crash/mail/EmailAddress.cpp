#include "crash/mail/EmailAddress.h"

namespace {

bool IsAddressCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '\'' ||
         c == '+' || c == '-' || c == '_';
}

}  // namespace

bool IsValidEmailAddress(const std::string& text) {
  if (text.empty() || text.front() == ' ' || text.back() == ' ')
    return false;
  if (text.front() == '.' || text.back() == '.')
    return false;

  const std::string::size_type at = text.rfind('@');
  if (at == std::string::npos || at == 0)
    return false;
  if (text.find('@') != at)
    return false;  // more than one "@"
  if (at + 1 >= text.size() || text[at + 1] == '.')
    return false;
  if (text.find('.', at + 1) == std::string::npos)
    return false;

  for (std::string::size_type i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i != at && c != '.' && !IsAddressCharacter(c))
      return false;
  }
  return true;
}
