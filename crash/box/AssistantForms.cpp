#include "crash/box/AssistantForms.h"

#include <algorithm>

#include "crash/mail/EmailAddress.h"
#include "crash/report/BugReport.h"
#include "crash/report/ReportSettings.h"

namespace form_item {
const char kNameEdit[] = "NameEdit";
const char kEmailEdit[] = "EmailEdit";
const char kMemCheck[] = "MemCheck";
const char kDetailsMemo[] = "DetailsMemo";
const char kAttachCheck[] = "AttachCheck";
const char kScrShotImg[] = "ScrShotImg";
}  // namespace form_item

namespace {

TNVItem Label(const std::string& name, const std::string& text) {
  TNVItem item;
  item.kind = ItemKind::Label;
  item.name = name;
  item.text = text;
  return item;
}

TNVItem Edit(const std::string& name, int lines, bool optional, const std::string& output, OutputKind kind) {
  TNVItem item;
  item.kind = ItemKind::Edit;
  item.name = name;
  item.lines = lines;
  item.optional = optional;
  item.outputName = output;
  item.outputKind = kind;
  return item;
}

TNVItem Check(const std::string& name, const std::string& text, bool checked) {
  TNVItem item;
  item.kind = ItemKind::CheckBox;
  item.name = name;
  item.text = text;
  item.checked = checked;
  return item;
}

std::vector<std::string> SplitBars(const std::string& text) {
  std::vector<std::string> parts;
  std::string::size_type from = 0;
  for (;;) {
    const auto bar = text.find('|', from);
    parts.push_back(text.substr(from, bar == std::string::npos ? std::string::npos : bar - from));
    if (bar == std::string::npos) break;
    from = bar + 1;
  }
  return parts;
}

}  // namespace

bool ParseAssistant(const std::string& declaration, TNVAssistant* assistant) {
  std::vector<std::string> parts = SplitBars(declaration);
  if (parts.size() < 3 || parts[0].empty()) return false;
  assistant->name = parts[0];
  assistant->title = parts[1];
  assistant->pages.assign(parts.begin() + 2, parts.end());
  return true;
}

bool FindAssistant(const ReportSettings& settings, const std::string& name, TNVAssistant* assistant) {
  for (const char* slot : {"Assistant1", "Assistant2", "Assistant3"}) {
    TNVAssistant candidate;
    if (ParseAssistant(settings.Text(slot), &candidate) && candidate.name == name) {
      *assistant = candidate;
      return true;
    }
  }
  return false;
}

TNVForm MakeForm(const std::string& name) {
  TNVForm form;
  if (name == "ContactForm") {
    form.name = name;
    form.title = "Contact Information";
    form.buttonEnabled[nbSkip] = false;
    form.items.push_back(Label("Label1", "your name:"));
    form.items.push_back(Edit(form_item::kNameEdit, 1, true, "contact name", OutputKind::HeaderField));
    form.items.push_back(Label("Label2", "your email:"));
    TNVItem email = Edit(form_item::kEmailEdit, 1, false, "contact email", OutputKind::HeaderField);
    email.isEmail = true;
    form.items.push_back(email);
    form.items.push_back(Check(form_item::kMemCheck, "remember me", false));
    form.activeItem = form_item::kNameEdit;
  } else if (name == "DetailsForm") {
    form.name = name;
    form.title = "Error Details";
    form.items.push_back(Label("Label1", "in which situation did the error occur?"));
    form.items.push_back(Edit(form_item::kDetailsMemo, 9, false, "error details", OutputKind::OwnSection));
    form.activeItem = form_item::kDetailsMemo;
  } else if (name == "ScrShotForm") {
    form.name = name;
    form.title = "Screenshot Configuration";
    form.buttonEnabled[nbSkip] = false;
    form.items.push_back(Check(form_item::kAttachCheck, "attach a screenshot to the bug report", true));
    TNVItem image;
    image.kind = ItemKind::Image;
    image.name = form_item::kScrShotImg;
    form.items.push_back(image);
    form.items.push_back(Label("Label1", "(click to edit image)"));
    form.activeItem = "Continue";
    form.timerPeriodMs = 250;
  }
  return form;
}

