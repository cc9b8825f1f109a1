// The controls: each a platform control window on its form.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "support/TextCodec.h"
#include "toolkit/Controls.h"
#include "toolkit/PictureScale.h"

namespace {

UINT DrawTextAlignment(TAlignment alignment) {
  switch (alignment) {
    case TAlignment::Center: return DT_CENTER;
    case TAlignment::Right: return DT_RIGHT;
    default: return DT_LEFT;
  }
}

DWORD StaticAlignment(TAlignment alignment) {
  switch (alignment) {
    case TAlignment::Center: return SS_CENTER;
    case TAlignment::Right: return SS_RIGHT;
    default: return SS_LEFT;
  }
}

}  // namespace

// ---- TControl ----

TControl::TControl(TForm* form, const char* windowClass, DWORD style) : TComponent(form), form_(form) {
  handle_.Reset(CreateWindowExW(0, WidenCp936(windowClass).c_str(), L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                                form->Handle(), nullptr, GetModuleHandleA(nullptr), nullptr));
  SetFont(form->Font());
  form->controls_.push_back(this);
}

TControl::~TControl() {
  if (form_) {
    auto& list = form_->controls_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  // The window goes before its font (the members would go the other way round).
  handle_.Reset();
}

void TControl::SetCaption(const std::string& caption) {
  // The status labels are set again with every relayed report; only a
  // changed text costs a repaint.
  if (handle_ && caption == caption_) return;
  caption_ = caption;
  SetWindowTextW(Handle(), WidenCp936(caption).c_str());
}

void TControl::SetVisible(bool visible) {
  visible_ = visible;
  ShowWindow(Handle(), visible ? SW_SHOWNA : SW_HIDE);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  design_ = TBounds{left, top, width, height};
  const TBounds placed = ScaleBounds(design_, form_->Dpi());
  MoveWindow(Handle(), placed.left, placed.top, placed.width, placed.height, TRUE);
}

void TControl::SetId(int id) {
  id_ = id;
  SetWindowLongPtrW(Handle(), GWLP_ID, id);
}

void TControl::SetFont(const TFont& font) {
  font_ = font;
  ScopedFont made = CreateFontFor(ScaleFont(font, form_->Dpi()));
  SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(made.Get()), TRUE);
  hfont_ = std::move(made);  // the old font goes once the control no longer uses it
}

void TControl::ScaleToFormDpi() {
  SetBounds(design_.left, design_.top, design_.width, design_.height);
  SetFont(font_);
}

void TControl::SetTabStop(bool tabStop) {
  LONG_PTR style = GetWindowLongPtrW(Handle(), GWL_STYLE);
  style = tabStop ? (style | WS_TABSTOP) : (style & ~static_cast<LONG_PTR>(WS_TABSTOP));
  SetWindowLongPtrW(Handle(), GWL_STYLE, style);
}

