#include "toolkit/Controls.h"

#include <algorithm>
#include <map>

#include "support/Utils.h"
#include "toolkit/Application.h"
#include "toolkit/Guard.h"

namespace {

constexpr char kFormClass[] = "QEXForm";

std::map<std::string, TComponentClass>& ComponentClasses() {
  static std::map<std::string, TComponentClass> classes;
  return classes;
}

bool Truth(const DescProperty& p) {
  const std::string& v = p.First().text;
  if (v == "true") return true;
  if (v == "false") return false;
  throw DescriptionError("line " + std::to_string(p.line) + ": expected true or false");
}

int Number(const DescProperty& p, std::size_t index = 0) {
  if (index >= p.values.size() || p.values[index].kind != DescValue::Integer)
    throw DescriptionError("line " + std::to_string(p.line) + ": expected a number");
  return static_cast<int>(p.values[index].number);
}

COLORREF Colour(const DescValue& v) {
  const auto rgb = static_cast<unsigned>(v.number);
  return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// Font = "face", height[, #colour]
TFont ParseFont(const DescProperty& p, const TFont& base) {
  TFont font = base;
  if (p.values.empty() || p.values[0].kind != DescValue::Text)
    throw DescriptionError("line " + std::to_string(p.line) + ": expected Font = \"face\", height");
  font.name = p.values[0].text;
  if (p.values.size() > 1) font.height = Number(p, 1);
  if (p.values.size() > 2) font.color = Colour(p.values[2]);
  return font;
}

int CALLBACK FontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool FontExists(const std::wstring& face) {
  LOGFONTW lf = {};
  lf.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(lf.lfFaceName, face.c_str(), LF_FACESIZE);
  bool found = false;
  HDC dc = GetDC(nullptr);
  EnumFontFamiliesExW(dc, &lf, &FontFound, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, dc);
  if (found) return true;
  // A substitute entry (FontSubstitutes) counts as present too.
  wchar_t substitute[LF_FACESIZE] = {};
  DWORD size = sizeof substitute;
  return RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
                      face.c_str(), RRF_RT_REG_SZ, nullptr, substitute, &size) == ERROR_SUCCESS;
}

HFONT MakeFont(const TFont& font) {
  const std::wstring face = ResolveFontFace(font.name);
  return CreateFontW(-font.height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face.c_str());
}

}  // namespace

std::wstring ResolveFontFace(const std::string& face) {
  const std::wstring wide = WidenCp936(face);
  if (FontExists(wide)) return wide;
  if (wide == L"\x5FAE\x8F6F\x96C5\x9ED1" && FontExists(L"Microsoft YaHei")) return L"Microsoft YaHei";
  if (FontExists(L"SimSun")) return L"SimSun";
  return L"MS Shell Dlg 2";
}

void RegisterComponentClass(const std::string& className, TComponentClass componentClass) {
  ComponentClasses()[className] = std::move(componentClass);
}

// ---- TControl ----

TControl::TControl(TForm* form, const char* windowClass, DWORD style) : TComponent(form), form_(form) {
  handle_ = CreateWindowExW(0, WidenCp936(windowClass).c_str(), L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                            form->Handle(), nullptr, GetModuleHandleA(nullptr), nullptr);
  SetFont(form->Font());
  form->controls_.push_back(this);
}

TControl::~TControl() {
  if (form_) {
    auto& list = form_->controls_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  if (handle_) DestroyWindow(handle_);
  if (hfont_) DeleteObject(hfont_);
}

void TControl::SetCaption(const std::string& caption) {
  // The status labels are set again with every relayed report; only a
  // changed text costs a repaint.
  if (handle_ && caption == caption_) return;
  caption_ = caption;
  SetWindowTextW(handle_, WidenCp936(caption).c_str());
}

void TControl::SetVisible(bool visible) {
  visible_ = visible;
  ShowWindow(handle_, visible ? SW_SHOWNA : SW_HIDE);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  MoveWindow(handle_, left, top, width, height, TRUE);
}

void TControl::SetFont(const TFont& font) {
  font_ = font;
  HFONT old = hfont_;
  hfont_ = MakeFont(font);
  SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(hfont_), TRUE);
  if (old) DeleteObject(old);
}

