// Forms and controls. Every visible control is a real Win32 control window
// (STATIC, BUTTON), so assistive technology and UI automation read its text.
// Texts are code page 936 and widened when they reach the screen.
// Main thread only.
#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/Delegate.h"
#include "support/ScopedHandle.h"
#include "support/Win32.h"
#include "support/WindowProc.h"
#include "toolkit/Component.h"
#include "toolkit/DescriptionValues.h"
#include "toolkit/DpiScale.h"
#include "toolkit/Fonts.h"
#include "toolkit/WindowDescription.h"

class TForm;
class THiddenWindow;

// Event handlers of a form, looked up by the names the description gives.
class THandlerTable {
 public:
  template <class E>
  void Add(const std::string& name, const E& handler) { handlers_[name] = handler; }
  // Throws DescriptionError when the name is unknown or of another type.
  template <class E>
  E Get(const std::string& name) const {
    auto it = handlers_.find(name);
    if (it == handlers_.end()) throw DescriptionError("no handler named " + name);
    if (const E* e = std::any_cast<E>(&it->second)) return *e;
    throw DescriptionError("handler " + name + " has another type");
  }

 private:
  std::map<std::string, std::any> handlers_;
};

class TControl : public TComponent {
 public:
  TControl(TForm* form, const char* windowClass, DWORD style);
  ~TControl() override;

  HWND Handle() const { return handle_.Get(); }
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  // In pixels at 96 dpi, as the description gives them; the control is
  // placed at its form's dpi.
  void SetBounds(int left, int top, int width, int height);
  const TBounds& DesignBounds() const { return design_; }
  // The control id (GWLP_ID) by which tools outside the program address
  // the control; 0 for none.
  int Id() const { return id_; }
  void SetId(int id);
  // The font at 96 dpi; the control shows it at its form's dpi.
  void SetFont(const TFont& font);
  const TFont& Font() const { return font_; }
  void SetTabOrder(int order) { tabOrder_ = order; }
  int TabOrder() const { return tabOrder_; }
  void SetTabStop(bool tabStop);

  TNotifyEvent OnClick;

  // Applies one description property; false when the key is not known here.
  virtual bool ApplyProperty(const DescProperty& property, const THandlerTable& handlers);
  // WM_COMMAND notification from the control.
  virtual void Command(WORD code);
  // WM_CTLCOLORSTATIC / BTN: colours; returns the background brush.
  virtual HBRUSH ControlColor(HDC dc);
  // WM_DRAWITEM for owner-drawn controls.
  virtual void DrawItem(const DRAWITEMSTRUCT& item) {}
  // Places the control and makes its font again for the form's dpi, after
  // the form moved to a monitor of another scale.
  virtual void ScaleToFormDpi();
  void Click() {
    if (OnClick) OnClick(this);
  }

 protected:
  TForm* form_;
  ScopedWindow handle_;
  std::string caption_;
  bool visible_ = true;
  int tabOrder_ = -1;
  int id_ = 0;
  TBounds design_;
  TFont font_;
  ScopedFont hfont_;
};

// A transparent label draws itself: the form's background, the part of any
// picture beneath it, then its text, so that it never covers a picture
// with the background colour.
class TLabel : public TControl {
 public:
  explicit TLabel(TForm* form);
  bool ApplyProperty(const DescProperty& property, const THandlerTable& handlers) override;
  HBRUSH ControlColor(HDC dc) override;
  void DrawItem(const DRAWITEMSTRUCT& item) override;

 private:
  void ApplyStyle();
  TAlignment alignment_ = TAlignment::Left;
  bool transparent_ = false;
};

// A picture: a bitmap resource, stretched or at its size; "transparent"
// takes the bottom-left pixel's colour as the background colour. The
// resource NAME is the picture at 96 dpi; NAME_150 and NAME_200, where the
// program has them, the same at 144 and 192 dpi. The form's dpi picks one.
class TImage : public TControl {
 public:
  explicit TImage(TForm* form);
  bool ApplyProperty(const DescProperty& property, const THandlerTable& handlers) override;
  void DrawItem(const DRAWITEMSTRUCT& item) override;
  void ScaleToFormDpi() override;
  // Draws the picture into the rectangle r of dc (no background).
  void Paint(HDC dc, const RECT& r) const;
  void LoadBitmapResource(const std::string& name);

 private:
  void LoadForDpi();
  // The transparent picture resized to width x height with a quality
  // filter, in premultiplied alpha; made on first use at a size.
  HBITMAP ScaledPicture(int width, int height) const;
  std::string resource_;
  SIZE designSize_ = {0, 0};  // the picture at 96 dpi
  ScopedBitmap bitmap_;
  mutable ScopedBitmap scaled_;
  mutable SIZE scaledSize_ = {0, 0};
  bool stretch_ = false;
  bool transparent_ = false;
};

