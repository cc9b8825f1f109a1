#include "crash/mail/Mailto.h"

#include <algorithm>

namespace {

const char kPlaceholder[] = "%1";
constexpr std::size_t kPlaceholderLength = 2;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '@';
}

// Where one "%1" sits in the handler's command, as the platform's argument
// splitting sees that spot.
struct Spot {
  std::size_t position = 0;
  bool inProgramName = false;  // the first token follows rules of its own
  bool inQuotes = false;
  std::size_t backslashesBefore = 0;  // the command's own backslashes right before
  bool quoteBefore = false;           // a quote right before, with no backslash between
  bool quoteAfter = false;            // a quote right after
  bool quoteAfterBackslashes = false;  // a quote after a run of zero or more backslashes
  bool nextToSpot = false;  // only backslashes between this spot and another
};

Spot MakeSpot(const std::string& command, std::size_t position) {
  Spot spot;
  spot.position = position;
  spot.quoteBefore = position > 0 && command[position - 1] == '"';
  std::size_t after = position + kPlaceholderLength;
  spot.quoteAfter = after < command.size() && command[after] == '"';
  while (after < command.size() && command[after] == '\\')
    ++after;
  spot.quoteAfterBackslashes = after < command.size() && command[after] == '"';
  return spot;
}

// Finds every "%1" and the splitting state at it, following the rules of
// CommandLineToArgvW: the program name ends at the next quote when it starts
// with one, else at the first blank; after it, 2n backslashes and a quote
// give n backslashes and toggle quoting, 2n+1 give n and a literal quote,
// other backslashes are literal, and a run of quotes counts modulo three.
// A "%1" itself counts as two ordinary characters.
std::vector<Spot> FindSpots(const std::string& command) {
  std::vector<Spot> spots;
  std::size_t i = 0;
  const std::size_t size = command.size();
  auto placeholderAt = [&](std::size_t at) { return command.compare(at, kPlaceholderLength, kPlaceholder) == 0; };

  if (i < size && command[i] == '"') {
    ++i;
    while (i < size && command[i] != '"') {
      if (placeholderAt(i)) {
        Spot spot = MakeSpot(command, i);
        spot.inProgramName = true;
        spot.inQuotes = true;
        spots.push_back(spot);
        i += kPlaceholderLength;
      } else {
        ++i;
      }
    }
    if (i < size)
      ++i;  // the closing quote
  } else {
    while (i < size && !IsBlank(command[i])) {
      if (placeholderAt(i)) {
        Spot spot = MakeSpot(command, i);
        spot.inProgramName = true;
        spots.push_back(spot);
        i += kPlaceholderLength;
      } else {
        ++i;
      }
    }
  }

  int quoteCount = 0;
  std::size_t backslashes = 0;
  while (i < size) {
    const char c = command[i];
    if (IsBlank(c) && quoteCount == 0) {
      ++i;
      backslashes = 0;
    } else if (c == '\\') {
      ++backslashes;
      ++i;
    } else if (c == '"') {
      if (backslashes % 2 == 0)
        ++quoteCount;
      backslashes = 0;
      ++i;
      while (i < size && command[i] == '"') {
        ++quoteCount;
        ++i;
      }
      quoteCount %= 3;
      if (quoteCount == 2)
        quoteCount = 0;
    } else if (placeholderAt(i)) {
      Spot spot = MakeSpot(command, i);
      spot.inQuotes = quoteCount != 0;
      spot.backslashesBefore = backslashes;
      if (backslashes > 0)
        spot.quoteBefore = false;
      spots.push_back(spot);
      backslashes = 0;
      i += kPlaceholderLength;
    } else {
      backslashes = 0;
      ++i;
    }
  }
  for (std::size_t k = 1; k < spots.size(); ++k) {
    const std::size_t from = spots[k - 1].position + kPlaceholderLength;
    if (command.find_first_not_of('\\', from) == spots[k].position)
      spots[k - 1].nextToSpot = spots[k].nextToSpot = true;
  }
  return spots;
}

// The argument's text for a quoted stretch: each quote escaped with its run
// of backslashes doubled; the trailing run doubled too when the command goes
// on with a quote (after backslashes of its own), which it would otherwise
// swallow. `pending` counts the command's backslashes right before.
std::string EscapeForQuotes(const std::string& argument, std::size_t pending, bool quoteFollows) {
  std::string out;
  out.reserve(argument.size() + 8);
  for (char c : argument) {
    if (c == '\\') {
      out += c;
      ++pending;
    } else if (c == '"') {
      out.append(pending + 1, '\\');
      out += '"';
      pending = 0;
    } else {
      out += c;
      pending = 0;
    }
  }
  if (quoteFollows)
    out.append(pending, '\\');
  return out;
}

bool NeedsQuoting(const std::string& argument) {
  if (argument.empty())
    return true;
  for (char c : argument) {
    if (IsBlank(c) || c == '"' || c == '\r' || c == '\n')
      return true;
  }
  return false;
}

