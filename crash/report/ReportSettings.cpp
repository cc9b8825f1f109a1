#include "crash/report/ReportSettings.h"

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "crash/report/FieldList.h"

namespace {

constexpr SettingKind B = SettingKind::OnOff;
constexpr SettingKind N = SettingKind::Number;
constexpr SettingKind T = SettingKind::Text;

const std::vector<SettingDefinition> kKnown = {
    {"Enabled", B}, {"NoSettings", B}, {"CheckFreeze", B}, {"FreezeTimeout", N},
    {"ReportLeaks", B}, {"CrashOnBuffer", B}, {"CrashOnUnderrun", B}, {"WindowsLogo", B},
    {"AutoSave", B}, {"AutoSaveIfNotSent", B}, {"AutoSend", B}, {"AutoSendBox", B}, {"AutoClip", B},
    {"PauseThreads", B}, {"PlWaitBox", B}, {"AutoContinue", B}, {"AutoRestart", N}, {"AutoClose", N},
    {"SendBtnVis", B}, {"ShowBtnVis", B}, {"ContinueBtnVis", B}, {"RestartBtnVis", B}, {"CloseBtnVis", B},
    {"SaveBtnVis", B}, {"PrintBtnVis", B}, {"FocusedBtn", N},
    {"SendAssis", T}, {"SaveAssis", T}, {"PrintAssis", T},
    {"AutoShowBugRep", B}, {"UglyBtns", B}, {"SendInBackgr", B},
    {"UploadViaHttp", B}, {"HttpServer", T}, {"HttpSsl", B}, {"HttpPort", N}, {"HttpAccount", T},
    {"HttpPassword", T},
    {"FogBugz", B}, {"BugZilla", B}, {"Mantis", B}, {"BugTrAccount", T}, {"BugTrPassword", T},
    {"BugTrProject", T}, {"BugTrArea", T}, {"BugTrAssignTo", T},
    {"MailAsSmtpServer", B}, {"MailAsSmtpClient", B}, {"SmtpServer", T}, {"SmtpSsl", B}, {"SmtpTls", B},
    {"SmtpPort", N}, {"SmtpAccount", T}, {"SmtpPassword", T},
    {"MailViaMapi", B}, {"MailViaMailto", B}, {"MailAddr", T},
    {"AttachBugRep", B}, {"AttachBugRepFile", B}, {"DelBugRepFile", B},
    {"BugRepSendAs", T}, {"BugRepZip", T},
    {"ScrShotDepth", N}, {"ScrShotAppOnly", B}, {"ScrShotSendAs", T}, {"ScrShotZip", T},
    {"AddAttachs", T},
    {"BugRepFile", T}, {"AppendBugReps", B}, {"BugRepFileSize", N},
    {"NoDupExcepts", B}, {"DupExceptDef", N}, {"NoDupFreezes", B}, {"DupFreezeDef", N},
    {"ListThreads", B}, {"CpuRegs", B}, {"StackDump", B}, {"ShowDisAsm", B},
    {"HideUglyItems", B}, {"ShowRelAddrs", B}, {"ShowRelLines", B}, {"FormatDisAsm", B}, {"LimitDisAsm", N},
    {"Plugins", T},
    {"F1Classes", T}, {"F1NoBugRep", B}, {"F1NoScrShot", B}, {"F1NoHandlers", B}, {"F1NoSuspend", B},
    {"F1ShowCfg", N}, {"F1Assis", T},
    {"F2Classes", T}, {"F2NoBugRep", B}, {"F2NoScrShot", B}, {"F2NoHandlers", B}, {"F2NoSuspend", B},
    {"F2ShowCfg", N}, {"F2Assis", T},
    {"GnNoBugRep", B}, {"GnNoScrShot", B}, {"GnNoHandlers", B}, {"GnNoSuspend", B}, {"GnShowCfg", N},
    {"GnAssis", T},
    {"Assistant1", T}, {"Assistant2", T}, {"Assistant3", T},
    {"TitleBar", T}, {"ExceptMsg", T}, {"FrozenMsg", T},
    {"SendBtnTxt", T}, {"SaveBtnTxt", T}, {"PrintBtnTxt", T}, {"ShowBtnTxt", T},
    {"ContinueBtnTxt", T}, {"RestartBtnTxt", T}, {"CloseBtnTxt", T}, {"OkBtnTxt", T}, {"DetailsBtnTxt", T},
    {"PlWaitTitle", T}, {"PlWaitText", T}, {"BugTrTitle", T}, {"BugTrDescr", T},
    {"MailSubj", T}, {"MailBody", T}, {"SendBoxTitle", T},
    {"PrepAttMsg", T}, {"MxLookMsg", T}, {"ConnMsg", T}, {"SendMailMsg", T}, {"FieldMsg", T},
    {"SendAttMsg", T}, {"SendFinalMsg", T}, {"SendFailMsg", T},
};

[[noreturn]] void Invalid(const std::string& detail) {
  throw EReportSettingsError("Internal error: Invalid settings resource (" + detail + ").");
}

std::string Trim(const std::string& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
  return s.substr(a, b - a);
}

bool ParseText(const std::string& raw, std::string* out) {
  if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"') return false;
  out->clear();
  for (std::size_t i = 1; i + 1 < raw.size(); ++i) {
    char c = raw[i];
    if (c == '"') return false;  // an unescaped quote inside
    if (c == '\\') {
      if (i + 2 >= raw.size()) return false;  // the escape would eat the closing quote
      switch (raw[++i]) {
        case '\\': c = '\\'; break;
        case '"': c = '"'; break;
        case 'r': c = '\r'; break;
        case 'n': c = '\n'; break;
        case 't': c = '\t'; break;
        default: return false;
      }
    }
    *out += c;
  }
  return true;
}

bool ParseNumber(const std::string& raw, std::int64_t* out) {
  if (raw.empty()) return false;
  std::size_t i = raw[0] == '-' ? 1 : 0;
  if (i == raw.size()) return false;
  for (std::size_t k = i; k < raw.size(); ++k)
    if (raw[k] < '0' || raw[k] > '9') return false;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(raw.c_str(), &end, 10);
  if (errno == ERANGE || end != raw.c_str() + raw.size()) return false;
  *out = value;
  return true;
}

}  // namespace