bool ItemValid(const TNVItem& item, const std::string& text) {
  if (item.kind != ItemKind::Edit) return true;
  if (text.empty()) return item.optional;
  return !item.isEmail || IsValidEmailAddress(text);
}

bool ContinueEnabled(const TNVForm& form, const FormValues& values) {
  if (!form.buttonEnabled[nbContinue]) return false;
  for (const TNVItem& item : form.items) {
    if (item.kind != ItemKind::Edit) continue;
    auto it = values.find(item.name);
    if (!ItemValid(item, it == values.end() ? std::string() : it->second)) return false;
  }
  return true;
}

const FormValues& FormCache::Get(const std::string& form) const {
  static const FormValues empty;
  auto it = forms_.find(form);
  return it == forms_.end() ? empty : it->second;
}

std::vector<AssistantOutput> CollectOutputs(const TNVForm& form, const FormValues& values) {
  std::vector<AssistantOutput> outputs;
  for (const TNVItem& item : form.items) {
    if (item.outputName.empty()) continue;
    if (item.kind != ItemKind::Edit && item.kind != ItemKind::CheckBox) continue;
    auto it = values.find(item.name);
    AssistantOutput output;
    output.name = item.outputName;
    output.value = it == values.end() ? std::string() : it->second;
    output.kind = item.outputKind;
    output.lines = item.lines;
    output.isCheckBox = item.kind == ItemKind::CheckBox;
    outputs.push_back(output);
  }
  return outputs;
}

void ApplyAssistantOutputs(BugReport& report, const std::vector<AssistantOutput>& outputs) {
  for (const AssistantOutput& output : outputs) {
    if (output.isCheckBox) {
      report.Header().Set(output.name, output.value.empty() ? "no" : "yes");
    } else if (TrimBlanks(output.value).empty()) {
      continue;  // an empty edit adds nothing (and must not remove a field)
    } else if (output.kind == OutputKind::OwnSection && output.lines > 1) {
      report.Sections().Set(output.name, output.value);
    } else {
      report.Header().Set(output.name, output.value);
    }
  }
  report.Regenerate();
}

PageLayout LayOutPage(const TNVForm& form, int dpi, int titleTextHeight, int textHeight) {
  using namespace send_assistant;
  const auto px = [dpi](int designPixels) { return ScaleToDpi(designPixels, dpi); };
  PageLayout layout;
  layout.clientWidth = px(kClientWidth);
  const int left = px(kMargin), width = layout.clientWidth - 2 * px(kMargin);
  layout.title = {left, px(kMargin), width, std::max(px(18), titleTextHeight)};
  int y = layout.title.Bottom() + px(8);
  for (const TNVItem& item : form.items) {
    TBounds place{left, y, width, 0};
    switch (item.kind) {
      case ItemKind::Label:
        place.height = std::max(px(16), textHeight);
        y += place.height + px(2);
        break;
      case ItemKind::Edit:
        // Room for the client edge and the edit's own margins around each line.
        place.height = item.lines > 1 ? std::max(px(item.lines * 14 + 8), item.lines * textHeight + px(8))
                                      : std::max(px(21), textHeight + px(8));
        y += place.height + px(8);
        break;
      case ItemKind::CheckBox:
        place.height = std::max(px(20), textHeight);
        y += place.height + px(4);
        break;
      case ItemKind::Image:
        place = {left + (width - px(kImageWidth)) / 2, y, px(kImageWidth), px(kImageHeight)};
        y += place.height + px(4);
        break;
    }
    layout.items.push_back(place);
  }
  const int buttonWidth = px(80), buttonHeight = std::max(px(23), textHeight + px(8));
  layout.clientHeight = y + px(kMargin) + buttonHeight + px(kMargin);
  int x = layout.clientWidth - px(kMargin) - buttonWidth;
  for (int b = nbCancel; b >= nbContinue; --b) {
    layout.buttons[b] = {x, layout.clientHeight - px(kMargin) - buttonHeight, buttonWidth, buttonHeight};
    x -= buttonWidth + px(8);
  }
  return layout;
}

std::string ContactSender(const std::string& name, const std::string& email) {
  const std::string trimmed = TrimBlanks(name);
  if (trimmed.empty()) return email;
  return trimmed + " <" + email + ">";
}
