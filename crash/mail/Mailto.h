// The "mailto:" fallback route: the link that carries the bug report and the
// command line that hands it to the protocol's registered handler.
//
// Everything here works on text the caller has already converted: report
// texts as UTF-8 (the Win32 side converts from the ANSI code page), and the
// handler's command with its environment variables already expanded.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// CreateProcess takes at most 32767 characters including the terminator.
constexpr std::size_t kMaxCommandLineLength = 32766;

// Every byte except A-Z, a-z, 0-9, "." and "@" becomes "%" and two upper-case
// hex digits. The result therefore never holds a blank, a quote, a backslash
// or a line break, which is what makes the link safe on a command line.
std::string PercentEncode(const std::string& utf8);

// "," between recipients, ";" when the handler's command names OUTLOOK
// (that client only takes semicolons).
char MailtoRecipientSeparator(const std::string& handlerCommand);

struct MailtoMessage {
  std::vector<std::string> recipients;  // bare addresses, UTF-8
  std::string subject;                  // UTF-8
  std::string body;                     // UTF-8: the whole bug report
};

// "mailto:" + recipients + "?subject=" + subject + "&body=" + body, each
// address, the subject and the body percent-encoded.
std::string BuildMailtoLink(const MailtoMessage& message, char recipientSeparator);

// Puts `argument` into `handlerCommand` as exactly one argument at the place
// the command gives: in place of every "%1", or, without "%1", after one
// blank (none when the command already ends with one). The argument is quoted
// and escaped as the platform's command-line splitting (CommandLineToArgvW)
// needs for the spot it lands in; an argument without blanks, quotes,
// backslashes or line breaks (every mailto link) goes in unchanged.
//
// When the whole command would exceed `maxLength` characters, the argument is
// shortened from its end, never through a "%XX" escape: with one "%1" and a
// plain link the command comes out at maxLength, maxLength - 1 or
// maxLength - 2. The rest of the command is never cut.
//
// Returns nothing when the argument cannot be placed safely (a spot glued to
// the command's own quotes, or inside the program name, that would need
// quoting) or when the command alone leaves no room.
std::optional<std::string> BuildHandlerCommand(const std::string& handlerCommand, const std::string& argument,
                                               std::size_t maxLength = kMaxCommandLineLength);

// The whole route's command: link built with the separator the handler wants,
// then placed and cut as above.
std::optional<std::string> BuildMailtoCommand(const std::string& handlerCommand, const MailtoMessage& message,
                                              std::size_t maxLength = kMaxCommandLineLength);