std::optional<std::string> RenderAt(const Spot& spot, const std::string& argument) {
  // Two copies of the argument side by side would share quotes and
  // backslash runs; only a plain text cannot interact with itself.
  if (spot.nextToSpot && (NeedsQuoting(argument) || argument.find('\\') != std::string::npos))
    return std::nullopt;
  if (spot.inProgramName) {
    // No escapes exist in the program name; only a plain text keeps it whole.
    if (argument.empty() || argument.find('"') != std::string::npos)
      return std::nullopt;
    if (!spot.inQuotes && NeedsQuoting(argument))
      return std::nullopt;
    return argument;
  }
  if (spot.inQuotes)
    return EscapeForQuotes(argument, spot.backslashesBefore, spot.quoteAfterBackslashes);
  if (!NeedsQuoting(argument))
    return EscapeForQuotes(argument, spot.backslashesBefore, spot.quoteAfterBackslashes);
  // Our own quotes would merge with a quote of the command's next to them.
  if (spot.quoteBefore || spot.quoteAfter)
    return std::nullopt;
  std::string out(spot.backslashesBefore, '\\');  // keeps the command's own run literal
  out += '"';
  out += EscapeForQuotes(argument, 0, true);
  out += '"';
  return out;
}

std::optional<std::string> Assemble(const std::string& command, const std::vector<Spot>& spots,
                                    const std::string& argument) {
  std::string out;
  std::size_t from = 0;
  for (const Spot& spot : spots) {
    std::optional<std::string> rendered = RenderAt(spot, argument);
    if (!rendered)
      return std::nullopt;
    out.append(command, from, spot.position - from);
    out += *rendered;
    from = spot.position + kPlaceholderLength;
  }
  out.append(command, from, std::string::npos);
  return out;
}

// Shortens a cut point so that no "%XX" escape loses its tail.
std::size_t KeepWholeEscapes(const std::string& text, std::size_t length) {
  auto escapeAt = [&](std::size_t at) {
    return at + 3 <= text.size() && text[at] == '%' && IsHexDigit(text[at + 1]) && IsHexDigit(text[at + 2]);
  };
  if (length >= 1 && escapeAt(length - 1))
    return length - 1;
  if (length >= 2 && escapeAt(length - 2))
    return length - 2;
  return length;
}

}  // namespace

std::string PercentEncode(const std::string& utf8) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(utf8.size() * 3);
  for (unsigned char c : utf8) {
    if (IsUnreserved(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kDigits[c >> 4];
      out += kDigits[c & 0x0F];
    }
  }
  return out;
}

char MailtoRecipientSeparator(const std::string& handlerCommand) {
  return handlerCommand.find("OUTLOOK") != std::string::npos ? ';' : ',';
}

std::string BuildMailtoLink(const MailtoMessage& message, char recipientSeparator) {
  std::string link = "mailto:";
  for (std::size_t i = 0; i < message.recipients.size(); ++i) {
    if (i > 0)
      link += recipientSeparator;
    link += PercentEncode(message.recipients[i]);
  }
  link += "?subject=";
  link += PercentEncode(message.subject);
  link += "&body=";
  link += PercentEncode(message.body);
  return link;
}

std::optional<std::string> BuildHandlerCommand(const std::string& handlerCommand, const std::string& argument,
                                               std::size_t maxLength) {
  if (handlerCommand.find_first_not_of(" \t") == std::string::npos)
    return std::nullopt;

  std::string command = handlerCommand;
  const bool appended = command.find(kPlaceholder) == std::string::npos;
  if (appended) {
    if (command.back() != ' ')
      command += ' ';
    command += kPlaceholder;
  }
  const std::vector<Spot> spots = FindSpots(command);
  if (spots.empty())
    return std::nullopt;
  // An appended link must start an argument of its own; a command that ends
  // inside quotes or inside its program name would glue it to other text.
  if (appended && (spots.front().inProgramName || spots.front().inQuotes))
    return std::nullopt;

  std::optional<std::string> whole = Assemble(command, spots, argument);
  if (!whole)
    return std::nullopt;
  if (whole->size() <= maxLength)
    return whole;

  const std::size_t fixedLength = command.size() - spots.size() * kPlaceholderLength;
  if (fixedLength >= maxLength)
    return std::nullopt;
  auto fits = [&](std::size_t length) {
    std::optional<std::string> candidate =
        Assemble(command, spots, argument.substr(0, KeepWholeEscapes(argument, length)));
    return candidate && candidate->size() <= maxLength;
  };
  // Escaping only ever adds characters, so the raw text bounds the search.
  std::size_t low = 0;
  std::size_t high = std::min(argument.size(), (maxLength - fixedLength) / spots.size());
  while (low < high) {
    const std::size_t middle = low + (high - low + 1) / 2;
    if (fits(middle))
      low = middle;
    else
      high = middle - 1;
  }
  const std::size_t kept = KeepWholeEscapes(argument, low);
  if (kept == 0)
    return std::nullopt;
  std::optional<std::string> cut = Assemble(command, spots, argument.substr(0, kept));
  if (!cut || cut->size() > maxLength)
    return std::nullopt;
  return cut;
}

std::optional<std::string> BuildMailtoCommand(const std::string& handlerCommand, const MailtoMessage& message,
                                              std::size_t maxLength) {
  return BuildHandlerCommand(handlerCommand, BuildMailtoLink(message, MailtoRecipientSeparator(handlerCommand)),
                             maxLength);
}