class TButton : public TControl {
 public:
  explicit TButton(TForm* form);
  void Command(WORD code) override;
};

// A flat button that takes no focus.
class TSpeedButton : public TButton {
 public:
  explicit TSpeedButton(TForm* form);
  void DrawItem(const DRAWITEMSTRUCT& item) override;
};

// Setting Checked to a new value fires OnClick, as a user's click does.
class TCheckBox : public TControl {
 public:
  explicit TCheckBox(TForm* form);
  bool Checked() const { return checked_; }
  void SetChecked(bool checked);
  void Command(WORD code) override;
  bool ApplyProperty(const DescProperty& property, const THandlerTable& handlers) override;

 private:
  bool checked_ = false;
};

// Window-message timer. Enabling a running timer does not restart its count.
class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* owner);
  ~TTimer() override;
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned interval);
  TNotifyEvent OnTimer;

 private:
  void Update();
  std::unique_ptr<THiddenWindow> window_;
  bool enabled_ = true;
  unsigned interval_ = 1000;
  bool running_ = false;
};

enum TWindowState { wsNormal, wsMinimized };

// Factory of non-visual components of other subsystems by class name:
// creates the component and applies its description properties.
struct TComponentClass {
  std::function<TComponent*(TComponent* owner)> create;
  std::function<void(TComponent*, const DescProperty&, const THandlerTable&)> apply;
};
void RegisterComponentClass(const std::string& className, TComponentClass componentClass);

class TForm : public TComponent {
 public:
  explicit TForm(TComponent* owner);
  ~TForm() override;

  HWND Handle() const { return handle_.Get(); }
  // The dots per inch the form is laid out for: its monitor's.
  int Dpi() const { return dpi_; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  void Show();
  void Hide();
  bool Visible() const;
  TWindowState WindowState() const { return windowState_; }
  void SetWindowState(TWindowState state);
  void Close();
  HBRUSH BackgroundBrush() const { return background_.Get(); }
  COLORREF BackgroundColor() const { return color_; }
  const TFont& Font() const { return font_; }
  // Draws the pictures that lie beneath control into dc, a device context
  // of that control.
  void PaintPicturesBeneath(const TControl* control, HDC dc) const;

  TNotifyEvent OnCreate;

 protected:
  // Builds the window and its components from the description in the
  // RCDATA resource of that name, then runs OnCreate. Subclasses register
  // their handlers and fields before calling it.
  void CreateFromResource(const char* resourceName);
  void CreateFromDescription(const DescItem& description);
  THandlerTable& Handlers() { return handlers_; }
  // The component named `name` is stored into *slot once created.
  template <class T>
  void BindField(const std::string& name, T** slot) {
    fieldBinders_[name] = [slot](TComponent* c) { *slot = dynamic_cast<T*>(c); };
  }
  // Messages of the form window not handled by the toolkit; return true when handled.
  virtual bool WndProc(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) { return false; }

 private:
  friend class TControl;
  friend LRESULT CALLBACK WindowProcFor<TForm>(HWND, UINT, WPARAM, LPARAM);
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  void ApplyFormProperty(const DescProperty& property);
  TComponent* CreateComponent(const DescItem& item);
  TControl* FindControl(HWND handle) const;
  void ArrangeTabOrder();
  // The outer size of the description at dpi.
  TSize OuterSizeAt(int dpi) const;
  // The window and taskbar icons at the sizes the platform asks for at dpi_.
  void LoadIcons();
  // WM_DPICHANGED: the suggested rectangle, then the controls.
  void ChangeDpi(int dpi, const RECT& suggested);

  ScopedWindow handle_;
  std::string caption_;
  TWindowState windowState_ = wsNormal;
  int width_ = 320, height_ = 240;  // outer, at 96 dpi
  int dpi_ = kDesignDpi;
  ScopedIcon bigIcon_, smallIcon_;
  bool centre_ = false;
  DWORD style_ = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  COLORREF color_ = RGB(240, 240, 240);
  ScopedBrush background_;
  TFont font_;
  THandlerTable handlers_;
  std::map<std::string, std::function<void(TComponent*)>> fieldBinders_;
  std::vector<TControl*> controls_;
  bool shownOnce_ = false;
};

// Modal single-line input dialog: caption, prompt, the edit pre-filled with
// value and fully selected, at most maxLength characters, OK (default) and
// Cancel. True on OK, with value replaced by the text entered.
bool InputQuery(HWND owner, const std::string& caption, const std::string& prompt, std::string& value,
                int maxLength = 255);
