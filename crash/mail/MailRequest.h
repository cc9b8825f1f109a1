// What a simple-MAPI send needs, as plain data: the Win32 side turns it into
// the platform's recipient and file descriptors and calls MAPISendMail.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Fixed texts of the mail (placeholders already expanded by the caller).
extern const char kMailSubject[];  // "bug report"
extern const char kMailBody[];     // "please find the bug report attached"

// Attachment names under which the files travel.
extern const char kBugReportSendAs[];   // "bugreport.txt"
extern const char kScreenshotSendAs[];  // "screenshot.png"

// Values of the platform's MAPI declarations, repeated here so that this
// file needs no platform header.
constexpr std::uint32_t kMapiOriginator = 0;
constexpr std::uint32_t kMapiTo = 1;
constexpr std::uint32_t kMapiLogonUi = 0x00000001;
constexpr std::uint32_t kMapiDialog = 0x00000008;
constexpr std::uint32_t kMapiSuccess = 0;
constexpr std::uint32_t kMapiUserAbort = 1;

struct MailRecipient {
  std::string name;     // display name
  std::string address;  // bare address
};

// One mail address text: "Name <address>" gives both parts (surrounding
// blanks and quotes dropped from the name); a text without angle brackets is
// the address, and the address doubles as the name when no name is given.
// An empty or blank text gives an empty address.
MailRecipient SplitMailAddress(const std::string& text);

// A recipient list separated by commas; empty items are skipped.
std::vector<MailRecipient> SplitRecipients(const std::string& list);

struct MapiRecipient {
  std::uint32_t recipientClass = kMapiTo;
  std::string name;
  std::string address;  // "SMTP:" + bare address
};

struct MapiAttachment {
  std::string path;  // file to send
  std::string name;  // name the recipient sees
};

struct MapiRequest {
  bool hasOriginator = false;
  MapiRecipient originator;
  std::vector<MapiRecipient> recipients;
  std::string subject;
  std::string body;
  std::vector<MapiAttachment> attachments;
  std::uint32_t flags = 0;
};

// `recipients` is the configured recipient list, `sender` the contact the
// user gave ("Name <address>", a bare address, or empty). The mail client's
// log-on and compose dialogs are asked for when the user started the send or
// when there is no recipient, so the user can complete and send the mail.
MapiRequest BuildMapiRequest(const std::string& recipients, const std::string& sender, const std::string& subject,
                             const std::string& body, std::vector<MapiAttachment> attachments, bool startedByUser);

// Result of one mail route, also the result of the whole send.
enum class SendResult { Failed = 0, Sent = 1, Cancelled = 2 };

// The user's cancel in the mail client ends the send without a fallback;
// every other error lets the next route try.
SendResult MapiSendResult(std::uint32_t mapiError);