void TControl::SetTabStop(bool tabStop) {
  LONG_PTR style = GetWindowLongPtrW(handle_, GWL_STYLE);
  style = tabStop ? (style | WS_TABSTOP) : (style & ~static_cast<LONG_PTR>(WS_TABSTOP));
  SetWindowLongPtrW(handle_, GWL_STYLE, style);
}

bool TControl::ApplyProperty(const DescProperty& p, const THandlerTable& handlers) {
  RECT r;
  GetWindowRect(handle_, &r);
  MapWindowPoints(nullptr, form_->Handle(), reinterpret_cast<POINT*>(&r), 2);
  if (p.key == "Left") {
    SetBounds(Number(p), r.top, r.right - r.left, r.bottom - r.top);
  } else if (p.key == "Top") {
    SetBounds(r.left, Number(p), r.right - r.left, r.bottom - r.top);
  } else if (p.key == "Width") {
    SetBounds(r.left, r.top, Number(p), r.bottom - r.top);
  } else if (p.key == "Height") {
    SetBounds(r.left, r.top, r.right - r.left, Number(p));
  } else if (p.key == "Caption") {
    SetCaption(p.First().text);
  } else if (p.key == "Visible") {
    SetVisible(Truth(p));
  } else if (p.key == "TabOrder") {
    SetTabOrder(Number(p));
  } else if (p.key == "TabStop") {
    SetTabStop(Truth(p));
  } else if (p.key == "Font") {
    SetFont(ParseFont(p, font_));
  } else if (p.key == "FontColor") {
    TFont f = font_;
    f.color = Colour(p.First());
    SetFont(f);
  } else if (p.key == "OnClick") {
    OnClick = handlers.Get<TNotifyEvent>(p.First().text);
  } else {
    return false;
  }
  return true;
}

void TControl::Command(WORD code) {}

HBRUSH TControl::ControlColor(HDC dc) {
  SetTextColor(dc, font_.color);
  SetBkColor(dc, form_->BackgroundColor());
  return form_->BackgroundBrush();
}

// ---- TLabel ----

TLabel::TLabel(TForm* form) : TControl(form, "STATIC", SS_LEFT | SS_NOPREFIX) {}

bool TLabel::ApplyProperty(const DescProperty& p, const THandlerTable& handlers) {
  if (p.key == "Alignment") {
    const std::string& a = p.First().text;
    alignment_ = a == "Center" ? SS_CENTER : a == "Right" ? SS_RIGHT : SS_LEFT;
    ApplyStyle();
    return true;
  }
  if (p.key == "Transparent") {
    transparent_ = Truth(p);
    ApplyStyle();
    // Above the pictures, which clip their siblings, so that a picture's
    // repaint does not cover the label either.
    if (transparent_) SetWindowPos(handle_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return true;
  }
  return TControl::ApplyProperty(p, handlers);
}

void TLabel::ApplyStyle() {
  LONG_PTR style = GetWindowLongPtrW(handle_, GWL_STYLE) & ~static_cast<LONG_PTR>(SS_TYPEMASK);
  // A plain static fills its whole rectangle with the background brush; a
  // transparent one is drawn by DrawItem instead.
  style |= transparent_ ? SS_OWNERDRAW : alignment_;
  SetWindowLongPtrW(handle_, GWL_STYLE, style);
  InvalidateRect(handle_, nullptr, TRUE);
}

HBRUSH TLabel::ControlColor(HDC dc) {
  SetBkMode(dc, TRANSPARENT);
  return TControl::ControlColor(dc);
}

void TLabel::DrawItem(const DRAWITEMSTRUCT& item) {
  RECT r = item.rcItem;
  FillRect(item.hDC, &r, form_->BackgroundBrush());
  form_->PaintPicturesBeneath(this, item.hDC);
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, font_.color);
  HGDIOBJ old = hfont_ ? SelectObject(item.hDC, hfont_) : nullptr;
  const UINT align = alignment_ == SS_CENTER ? DT_CENTER : alignment_ == SS_RIGHT ? DT_RIGHT : DT_LEFT;
  const std::wstring text = WidenCp936(caption_);
  DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &r, align | DT_WORDBREAK | DT_NOPREFIX);
  if (old) SelectObject(item.hDC, old);
}

