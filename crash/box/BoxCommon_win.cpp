#include <cmath>

#include "crash/box/BoxInternal.h"

namespace {

int CALLBACK FontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool FontExists(const wchar_t* face) {
  const ScopedWindowDc screen(nullptr);
  LOGFONTW lf = {};
  lf.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
  bool found = false;
  EnumFontFamiliesExW(screen.Get(), &lf, FontFound, reinterpret_cast<LPARAM>(&found), 0);
  return found;
}

HFONT MakeFont(const wchar_t* face, int points, int weight, int dpi) {
  const int height = -MulDiv(points, dpi, 72);
  return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

struct Pen {
  explicit Pen(HDC dc, COLORREF color, int width = 1)
      : dc_(dc), pen_(CreatePen(PS_SOLID, width, color)), old_(SelectObject(dc, pen_.Get())) {}
  ~Pen() { SelectObject(dc_, old_); }
  HDC dc_;
  ScopedGdiObject pen_;
  HGDIOBJ old_;
};

struct Brush {
  explicit Brush(HDC dc, COLORREF color)
      : dc_(dc), brush_(CreateSolidBrush(color)), old_(SelectObject(dc, brush_.Get())) {}
  ~Brush() { SelectObject(dc_, old_); }
  HDC dc_;
  ScopedGdiObject brush_;
  HGDIOBJ old_;
};

COLORREF Dim(COLORREF color, bool enabled) {
  if (enabled) return color;
  const int grey = (GetRValue(color) + GetGValue(color) + GetBValue(color)) / 3;
  const int light = 128 + grey / 3;
  return RGB(light, light, light);
}

void Polygon(HDC dc, std::initializer_list<POINT> points) {
  std::vector<POINT> p(points);
  ::Polygon(dc, p.data(), static_cast<int>(p.size()));
}

// One icon in its 16 x 16 design square at (x, y).
void DrawIcon16(HDC dc, ButtonIcon icon, int x, int y, bool enabled) {
  const COLORREF outline = Dim(RGB(64, 64, 64), enabled);
  switch (icon) {
    case ButtonIcon::Send: {  // an envelope
      Pen pen(dc, outline);
      Brush brush(dc, Dim(RGB(255, 240, 160), enabled));
      Rectangle(dc, x + 1, y + 3, x + 15, y + 13);
      MoveToEx(dc, x + 1, y + 3, nullptr);
      LineTo(dc, x + 8, y + 9);
      LineTo(dc, x + 15, y + 3);
      break;
    }
    case ButtonIcon::Save: {  // a disk
      Pen pen(dc, outline);
      Brush brush(dc, Dim(RGB(60, 90, 200), enabled));
      Rectangle(dc, x + 2, y + 2, x + 14, y + 14);
      Brush label(dc, RGB(255, 255, 255));
      Rectangle(dc, x + 4, y + 2, x + 12, y + 7);
      break;
    }
    case ButtonIcon::Print: {  // a printer
      Pen pen(dc, outline);
      Brush paper(dc, RGB(255, 255, 255));
      Rectangle(dc, x + 4, y + 1, x + 12, y + 7);
      Brush body(dc, Dim(RGB(180, 180, 180), enabled));
      Rectangle(dc, x + 1, y + 6, x + 15, y + 13);
      break;
    }
    case ButtonIcon::Show: {  // a page with lines
      Pen pen(dc, outline);
      Brush paper(dc, RGB(255, 255, 255));
      Rectangle(dc, x + 3, y + 1, x + 13, y + 15);
      for (int line = 4; line <= 12; line += 3) {
        MoveToEx(dc, x + 5, y + line, nullptr);
        LineTo(dc, x + 11, y + line);
      }
      break;
    }
    case ButtonIcon::Continue: {  // a green arrow to the right
      Pen pen(dc, Dim(RGB(0, 100, 0), enabled));
      Brush brush(dc, Dim(RGB(40, 170, 40), enabled));
      Polygon(dc, {{x + 1, y + 5}, {x + 8, y + 5}, {x + 8, y + 1}, {x + 15, y + 8}, {x + 8, y + 15},
                   {x + 8, y + 11}, {x + 1, y + 11}});
      break;
    }
    case ButtonIcon::CannotContinue: {  // the arrow, crossed out
      DrawIcon16(dc, ButtonIcon::Continue, x, y, false);
      Pen pen(dc, Dim(RGB(200, 0, 0), enabled), 2);
      MoveToEx(dc, x + 2, y + 2, nullptr);
      LineTo(dc, x + 14, y + 14);
      MoveToEx(dc, x + 14, y + 2, nullptr);
      LineTo(dc, x + 2, y + 14);
      break;
    }
    case ButtonIcon::Restart: {  // a circular arrow
      Pen pen(dc, Dim(RGB(0, 70, 170), enabled), 2);
      Arc(dc, x + 2, y + 2, x + 14, y + 14, x + 14, y + 5, x + 8, y + 2);
      Pen tip(dc, Dim(RGB(0, 70, 170), enabled));
      Brush brush(dc, Dim(RGB(0, 70, 170), enabled));
      Polygon(dc, {{x + 10, y + 0}, {x + 15, y + 3}, {x + 10, y + 6}});
      break;
    }
    case ButtonIcon::Close: {  // a red square with a white cross
      Pen pen(dc, Dim(RGB(130, 0, 0), enabled));
      Brush brush(dc, Dim(RGB(210, 40, 40), enabled));
      RoundRect(dc, x + 1, y + 1, x + 15, y + 15, 4, 4);
      Pen cross(dc, RGB(255, 255, 255), 2);
      MoveToEx(dc, x + 5, y + 5, nullptr);
      LineTo(dc, x + 11, y + 11);
      MoveToEx(dc, x + 11, y + 5, nullptr);
      LineTo(dc, x + 5, y + 11);
      break;
    }
    case ButtonIcon::None:
      break;
  }
}

void DrawErrorIcon32(HDC dc, int x, int y) {
  Pen pen(dc, RGB(120, 0, 0));
  Brush brush(dc, RGB(220, 30, 30));
  Ellipse(dc, x, y, x + 32, y + 32);
  Pen cross(dc, RGB(255, 255, 255), 4);
  MoveToEx(dc, x + 10, y + 10, nullptr);
  LineTo(dc, x + 22, y + 22);
  MoveToEx(dc, x + 22, y + 10, nullptr);
  LineTo(dc, x + 10, y + 22);
}

// Draws a design of `designSize` pixels at (left, top), `size` pixels wide:
// the drawings are lines and shapes, so a world transform scales them
// without the blur of a stretched bitmap.
template <class Draw>
void DrawScaled(HDC dc, int left, int top, int designSize, int size, Draw&& draw) {
  if (size == designSize) {
    draw(left, top);
    return;
  }
  const int saved = SaveDC(dc);
  SetGraphicsMode(dc, GM_ADVANCED);
  const float scale = static_cast<float>(size) / static_cast<float>(designSize);
  const XFORM transform = {scale, 0.0f, 0.0f, scale, static_cast<float>(left), static_cast<float>(top)};
  SetWorldTransform(dc, &transform);
  draw(0, 0);
  RestoreDC(dc, saved);
}

}  // namespace

BoxFonts::BoxFonts(int dpi) {
  const wchar_t* face = FontExists(L"Tahoma") ? L"Tahoma" : L"MS Sans Serif";
  text.Reset(MakeFont(face, 8, FW_NORMAL, dpi));
  bold.Reset(MakeFont(face, 8, FW_BOLD, dpi));
  report.Reset(MakeFont(L"Courier New", 8, FW_NORMAL, dpi));
  small.Reset(MakeFont(L"Small Fonts", 6, FW_NORMAL, dpi));
}

void DrawButtonIcon(HDC dc, ButtonIcon icon, int left, int top, int size, bool enabled) {
  DrawScaled(dc, left, top, 16, size, [&](int x, int y) { DrawIcon16(dc, icon, x, y, enabled); });
}

void DrawLargeErrorIcon(HDC dc, int left, int top, int size) {
  DrawScaled(dc, left, top, 32, size, [&](int x, int y) { DrawErrorIcon32(dc, x, y); });
}

void DrawFlatButton(const DRAWITEMSTRUCT& item, ButtonIcon icon, bool isDefault, HFONT font, int dpi) {
  HDC dc = item.hDC;
  RECT r = item.rcItem;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  const bool enabled = (item.itemState & ODS_DISABLED) == 0;
  const bool focused = (item.itemState & ODS_FOCUS) != 0;
  FillRect(dc, &r, GetSysColorBrush(pressed ? COLOR_BTNSHADOW : COLOR_BTNFACE));
  {
    Pen pen(dc, GetSysColor(isDefault || focused ? COLOR_HIGHLIGHT : COLOR_BTNSHADOW));
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, r.left, r.top, r.right, r.bottom);
    SelectObject(dc, oldBrush);
  }
  const int offset = pressed ? 1 : 0;
  const int iconSize = ScaledPx(16, dpi);
  DrawButtonIcon(dc, icon, r.left + ScaledPx(4, dpi) + offset, r.top + (r.bottom - r.top - iconSize) / 2 + offset,
                 iconSize, enabled);
  wchar_t text[128] = {};
  GetWindowTextW(item.hwndItem, text, 128);
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
  RECT textRect = {r.left + ScaledPx(24, dpi) + offset, r.top + offset, r.right - 2, r.bottom + offset};
  DrawTextW(dc, text, -1, &textRect, DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_END_ELLIPSIS);
  SelectObject(dc, oldFont);
  if (focused) {
    RECT focus = {r.left + 2, r.top + 2, r.right - 2, r.bottom - 2};
    DrawFocusRect(dc, &focus);
  }
}

void RegisterBoxClass(const wchar_t* name, WNDPROC proc, HBRUSH background) {
  WNDCLASSEXW wc = {};
  if (GetClassInfoExW(GetModuleHandleW(nullptr), name, &wc)) return;
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_ERROR));
  wc.hbrBackground = background;
  wc.lpszClassName = name;
  RegisterClassExW(&wc);
}

HWND AddChild(HWND parent, const wchar_t* cls, const std::wstring& text, DWORD style, DWORD exStyle, int id, int x,
              int y, int w, int h, HFONT font) {
  HWND child = CreateWindowExW(exStyle, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (child && font) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}

void RunModalLoop(HWND window, const std::function<bool()>& done, const std::function<bool(const MSG&)>& keyFilter) {
  MSG msg;
  while (!done()) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      // WM_QUIT belongs to the thread's own loop: hand it back and leave.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (got < 0) return;
    const bool ours = IsWindow(window) && (msg.hwnd == window || IsChild(window, msg.hwnd));
    if (ours && (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) && keyFilter && keyFilter(msg)) continue;
    if (ours && IsDialogMessageW(window, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}
