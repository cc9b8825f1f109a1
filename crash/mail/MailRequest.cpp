#include "crash/mail/MailRequest.h"

#include <utility>

const char kMailSubject[] = "bug report";
const char kMailBody[] = "please find the bug report attached";
const char kBugReportSendAs[] = "bugreport.txt";
const char kScreenshotSendAs[] = "screenshot.png";

namespace {

std::string Trim(const std::string& text, const char* drop = " \t") {
  const std::string::size_type first = text.find_first_not_of(drop);
  if (first == std::string::npos)
    return std::string();
  const std::string::size_type last = text.find_last_not_of(drop);
  return text.substr(first, last - first + 1);
}

MapiRecipient ToMapi(const MailRecipient& recipient, std::uint32_t recipientClass) {
  MapiRecipient out;
  out.recipientClass = recipientClass;
  out.name = recipient.name;
  out.address = "SMTP:" + recipient.address;
  return out;
}

}  // namespace

MailRecipient SplitMailAddress(const std::string& text) {
  MailRecipient recipient;
  const std::string trimmed = Trim(text);
  const std::string::size_type open = trimmed.rfind('<');
  const std::string::size_type close = open == std::string::npos ? std::string::npos : trimmed.find('>', open);
  if (close != std::string::npos) {
    recipient.address = Trim(trimmed.substr(open + 1, close - open - 1));
    recipient.name = Trim(Trim(trimmed.substr(0, open)), " \t\"");
  } else {
    recipient.address = trimmed;
  }
  if (recipient.name.empty())
    recipient.name = recipient.address;
  return recipient;
}

std::vector<MailRecipient> SplitRecipients(const std::string& list) {
  std::vector<MailRecipient> recipients;
  std::string::size_type from = 0;
  while (from <= list.size()) {
    std::string::size_type comma = list.find(',', from);
    if (comma == std::string::npos)
      comma = list.size();
    MailRecipient recipient = SplitMailAddress(list.substr(from, comma - from));
    if (!recipient.address.empty())
      recipients.push_back(recipient);
    from = comma + 1;
  }
  return recipients;
}

MapiRequest BuildMapiRequest(const std::string& recipients, const std::string& sender, const std::string& subject,
                             const std::string& body, std::vector<MapiAttachment> attachments, bool startedByUser) {
  MapiRequest request;
  const MailRecipient from = SplitMailAddress(sender);
  if (!from.address.empty()) {
    request.hasOriginator = true;
    request.originator = ToMapi(from, kMapiOriginator);
  }
  for (const MailRecipient& to : SplitRecipients(recipients))
    request.recipients.push_back(ToMapi(to, kMapiTo));
  request.subject = subject;
  request.body = body;
  request.attachments = std::move(attachments);
  if (startedByUser || request.recipients.empty())
    request.flags = kMapiLogonUi | kMapiDialog;
  return request;
}

SendResult MapiSendResult(std::uint32_t mapiError) {
  if (mapiError == kMapiSuccess)
    return SendResult::Sent;
  if (mapiError == kMapiUserAbort)
    return SendResult::Cancelled;
  return SendResult::Failed;
}
