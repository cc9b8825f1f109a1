// The send assistant's pages as data: items, texts, button states and
// outputs, the form cache that presets a page shown again, and how the
// outputs go into the report. The Win32 side only renders these.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "toolkit/DpiScale.h"

class BugReport;
class ReportSettings;

enum class ItemKind { Label, Edit, CheckBox, Image };
// Where an edit's text goes: a header field, or a report section of its own.
enum class OutputKind { HeaderField, OwnSection };

struct TNVItem {
  ItemKind kind = ItemKind::Label;
  std::string name;       // "NameEdit", "MemCheck", ...
  std::string text;       // label and check-box text
  int lines = 1;          // edit
  bool optional = true;   // edit: may stay empty
  bool isEmail = false;   // edit: checked with the e-mail rule
  bool checked = false;   // check box: initial state
  std::string outputName; // empty: no output
  OutputKind outputKind = OutputKind::HeaderField;
};

enum TNVButton { nbContinue = 0, nbSkip = 1, nbCancel = 2 };

struct TNVForm {
  std::string name;   // "ContactForm"
  std::string title;  // "Contact Information"
  bool buttonEnabled[3] = {true, true, true};
  std::vector<TNVItem> items;
  std::string activeItem;  // item (or "Continue") that gets the focus
  int timerPeriodMs = 0;
};

// The assistant as declared in the settings: "name|title|page|page...".
struct TNVAssistant {
  std::string name;
  std::string title;
  std::vector<std::string> pages;
};

// False when the text has fewer than three parts.
bool ParseAssistant(const std::string& declaration, TNVAssistant* assistant);
// The assistant of that name among the settings' Assistant1..3; false when
// none is declared.
bool FindAssistant(const ReportSettings& settings, const std::string& name, TNVAssistant* assistant);
// The page of that name; an empty name when the page is unknown.
TNVForm MakeForm(const std::string& name);

// The values a page holds: edit texts, and "1"/"" for check boxes.
using FormValues = std::map<std::string, std::string>;

// Whether an edit's text is acceptable: a required edit must be filled, an
// e-mail edit must pass the e-mail rule when filled.
bool ItemValid(const TNVItem& item, const std::string& text);
// "Continue" is enabled only while every edit is acceptable (and the page
// enables it at all).
bool ContinueEnabled(const TNVForm& form, const FormValues& values);

// The inputs of every page shown, kept for the rest of the run.
class FormCache {
 public:
  bool Has(const std::string& form) const { return forms_.count(form) != 0; }
  const FormValues& Get(const std::string& form) const;
  void Put(const std::string& form, const FormValues& values) { forms_[form] = values; }

 private:
  std::map<std::string, FormValues> forms_;
};

// One output of a finished assistant, in page and item order.
struct AssistantOutput {
  std::string name;
  std::string value;
  OutputKind kind = OutputKind::HeaderField;
  int lines = 1;
  bool isCheckBox = false;
};

std::vector<AssistantOutput> CollectOutputs(const TNVForm& form, const FormValues& values);

// Edits with text become header fields (at the header's insertion index) or,
// for the own-section kind with more than one line, a section; check boxes a
// header field "yes"/"no". Regenerates the report text once.
void ApplyAssistantOutputs(BugReport& report, const std::vector<AssistantOutput>& outputs);

// The mail sender: "name <address>", or the bare address without a name.
std::string ContactSender(const std::string& name, const std::string& email);

// Where a page's controls go, in pixels at a window's dpi: the layout's
// numbers are pixels at 96 dpi, and no control is lower than the line height
// of its font there (titleText for the bold title, text for the rest), so a
// font that grows faster than the scale pushes what follows down instead of
// being clipped.
namespace send_assistant {
constexpr int kClientWidth = 420;
constexpr int kMargin = 12;
constexpr int kImageWidth = 320, kImageHeight = 200;
}  // namespace send_assistant

struct PageLayout {
  int clientWidth = 0, clientHeight = 0;
  TBounds title;
  std::vector<TBounds> items;  // by item index
  TBounds buttons[3];          // by TNVButton
};
PageLayout LayOutPage(const TNVForm& form, int dpi, int titleTextHeight, int textHeight);

// The contact page's items and the screenshot page's, by name, for both sides.
namespace form_item {
extern const char kNameEdit[];
extern const char kEmailEdit[];
extern const char kMemCheck[];
extern const char kDetailsMemo[];
extern const char kAttachCheck[];
extern const char kScrShotImg[];
}  // namespace form_item
