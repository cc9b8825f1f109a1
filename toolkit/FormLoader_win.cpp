// Building a form from its window description: the form's own properties,
// its window, then its components in description order.
#include <algorithm>
#include <map>

#include "support/TextCodec.h"
#include "toolkit/Application.h"
#include "toolkit/Controls.h"
#include "toolkit/Dpi.h"
#include "toolkit/Guard.h"

namespace {

constexpr wchar_t kFormClass[] = L"QEXForm";
// WS_EX_APPWINDOW: the form carries the program's taskbar button.
constexpr DWORD kFormExStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;

std::map<std::string, TComponentClass>& ComponentClasses() {
  static std::map<std::string, TComponentClass> classes;
  return classes;
}

[[noreturn]] void FailAt(const DescProperty& p, const std::string& what) {
  throw DescriptionError("line " + std::to_string(p.line) + ": " + what);
}

DWORD FormStyle(unsigned borderIcons) {
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_CLIPCHILDREN;
  if (borderIcons & biSystemMenu) style |= WS_SYSMENU;
  if (borderIcons & biMinimize) style |= WS_MINIMIZEBOX;
  if (borderIcons & biMaximize) style |= WS_MAXIMIZEBOX;
  return style;
}

}  // namespace

void RegisterComponentClass(const std::string& className, TComponentClass componentClass) {
  ComponentClasses()[className] = std::move(componentClass);
}

void TForm::CreateFromResource(const char* resourceName) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, resourceName, MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (!found) throw DescriptionError(std::string("no window description ") + resourceName);
  HGLOBAL loaded = LoadResource(module, found);
  const char* data = static_cast<const char*>(LockResource(loaded));
  if (!data) throw DescriptionError(std::string("window description ") + resourceName + " cannot be read");
  const std::string text(data, SizeofResource(module, found));
  CreateFromDescription(ParseWindowDescription(text));
}

void TForm::CreateFromDescription(const DescItem& description) {
  SetName(description.name);
  for (const DescProperty& p : description.properties) ApplyFormProperty(p);

  static bool registered = [] {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &WindowProcFor<TForm>;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hIcon = Application ? Application->Icon() : nullptr;
    wc.lpszClassName = kFormClass;
    return RegisterClassW(&wc) != 0;
  }();
  (void)registered;

  background_.Reset(CreateSolidBrush(color_));
  // Created hidden at the description's size: the dpi of a window is that
  // of the monitor it is on, known once it exists. The window procedure
  // takes the handle into handle_ with its first message.
  if (!CreateWindowExW(kFormExStyle, kFormClass, WidenCp936(caption_).c_str(), style_, CW_USEDEFAULT, CW_USEDEFAULT,
                       width_, height_, nullptr, nullptr, GetModuleHandleA(nullptr), this))
    throw DescriptionError("the form window could not be created");
  dpi_ = WindowDpi(Handle());
  const TSize outer = OuterSizeAt(dpi_);
  if (centre_) {
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    SetWindowPos(Handle(), nullptr, work.left + ((work.right - work.left) - outer.width) / 2,
                 work.top + ((work.bottom - work.top) - outer.height) / 2, outer.width, outer.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    SetWindowPos(Handle(), nullptr, 0, 0, outer.width, outer.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  LoadIcons();

  for (const DescItem& item : description.children) {
    TComponent* component = CreateComponent(item);
    component->SetName(item.name);
    auto binder = fieldBinders_.find(item.name);
    if (binder != fieldBinders_.end()) binder->second(component);
  }
  ArrangeTabOrder();
  // Like any other handler: what escapes it goes to the central handler and
  // the form lives on, with the rest of the handler's steps left undone.
  if (OnCreate) {
    GuardedDispatch<int>(0, [&] {
      OnCreate(this);
      return 0;
    });
  }
}

TComponent* TForm::CreateComponent(const DescItem& item) {
  TControl* control = nullptr;
  if (item.kind == "label") control = new TLabel(this);
  else if (item.kind == "picture") control = new TImage(this);
  else if (item.kind == "button") control = new TButton(this);
  else if (item.kind == "speedbutton") control = new TSpeedButton(this);
  else if (item.kind == "checkbox") control = new TCheckBox(this);
  if (control) {
    for (const DescProperty& p : item.properties)
      if (!control->ApplyProperty(p, handlers_)) FailAt(p, "unknown property " + p.key);
    return control;
  }
  if (item.kind == "timer") {
    auto* timer = new TTimer(this);
    for (const DescProperty& p : item.properties) {
      if (p.key == "Interval") timer->SetInterval(static_cast<unsigned>(DescInt(p)));
      else if (p.key == "Enabled") timer->SetEnabled(DescBool(p));
      else if (p.key == "OnTimer") timer->OnTimer = handlers_.Get<TNotifyEvent>(p.First().text);
      else FailAt(p, "unknown property " + p.key);
    }
    return timer;
  }
  if (item.kind == "component") {
    auto found = ComponentClasses().find(item.className);
    if (found == ComponentClasses().end()) throw DescriptionError("unknown component class " + item.className);
    TComponent* component = found->second.create(this);
    for (const DescProperty& p : item.properties) found->second.apply(component, p, handlers_);
    return component;
  }
  if (item.kind == "manifest") {
    // The visual-style manifest itself is a resource of the program; the
    // item stands for it in the description.
    return new TComponent(this);
  }
  throw DescriptionError("unknown item kind " + item.kind);
}

TSize TForm::OuterSizeAt(int dpi) const {
  return ScaleOuterSize(TSize{width_, height_}, FrameSize(style_, kFormExStyle, kDesignDpi),
                        FrameSize(style_, kFormExStyle, dpi), dpi);
}

void TForm::LoadIcons() {
  ScopedIcon big(LoadAppIconForDpi(SM_CXICON, dpi_));
  ScopedIcon small(LoadAppIconForDpi(SM_CXSMICON, dpi_));
  if (!big || !small) {
    // A program without an icon of its own shows the application's.
    if (!Application || !Application->Icon()) return;
    SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(Application->Icon()));
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(Application->Icon()));
    return;
  }
  SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.Get()));
  SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.Get()));
  // The previous icons go once the window no longer shows them.
  bigIcon_ = std::move(big);
  smallIcon_ = std::move(small);
}

void TForm::ApplyFormProperty(const DescProperty& p) {
  if (p.key == "Caption") {
    caption_ = p.First().text;
  } else if (p.key == "Width") {
    width_ = DescInt(p);
  } else if (p.key == "Height") {
    height_ = DescInt(p);
  } else if (p.key == "Position") {
    centre_ = p.First().text == "DesktopCenter";
  } else if (p.key == "BorderIcons") {
    style_ = FormStyle(DescBorderIcons(p));
  } else if (p.key == "Color") {
    color_ = DescColor(p);
  } else if (p.key == "Font") {
    font_ = DescFont(p, font_);
  } else if (p.key == "OnCreate") {
    OnCreate = handlers_.Get<TNotifyEvent>(p.First().text);
  } else {
    FailAt(p, "unknown form property " + p.key);
  }
}

void TForm::ArrangeTabOrder() {
  std::vector<TControl*> ordered;
  for (TControl* c : controls_)
    if (c->TabOrder() >= 0) ordered.push_back(c);
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const TControl* a, const TControl* b) { return a->TabOrder() < b->TabOrder(); });
  HWND after = HWND_TOP;
  for (TControl* c : ordered) {
    SetWindowPos(c->Handle(), after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    after = c->Handle();
  }
}