// ---- TImage ----

TImage::TImage(TForm* form) : TControl(form, "STATIC", SS_OWNERDRAW | WS_CLIPSIBLINGS) {}

TImage::~TImage() {
  if (bitmap_) DeleteObject(bitmap_);
}

void TImage::LoadBitmapResource(const std::string& name) {
  if (bitmap_) DeleteObject(bitmap_);
  bitmap_ = static_cast<HBITMAP>(
      LoadImageA(GetModuleHandleA(nullptr), name.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  InvalidateRect(handle_, nullptr, TRUE);
}

bool TImage::ApplyProperty(const DescProperty& p, const THandlerTable& handlers) {
  if (p.key == "Bitmap") {
    LoadBitmapResource(p.First().text);
  } else if (p.key == "Stretch") {
    stretch_ = Truth(p);
  } else if (p.key == "Transparent") {
    transparent_ = Truth(p);
  } else {
    return TControl::ApplyProperty(p, handlers);
  }
  return true;
}

void TImage::DrawItem(const DRAWITEMSTRUCT& item) {
  FillRect(item.hDC, &item.rcItem, form_->BackgroundBrush());
  Paint(item.hDC, item.rcItem);
}

void TImage::Paint(HDC dc, const RECT& r) const {
  if (!bitmap_) return;
  BITMAP info;
  GetObject(bitmap_, sizeof info, &info);
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, bitmap_);
  const int width = stretch_ ? r.right - r.left : info.bmWidth;
  const int height = stretch_ ? r.bottom - r.top : info.bmHeight;
  if (transparent_) {
    const COLORREF key = GetPixel(source, 0, info.bmHeight - 1);  // bottom-left pixel
    TransparentBlt(dc, r.left, r.top, width, height, source, 0, 0, info.bmWidth, info.bmHeight, key);
  } else {
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, r.left, r.top, width, height, source, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
  }
  SelectObject(source, old);
  DeleteDC(source);
}

// ---- buttons and check box ----

TButton::TButton(TForm* form) : TControl(form, "BUTTON", BS_PUSHBUTTON | WS_TABSTOP) {}

void TButton::Command(WORD code) {
  if (code == BN_CLICKED) Click();
}

TSpeedButton::TSpeedButton(TForm* form) : TButton(form) {
  SetWindowLongPtrW(handle_, GWL_STYLE, WS_CHILD | WS_VISIBLE | BS_OWNERDRAW);
}

void TSpeedButton::DrawItem(const DRAWITEMSTRUCT& item) {
  RECT r = item.rcItem;
  FillRect(item.hDC, &r, form_->BackgroundBrush());
  if (item.itemState & ODS_SELECTED) {
    DrawEdge(item.hDC, &r, BDR_SUNKENOUTER, BF_RECT);
    OffsetRect(&r, 1, 1);
  }
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, font_.color);
  HGDIOBJ old = SelectObject(item.hDC, hfont_);
  const std::wstring text = WidenCp936(caption_);
  DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(item.hDC, old);
}

TCheckBox::TCheckBox(TForm* form) : TControl(form, "BUTTON", BS_CHECKBOX | WS_TABSTOP) {}