bool TControl::ApplyProperty(const DescProperty& p, const THandlerTable& handlers) {
  const TBounds& b = design_;
  if (p.key == "Left") {
    SetBounds(DescInt(p), b.top, b.width, b.height);
  } else if (p.key == "Top") {
    SetBounds(b.left, DescInt(p), b.width, b.height);
  } else if (p.key == "Width") {
    SetBounds(b.left, b.top, DescInt(p), b.height);
  } else if (p.key == "Height") {
    SetBounds(b.left, b.top, b.width, DescInt(p));
  } else if (p.key == "Id") {
    const int id = DescInt(p);
    // A WM_COMMAND carries the id in 16 bits; 0 is no id.
    if (id < 1 || id > 0xFFFF) throw DescriptionError("line " + std::to_string(p.line) + ": Id must be 1 to 65535");
    if (GetDlgItem(form_->Handle(), id))
      throw DescriptionError("line " + std::to_string(p.line) + ": Id " + std::to_string(id) + " is taken");
    SetId(id);
  } else if (p.key == "Caption") {
    SetCaption(p.First().text);
  } else if (p.key == "Visible") {
    SetVisible(DescBool(p));
  } else if (p.key == "TabOrder") {
    SetTabOrder(DescInt(p));
  } else if (p.key == "TabStop") {
    SetTabStop(DescBool(p));
  } else if (p.key == "Font") {
    SetFont(DescFont(p, font_));
  } else if (p.key == "FontColor") {
    TFont f = font_;
    f.color = DescColor(p);
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
    alignment_ = DescAlignment(p);
    ApplyStyle();
    return true;
  }
  if (p.key == "Transparent") {
    transparent_ = DescBool(p);
    ApplyStyle();
    // Above the pictures, which clip their siblings, so that a picture's
    // repaint does not cover the label either.
    if (transparent_) SetWindowPos(Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return true;
  }
  return TControl::ApplyProperty(p, handlers);
}

void TLabel::ApplyStyle() {
  LONG_PTR style = GetWindowLongPtrW(Handle(), GWL_STYLE) & ~static_cast<LONG_PTR>(SS_TYPEMASK);
  // A plain static fills its whole rectangle with the background brush; a
  // transparent one is drawn by DrawItem instead.
  style |= transparent_ ? SS_OWNERDRAW : StaticAlignment(alignment_);
  SetWindowLongPtrW(Handle(), GWL_STYLE, style);
  InvalidateRect(Handle(), nullptr, TRUE);
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
  HGDIOBJ old = hfont_ ? SelectObject(item.hDC, hfont_.Get()) : nullptr;
  const std::wstring text = WidenCp936(caption_);
  DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &r,
            DrawTextAlignment(alignment_) | DT_WORDBREAK | DT_NOPREFIX);
  if (old) SelectObject(item.hDC, old);
}

// ---- TImage ----

TImage::TImage(TForm* form) : TControl(form, "STATIC", SS_OWNERDRAW | WS_CLIPSIBLINGS) {}