const std::vector<SettingDefinition>& ReportSettings::Known() { return kKnown; }

ReportSettings::ReportSettings() {
  values_.reserve(kKnown.size());
  for (const SettingDefinition& definition : kKnown) {
    Value value;
    value.name = definition.name;
    value.kind = definition.kind;
    values_.push_back(value);
  }
}

ReportSettings ReportSettings::Parse(const void* data, std::size_t size) {
  if (!data && size > 0) Invalid("no data");
  ReportSettings settings;
  std::string block(static_cast<const char*>(data), size);
  if (block.compare(0, 3, "\xEF\xBB\xBF") == 0) block.erase(0, 3);
  if (block.find('\0') != std::string::npos) Invalid("null byte in the block");

  std::size_t start = 0;
  int line_number = 0;
  while (start < block.size()) {
    std::size_t end = block.find('\n', start);
    if (end == std::string::npos) end = block.size();
    std::string line = block.substr(start, end - start);
    start = end + 1;
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;

    const std::string where = "line " + std::to_string(line_number) + ": ";
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) Invalid(where + "no '='");
    const std::string name = Trim(line.substr(0, equals));
    const std::string raw = Trim(line.substr(equals + 1));

    Value* value = nullptr;
    for (Value& v : settings.values_)
      if (v.name == name) value = &v;
    if (!value) Invalid(where + "unknown setting '" + name + "'");
    if (value->set) Invalid(where + "'" + name + "' given twice");

    switch (value->kind) {
      case SettingKind::OnOff:
        if (raw == "on") value->on = true;
        else if (raw == "off") value->on = false;
        else Invalid(where + "'" + name + "' must be on or off");
        break;
      case SettingKind::Number:
        if (!ParseNumber(raw, &value->number)) Invalid(where + "'" + name + "' must be a number");
        break;
      case SettingKind::Text:
        if (!ParseText(raw, &value->text)) Invalid(where + "'" + name + "' must be a quoted text");
        break;
    }
    value->set = true;
  }
  for (const Value& v : settings.values_)
    if (!v.set) Invalid("missing setting '" + v.name + "'");
  return settings;
}

ReportSettings::Value& ReportSettings::Find(const std::string& name, SettingKind kind) {
  return const_cast<Value&>(static_cast<const ReportSettings*>(this)->Find(name, kind));
}

const ReportSettings::Value& ReportSettings::Find(const std::string& name, SettingKind kind) const {
  for (const Value& v : values_)
    if (v.name == name) {
      if (v.kind != kind) throw EReportSettingsError("Internal error: Setting '" + name + "' has another kind.");
      return v;
    }
  throw EReportSettingsError("Internal error: Unknown setting '" + name + "'.");
}

bool ReportSettings::IsOn(const std::string& name) const { return Find(name, SettingKind::OnOff).on; }
std::int64_t ReportSettings::Number(const std::string& name) const { return Find(name, SettingKind::Number).number; }
const std::string& ReportSettings::Text(const std::string& name) const { return Find(name, SettingKind::Text).text; }
void ReportSettings::SetOn(const std::string& name, bool value) { Find(name, SettingKind::OnOff).on = value; }
void ReportSettings::SetNumber(const std::string& name, std::int64_t value) {
  Find(name, SettingKind::Number).number = value;
}
void ReportSettings::SetText(const std::string& name, const std::string& value) {
  Find(name, SettingKind::Text).text = value;
}

bool ReportSettings::Has(const std::string& name) const {
  for (const Value& v : values_)
    if (v.name == name) return true;
  return false;
}

std::vector<std::string> SettingListItems(const std::string& text, const char* separators) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(separators, start);
    if (end == std::string::npos) end = text.size();
    std::string item = TrimBlanks(text.substr(start, end - start));
    if (!item.empty()) items.push_back(std::move(item));
    start = end + 1;
  }
  return items;
}