void TCheckBox::SetChecked(bool checked) {
  if (checked == checked_) return;
  checked_ = checked;
  SendMessageW(handle_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  Click();  // programmatic checking fires the click event, like the user's
}

void TCheckBox::Command(WORD code) {
  if (code == BN_CLICKED) SetChecked(!checked_);
}

bool TCheckBox::ApplyProperty(const DescProperty& p, const THandlerTable& handlers) {
  if (p.key == "Checked") {
    checked_ = Truth(p);  // the stored state fires no event
    SendMessageW(handle_, BM_SETCHECK, checked_ ? BST_CHECKED : BST_UNCHECKED, 0);
    return true;
  }
  return TControl::ApplyProperty(p, handlers);
}

// ---- TForm ----

TForm::TForm(TComponent* owner) : TComponent(owner) {}

TForm::~TForm() {
  BeginDestroy();
  // Components go while the window still exists: their teardown may still
  // call back into the form's handlers, which read the controls.
  DestroyComponents();
  if (handle_) {
    SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
    DestroyWindow(handle_);
  }
  if (background_) DeleteObject(background_);
}

void TForm::CreateFromResource(const char* resourceName) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, resourceName, MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (!found) throw DescriptionError(std::string("no window description ") + resourceName);
  HGLOBAL loaded = LoadResource(module, found);
  const char* data = static_cast<const char*>(LockResource(loaded));
  const std::string text(data, SizeofResource(module, found));
  CreateFromDescription(ParseWindowDescription(text));
}

