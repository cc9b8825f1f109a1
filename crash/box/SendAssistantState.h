// The send assistant's state and the pieces its two files share: the
// window and its run (SendAssistant_win.cpp) and the pages' controls, with
// the screenshot page's image (AssistantPages_win.cpp). Handling thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "crash/box/BoxInternal.h"

namespace send_assistant {

constexpr UINT_PTR kPageTimer = 1;

std::wstring ControlText(HWND control);

enum class PageExit { None, Continue, Skip, Cancel };

struct AssistantState {
  // The window's messages, through WindowProcFor; no exception leaves it.
  LRESULT HandleMessage(HWND w, UINT message, WPARAM wParam, LPARAM lParam);

  HWND window = nullptr;
  // The window's dots per inch and the fonts at them: set once the window
  // exists, again on WM_DPICHANGED.
  int dpi = kDesignDpi;
  BoxFonts fonts;
  TNVForm form;
  std::vector<ScopedWindow> items;  // by item index, null for none
  HWND title = nullptr;
  HWND buttons[3] = {};
  PageExit exit = PageExit::None;
  std::shared_ptr<Screenshot> screenshot;
  ScopedGdiObject thumbnail;
  std::wstring bitmapPath;
  FILETIME bitmapTime = {};
  bool bitmapWritten = false;
  ScopedGdiObject invalidBrush{CreateSolidBrush(RGB(255, 200, 200))};

  int IndexOf(const std::string& name) const {
    for (std::size_t i = 0; i < form.items.size(); ++i)
      if (form.items[i].name == name) return static_cast<int>(i);
    return -1;
  }
  HWND Item(const std::string& name) const {
    const int i = IndexOf(name);
    return i < 0 ? nullptr : items[static_cast<std::size_t>(i)].Get();
  }
  FormValues Values() const {
    FormValues values;
    for (std::size_t i = 0; i < form.items.size(); ++i) {
      const TNVItem& item = form.items[i];
      if (item.kind == ItemKind::Edit) values[item.name] = Utf8FromWide(ControlText(items[i].Get()));
      if (item.kind == ItemKind::CheckBox)
        values[item.name] = SendMessageW(items[i].Get(), BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "";
    }
    return values;
  }
};

// Continue enabled as the page's inputs allow; edits repainted for their check.
void UpdateContinue(AssistantState& s);
// The screenshot page's image: drawn scaled, handed to the user's image
// editor, and taken back once the editor saved it (checked on the page's timer).
void DrawImage(AssistantState& s, const DRAWITEMSTRUCT& item);
void EditImage(AssistantState& s);
void CheckEditedImage(AssistantState& s);
// Removes the page's controls.
void ClearPage(AssistantState& s);
// Builds the page's controls; returns the client height it needs.
int BuildPage(AssistantState& s, const FormValues& preset);
// Places the title, the page's controls and the buttons at the window's dpi;
// returns the client height the page needs.
int LayOutControls(AssistantState& s);
// Sizes the window for the page, centred over its owner.
void FitWindow(AssistantState& s, int clientHeight, HWND owner);
// WM_DPICHANGED: fonts and layout at the new dpi, in the suggested rectangle.
void ChangeDpi(AssistantState& s, int dpi, LPARAM suggested);

}  // namespace send_assistant