namespace {

HBITMAP LoadBitmapNamed(const std::string& name) {
  return static_cast<HBITMAP>(
      LoadImageA(GetModuleHandleA(nullptr), name.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

}  // namespace

void TImage::LoadBitmapResource(const std::string& name) {
  resource_ = name;
  designSize_ = SIZE{0, 0};
  const ScopedBitmap design(LoadBitmapNamed(name));
  if (design) {
    BITMAP info;
    GetObject(design.Get(), sizeof info, &info);
    designSize_ = SIZE{info.bmWidth, info.bmHeight};
  }
  LoadForDpi();
}

void TImage::LoadForDpi() {
  const int scale = PictureScaleFor(form_->Dpi());
  HBITMAP picture = scale != 100 ? LoadBitmapNamed(resource_ + "_" + std::to_string(scale)) : nullptr;
  // Where the program lacks the larger picture the one at 96 dpi is stretched.
  if (!picture) picture = LoadBitmapNamed(resource_);
  bitmap_.Reset(picture);
  scaled_.Reset();
  InvalidateRect(Handle(), nullptr, TRUE);
}

void TImage::ScaleToFormDpi() {
  TControl::ScaleToFormDpi();
  LoadForDpi();
}

bool TImage::ApplyProperty(const DescProperty& p, const THandlerTable& handlers) {
  if (p.key == "Bitmap") {
    LoadBitmapResource(p.First().text);
  } else if (p.key == "Stretch") {
    stretch_ = DescBool(p);
  } else if (p.key == "Transparent") {
    transparent_ = DescBool(p);
  } else {
    return TControl::ApplyProperty(p, handlers);
  }
  return true;
}

void TImage::DrawItem(const DRAWITEMSTRUCT& item) {
  FillRect(item.hDC, &item.rcItem, form_->BackgroundBrush());
  Paint(item.hDC, item.rcItem);
}

HBITMAP TImage::ScaledPicture(int width, int height) const {
  if (scaled_ && scaledSize_.cx == width && scaledSize_.cy == height) return scaled_.Get();
  scaled_.Reset();
  BITMAP info;
  if (!GetObject(bitmap_.Get(), sizeof info, &info) || info.bmWidth <= 0 || info.bmHeight <= 0) return nullptr;
  BITMAPINFO format = {};
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = info.bmWidth;
  format.bmiHeader.biHeight = -info.bmHeight;  // top-down
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(info.bmWidth) * info.bmHeight);
  ScopedWindowDc screen(nullptr);
  if (!GetDIBits(screen.Get(), bitmap_.Get(), 0, static_cast<UINT>(info.bmHeight), pixels.data(), &format,
                 DIB_RGB_COLORS))
    return nullptr;
  const std::uint32_t key = pixels[static_cast<std::size_t>(info.bmHeight - 1) * info.bmWidth];  // bottom-left
  const std::vector<std::uint32_t> resized =
      ScaleKeyedPicture(pixels, info.bmWidth, info.bmHeight, key, width, height);
  if (resized.empty()) return nullptr;
  format.bmiHeader.biWidth = width;
  format.bmiHeader.biHeight = -height;
  void* bits = nullptr;
  scaled_.Reset(CreateDIBSection(screen.Get(), &format, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!scaled_ || !bits) return nullptr;
  std::copy(resized.begin(), resized.end(), static_cast<std::uint32_t*>(bits));
  scaledSize_ = SIZE{width, height};
  return scaled_.Get();
}

void TImage::Paint(HDC dc, const RECT& r) const {
  if (!bitmap_) return;
  BITMAP info;
  GetObject(bitmap_.Get(), sizeof info, &info);
  // Unstretched, the picture keeps its own size at 96 dpi, scaled.
  const int width = stretch_ ? r.right - r.left : ScaleToDpi(designSize_.cx, form_->Dpi());
  const int height = stretch_ ? r.bottom - r.top : ScaleToDpi(designSize_.cy, form_->Dpi());
  ScopedMemoryDc source(CreateCompatibleDC(dc));
  if (!source) return;
  // Drawn at another size than its own, a transparent picture is filtered
  // rather than thinned out pixel by pixel, its edges blending into what
  // lies beneath.
  if (transparent_ && (width != info.bmWidth || height != info.bmHeight) && width > 0 && height > 0) {
    if (HBITMAP scaled = ScaledPicture(width, height)) {
      HGDIOBJ old = SelectObject(source.Get(), scaled);
      const BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
      AlphaBlend(dc, r.left, r.top, width, height, source.Get(), 0, 0, width, height, blend);
      SelectObject(source.Get(), old);
      return;
    }
  }
  HGDIOBJ old = SelectObject(source.Get(), bitmap_.Get());
  if (transparent_) {
    const COLORREF key = GetPixel(source.Get(), 0, info.bmHeight - 1);  // bottom-left pixel
    TransparentBlt(dc, r.left, r.top, width, height, source.Get(), 0, 0, info.bmWidth, info.bmHeight, key);
  } else {
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, r.left, r.top, width, height, source.Get(), 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
  }
  SelectObject(source.Get(), old);  // the bitmap must not go with the DC
}

// ---- buttons and check box ----

TButton::TButton(TForm* form) : TControl(form, "BUTTON", BS_PUSHBUTTON | WS_TABSTOP) {}

void TButton::Command(WORD code) {
  if (code == BN_CLICKED) Click();
}

TSpeedButton::TSpeedButton(TForm* form) : TButton(form) {
  SetWindowLongPtrW(Handle(), GWL_STYLE, WS_CHILD | WS_VISIBLE | BS_OWNERDRAW);
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
  HGDIOBJ old = SelectObject(item.hDC, hfont_.Get());
  const std::wstring text = WidenCp936(caption_);
  DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(item.hDC, old);
}

TCheckBox::TCheckBox(TForm* form) : TControl(form, "BUTTON", BS_CHECKBOX | WS_TABSTOP) {}

void TCheckBox::SetChecked(bool checked) {
  if (checked == checked_) return;
  checked_ = checked;
  SendMessageW(Handle(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  Click();  // programmatic checking fires the click event, like the user's
}

void TCheckBox::Command(WORD code) {
  if (code == BN_CLICKED) SetChecked(!checked_);
}

bool TCheckBox::ApplyProperty(const DescProperty& p, const THandlerTable& handlers) {
  if (p.key == "Checked") {
    checked_ = DescBool(p);  // the stored state fires no event
    SendMessageW(Handle(), BM_SETCHECK, checked_ ? BST_CHECKED : BST_UNCHECKED, 0);
    return true;
  }
  return TControl::ApplyProperty(p, handlers);
}