void TForm::CreateFromDescription(const DescItem& description) {
  SetName(description.name);
  for (const DescProperty& p : description.properties) ApplyFormProperty(p);

  static bool registered = [] {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &TForm::WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hIcon = Application ? Application->Icon() : nullptr;
    wc.lpszClassName = L"QEXForm";
    return RegisterClassW(&wc) != 0;
  }();
  (void)registered;

  background_ = CreateSolidBrush(color_);
  int left = CW_USEDEFAULT, top = CW_USEDEFAULT;
  if (centre_) {
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    left = work.left + ((work.right - work.left) - width_) / 2;
    top = work.top + ((work.bottom - work.top) - height_) / 2;
  }
  // WS_EX_APPWINDOW: the form carries the program's taskbar button.
  handle_ = CreateWindowExW(WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, L"QEXForm", WidenCp936(caption_).c_str(), style_,
                            left, top, width_, height_, nullptr, nullptr, GetModuleHandleA(nullptr), this);
  if (!handle_) throw DescriptionError("the form window could not be created");
  if (Application && Application->Icon()) {
    SendMessageW(handle_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(Application->Icon()));
    SendMessageW(handle_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(Application->Icon()));
  }

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
      if (!control->ApplyProperty(p, handlers_))
        throw DescriptionError("line " + std::to_string(p.line) + ": unknown property " + p.key);
    return control;
  }
  if (item.kind == "timer") {
    auto* timer = new TTimer(this);
    for (const DescProperty& p : item.properties) {
      if (p.key == "Interval") timer->SetInterval(static_cast<unsigned>(Number(p)));
      else if (p.key == "Enabled") timer->SetEnabled(Truth(p));
      else if (p.key == "OnTimer") timer->OnTimer = handlers_.Get<TNotifyEvent>(p.First().text);
      else throw DescriptionError("line " + std::to_string(p.line) + ": unknown property " + p.key);
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

void TForm::ApplyFormProperty(const DescProperty& p) {
  if (p.key == "Caption") {
    caption_ = p.First().text;
  } else if (p.key == "Width") {
    width_ = Number(p);
  } else if (p.key == "Height") {
    height_ = Number(p);
  } else if (p.key == "Position") {
    centre_ = p.First().text == "DesktopCenter";
  } else if (p.key == "BorderIcons") {
    style_ = WS_OVERLAPPED | WS_CAPTION | WS_CLIPCHILDREN;
    for (const DescValue& v : p.values) {
      if (v.text == "SystemMenu") style_ |= WS_SYSMENU;
      else if (v.text == "Minimize") style_ |= WS_MINIMIZEBOX;
      else if (v.text == "Maximize") style_ |= WS_MAXIMIZEBOX;
    }
  } else if (p.key == "Color") {
    color_ = Colour(p.First());
  } else if (p.key == "Font") {
    font_ = ParseFont(p, font_);
  } else if (p.key == "OnCreate") {
    OnCreate = handlers_.Get<TNotifyEvent>(p.First().text);
  } else {
    throw DescriptionError("line " + std::to_string(p.line) + ": unknown form property " + p.key);
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

void TForm::SetCaption(const std::string& caption) {
  caption_ = caption;
  if (handle_) SetWindowTextW(handle_, WidenCp936(caption).c_str());
}

void TForm::Show() {
  if (!handle_) return;
  ShowWindow(handle_, windowState_ == wsMinimized ? SW_SHOWMINIMIZED : SW_SHOWNORMAL);
  if (!shownOnce_) {
    shownOnce_ = true;
    UpdateWindow(handle_);
  }
}

void TForm::Hide() {
  if (handle_) ShowWindow(handle_, SW_HIDE);
}

bool TForm::Visible() const { return handle_ && IsWindowVisible(handle_); }

void TForm::SetWindowState(TWindowState state) {
  windowState_ = state;
  // A hidden form only records the state; it takes effect when shown.
  if (Visible()) ShowWindow(handle_, state == wsMinimized ? SW_MINIMIZE : SW_RESTORE);
}

void TForm::Close() {
  if (handle_) PostMessageW(handle_, WM_CLOSE, 0, 0);
}

void TForm::PaintPicturesBeneath(const TControl* control, HDC dc) const {
  RECT area;
  GetWindowRect(control->Handle(), &area);
  for (const TControl* c : controls_) {
    if (c == control) break;  // only those earlier in the description lie beneath
    const auto* picture = dynamic_cast<const TImage*>(c);
    if (!picture || !IsWindowVisible(picture->Handle())) continue;
    RECT place, overlap;
    GetWindowRect(picture->Handle(), &place);
    if (!IntersectRect(&overlap, &place, &area)) continue;
    // The picture's rectangle in the control's coordinates; dc clips to the control.
    OffsetRect(&place, -area.left, -area.top);
    picture->Paint(dc, place);
  }
}

TControl* TForm::FindControl(HWND handle) const {
  for (TControl* c : controls_)
    if (c->Handle() == handle) return c;
  return nullptr;
}

LRESULT CALLBACK TForm::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    static_cast<TForm*>(create->lpCreateParams)->handle_ = hwnd;
  }
  auto* self = reinterpret_cast<TForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  return GuardedDispatch<LRESULT>(0, [&] { return self->HandleMessage(message, wParam, lParam); });
}

LRESULT TForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (WndProc(message, wParam, lParam, result)) return result;
  switch (message) {
    case WM_COMMAND:
      if (TControl* c = FindControl(reinterpret_cast<HWND>(lParam))) {
        c->Command(HIWORD(wParam));
        return 0;
      }
      break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      if (TControl* c = FindControl(reinterpret_cast<HWND>(lParam)))
        return reinterpret_cast<LRESULT>(c->ControlColor(reinterpret_cast<HDC>(wParam)));
      break;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (TControl* c = FindControl(item->hwndItem)) {
        c->DrawItem(*item);
        return TRUE;
      }
      break;
    }
    case WM_ERASEBKGND: {
      RECT r;
      GetClientRect(handle_, &r);
      FillRect(reinterpret_cast<HDC>(wParam), &r, background_);
      return 1;
    }
    case WM_SIZE:
      // Minimised some other way than by its minimise box (the taskbar, the
      // desktop's show-desktop, ShowWindow from another program): the
      // application minimises all the same, so the form goes to the tray.
      if (wParam == SIZE_MINIMIZED && Application && Application->MainForm() == this) Application->Minimize();
      break;
    case WM_SYSCOMMAND:
      // Minimising the main form minimises the application (to the tray).
      if ((wParam & 0xFFF0) == SC_MINIMIZE && Application && Application->MainForm() == this) {
        Application->Minimize();
        return 0;
      }
      break;
    case WM_CLOSE:
      if (Application && Application->MainForm() == this) {
        Hide();
        Application->Terminate();
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(handle_, message, wParam, lParam);
}
