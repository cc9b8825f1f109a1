// The agent at other display scales: the unmodified .exe under Wine with the
// prefix's dots per inch set through its registry ("LogPixels"), observed
// from outside through its windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>

#include "LoopbackPeer_win.h"
#include "RemoteThread_win.h"
#include "WineTestSupport_win.h"
#include "toolkit/WindowDescription.h"

namespace ts = testing_support;

namespace {

constexpr int kStartTimeout = 30000;
const char kDesktopKey[] = "Control Panel\\Desktop";

// A control as the agent's window description gives it.
struct DesignControl {
  std::string name, kind;
  int id = 0;
  RECT rect = {};  // at 96 dpi
  bool transparent = false;
};

std::vector<DesignControl> DesignControls() {
  const DescItem form = ParseWindowDescription(ts::ReadWholeFile(ts::PathFromEnv("QEX_AGENT_DESCRIPTION")));
  std::vector<DesignControl> controls;
  for (const DescItem& item : form.children) {
    if (!item.Find("Left")) continue;  // not a control
    DesignControl c;
    c.name = item.name;
    c.kind = item.kind;
    auto number = [&](const char* key) {
      const DescProperty* p = item.Find(key);
      return p ? static_cast<int>(p->First().number) : 0;
    };
    c.id = number("Id");
    c.rect = RECT{number("Left"), number("Top"), number("Left") + number("Width"), number("Top") + number("Height")};
    const DescProperty* transparent = item.Find("Transparent");
    c.transparent = transparent && transparent->First().text == "true";
    controls.push_back(c);
  }
  return controls;
}

RECT ClientRectOf(HWND control, HWND main) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(HWND_DESKTOP, main, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

// The extent of a text in a font of that face and character height.
SIZE TextExtent(const std::wstring& face, int height, const std::wstring& text, int weight = FW_NORMAL) {
  const ScopedFont font(CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                    OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                                    face.c_str()));
  SIZE extent = {0, 0};
  ScopedWindowDc screen(nullptr);
  const HGDIOBJ old = SelectObject(screen.Get(), font.Get());
  GetTextExtentPoint32W(screen.Get(), text.c_str(), static_cast<int>(text.size()), &extent);
  SelectObject(screen.Get(), old);
  return extent;
}

// The screen's pixels in r (screen coordinates), top-down rows, 0x00RRGGBB.
std::vector<std::uint32_t> ScreenPixels(const RECT& r) {
  const int width = Width(r), height = Height(r);
  std::vector<std::uint32_t> pixels;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  ScopedWindowDc screen(nullptr);
  const ScopedBitmap picture(CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  const ScopedMemoryDc memory(CreateCompatibleDC(screen.Get()));
  if (!picture || !memory) return pixels;
  const HGDIOBJ old = SelectObject(memory.Get(), picture.Get());
  BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), r.left, r.top, SRCCOPY);
  SelectObject(memory.Get(), old);
  const auto* first = static_cast<const std::uint32_t*>(bits);
  pixels.assign(first, first + static_cast<std::size_t>(width) * height);
  for (std::uint32_t& p : pixels) p &= 0xFFFFFF;
  return pixels;
}

// The height of a control's text as the agent drew it on the screen: the
// rows that hold its dark grey pixels (the pictures beneath the
// transparent labels are coloured). 0 when none are there yet.
int InkHeight(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  const std::vector<std::uint32_t> pixels = ScreenPixels(r);
  const int width = Width(r);
  int first = -1, last = -1;
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    const int blue = pixels[i] & 0xFF, green = (pixels[i] >> 8) & 0xFF, red = (pixels[i] >> 16) & 0xFF;
    if (std::abs(red - green) >= 24 || std::abs(green - blue) >= 24 || red >= 200) continue;
    const int y = static_cast<int>(i) / width;
    if (first < 0) first = y;
    last = y;
  }
  return first < 0 ? 0 : last - first + 1;
}

// The ink height once the control is drawn and stays so: the same in two
// looks a moment apart. 0 when it never is.
int DrawnInkHeight(HWND control) {
  int last = -1, now = 0;
  ts::WaitUntil(
      [&] {
        now = InkHeight(control);
        const bool settled = now > 0 && now == last;
        last = now;
        return settled;
      },
      10000, 150);
  return now == last ? now : 0;
}

// A bitmap resource of the agent, top-down rows, 0x00RRGGBB.
std::vector<std::uint32_t> AgentBitmap(const wchar_t* name, SIZE* size) {
  std::vector<std::uint32_t> pixels;
  const ScopedModule program(LoadLibraryExA(ts::AgentPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  const ScopedBitmap bitmap(
      static_cast<HBITMAP>(LoadImageW(program.Get(), name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  BITMAP info = {};
  if (!bitmap || !GetObjectW(bitmap.Get(), sizeof info, &info)) return pixels;
  *size = SIZE{info.bmWidth, info.bmHeight};
  BITMAPINFO format = {};
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = info.bmWidth;
  format.bmiHeader.biHeight = -info.bmHeight;
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  pixels.resize(static_cast<std::size_t>(info.bmWidth) * info.bmHeight);
  ScopedWindowDc screen(nullptr);
  GetDIBits(screen.Get(), bitmap.Get(), 0, info.bmHeight, pixels.data(), &format, DIB_RGB_COLORS);
  for (std::uint32_t& p : pixels) p &= 0xFFFFFF;
  return pixels;
}

// The notification area's end of the shell's protocol under Wine: the shell
// sends each icon to the window of the tray's class as WM_COPYDATA, the
// record followed by the icon's size and its mask and colour bits (as
// GetBitmapBits gives them). A stand-in of that class, created after
// Wine's own, is the one the shell finds.
struct TrayIconData {
  DWORD window = 0, callback = 0, width = 0, height = 0;
  std::vector<BYTE> colourBits;
};
constexpr std::size_t kTrayRecordSize = 944;  // the record before the icon's size
std::vector<TrayIconData> g_trayIcons;

LRESULT CALLBACK StandInTrayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    const auto* bytes = static_cast<const BYTE*>(copy->lpData);
    auto dword = [&](std::size_t at) {
      DWORD value = 0;
      if (at + 4 <= copy->cbData) std::memcpy(&value, bytes + at, 4);
      return value;
    };
    TrayIconData icon;
    icon.window = dword(0);
    icon.callback = dword(12);
    icon.width = dword(kTrayRecordSize);
    icon.height = dword(kTrayRecordSize + 4);
    const std::size_t maskBytes = (icon.width * icon.height + 15) / 16 * 2;
    const std::size_t colourAt = kTrayRecordSize + 16 + maskBytes;
    if (colourAt < copy->cbData) icon.colourBits.assign(bytes + colourAt, bytes + copy->cbData);
    g_trayIcons.push_back(icon);
    return TRUE;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// The colour bits of an icon as the shell packs them.
std::vector<BYTE> ColourBits(HICON icon) {
  ICONINFO info = {};
  if (!icon || !GetIconInfo(icon, &info)) return {};
  const ScopedBitmap mask(info.hbmMask), colour(info.hbmColor);
  BITMAP bitmap = {};
  GetObjectW(colour.Get(), sizeof bitmap, &bitmap);
  std::vector<BYTE> bits((bitmap.bmPlanes * bitmap.bmWidth * bitmap.bmHeight * bitmap.bmBitsPixel + 15) / 16 * 2);
  GetBitmapBits(colour.Get(), static_cast<LONG>(bits.size()), bits.data());
  return bits;
}

// The window's children, visible ones only.
std::vector<HWND> VisibleChildren(HWND window) {
  std::vector<HWND> children;
  for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    if (IsWindowVisible(c)) children.push_back(c);
  return children;
}

// No two of the windows overlap on the screen.
void ExpectApart(const std::vector<HWND>& windows) {
  for (std::size_t i = 0; i < windows.size(); ++i)
    for (std::size_t j = i + 1; j < windows.size(); ++j) {
      RECT a, b, overlap;
      GetWindowRect(windows[i], &a);
      GetWindowRect(windows[j], &b);
      EXPECT_FALSE(IntersectRect(&overlap, &a, &b))
          << ts::ToUtf8(ts::WindowText(windows[i])) << " overlaps " << ts::ToUtf8(ts::WindowText(windows[j]));
    }
}

// The control's text in that font fits its client area, `before` pixels
// left for what the control draws in front of it (a box, an icon).
void ExpectTextFits(HWND control, const std::wstring& face, int height, int before = 0, int weight = FW_NORMAL) {
  const std::wstring text = ts::WindowText(control);
  const SIZE extent = TextExtent(face, height, text, weight);
  RECT client;
  GetClientRect(control, &client);
  EXPECT_LE(extent.cx + before, client.right) << ts::ToUtf8(text);
  EXPECT_LE(extent.cy, client.bottom) << ts::ToUtf8(text);
}

int Px(int designPixels, double scale) { return static_cast<int>(std::lround(designPixels * scale)); }

// The report box and the send assistant: their ids and their text fonts,
// 8 points of Tahoma, 11 pixels at 96 dpi.
constexpr int kBoxSendId = 300, kBoxContinueId = 304, kBoxMessageId = 320, kBoxTabsId = 321;
constexpr int kAssistCancelId = 402;
constexpr int kBoxFontAt96 = 11;

class DisplayScale : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Aware of every monitor's scale, so the platform hands this process
    // the agent's window coordinates unscaled, whatever the prefix's dpi.
    using SetAwareness = BOOL(WINAPI*)(HANDLE);
    const auto set = reinterpret_cast<SetAwareness>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    if (!set || !set(reinterpret_cast<HANDLE>(-4))) SetProcessDPIAware();
  }

  void SetUp() override {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    desktop_.Reset(key);
    DWORD size = sizeof savedDpi_;
    hadDpi_ = RegQueryValueExA(key, "LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&savedDpi_), &size) ==
              ERROR_SUCCESS;
    design_ = DesignControls();
    ASSERT_EQ(design_.size(), 13u);
  }

  void TearDown() override {
    if (agent_.Running()) agent_.Close(10000);
    ts::RegDeleteTree("Software\\QEX\\JoystickAgent");
    if (hadDpi_) RegSetValueExA(desktop_.Get(), "LogPixels", 0, REG_DWORD, reinterpret_cast<BYTE*>(&savedDpi_), 4);
    else RegDeleteValueA(desktop_.Get(), "LogPixels");
  }

  // Starts the agent with the prefix at that many dots per inch.
  void StartAt(DWORD dpi) {
    if (agent_.Running()) {
      ASSERT_EQ(agent_.Close(15000), 0);
    }
    ASSERT_EQ(RegSetValueExA(desktop_.Get(), "LogPixels", 0, REG_DWORD, reinterpret_cast<BYTE*>(&dpi), 4),
              ERROR_SUCCESS);
    ASSERT_TRUE(agent_.Start(ts::AgentPath())) << ts::AgentPath();
    main_ = ts::WaitForMainWindow(agent_.Pid(), kStartTimeout);
    ASSERT_NE(main_, nullptr) << "no main window";
  }

  HWND Control(const DesignControl& c) const { return GetDlgItem(main_, c.id); }
  HWND AgentControl(const std::string& name) const { return ts::AgentControl(main_, name); }

  SIZE ClientSize() const {
    RECT r;
    GetClientRect(main_, &r);
    return SIZE{r.right, r.bottom};
  }

  RECT ScreenRectOf(const std::string& name) const {
    RECT r;
    GetWindowRect(AgentControl(name), &r);
    return r;
  }

  // What a move to a monitor of another scale brings a window: the new dpi
  // and, in the agent's memory, the rectangle the platform suggests.
  void SendDpiChange(HWND window, WORD dpi, const RECT& suggested) {
    void* remote = VirtualAllocEx(agent_.Handle(), nullptr, sizeof suggested, MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(remote, nullptr);
    ASSERT_TRUE(WriteProcessMemory(agent_.Handle(), remote, &suggested, sizeof suggested, nullptr));
    DWORD_PTR result = 0;
    const bool answered = SendMessageTimeoutW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                                              reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, ts::Scaled(10000),
                                              &result) != 0;
    VirtualFreeEx(agent_.Handle(), remote, 0, MEM_RELEASE);
    ASSERT_TRUE(answered);
    RECT now;
    GetWindowRect(window, &now);
    EXPECT_EQ(now.left, suggested.left);
    EXPECT_EQ(now.top, suggested.top);
    EXPECT_EQ(now.right, suggested.right);
    EXPECT_EQ(now.bottom, suggested.bottom);
  }

  // The agent, at that dpi, raises into crash reporting: its link socket
  // closed behind its back, its next keep-alive fails. It runs from a copy,
  // so the bug-report file it writes beside itself goes with the copy.
  void RaiseIntoReportBoxAt(DWORD dpi, HWND* box) {
    copyDir_.emplace();
    const std::string exe = copyDir_->Path() + "\\QEXJoystick.exe";
    ASSERT_TRUE(CopyFileA(ts::AgentPath().c_str(), exe.c_str(), FALSE));
    peer_.emplace();
    ASSERT_TRUE(peer_->Ok()) << "port 18884 is taken";
    ASSERT_EQ(RegSetValueExA(desktop_.Get(), "LogPixels", 0, REG_DWORD, reinterpret_cast<BYTE*>(&dpi), 4),
              ERROR_SUCCESS);
    ASSERT_TRUE(agent_.Start(exe, std::string(), copyDir_->Path())) << exe;
    ASSERT_TRUE(ts::WaitUntil([&] { return peer_->Connected(); }, kStartTimeout)) << "the agent did not connect";
    ASSERT_EQ(ts::CloseAgentLinkSocket(agent_.Handle(), agent_.Pid()), 1)
        << "the link socket was not closed from inside";
    *box = WaitForVisible(L"QEXReportBox", 30000);
    ASSERT_NE(*box, nullptr) << "no report box";
    // A box may show a moment before its texts are in.
    ts::WaitUntil([&] { return !ts::WindowText(GetDlgItem(*box, kBoxMessageId)).empty(); }, 5000);
  }

  HWND WaitForVisible(const wchar_t* windowClass, int timeoutMs, DWORD pid = 0) const {
    HWND found = nullptr;
    ts::WaitUntil(
        [&] {
          for (HWND w : ts::ProcessWindows(pid ? pid : agent_.Pid(), windowClass))
            if (IsWindowVisible(w)) found = w;
          return found != nullptr;
        },
        timeoutMs);
    return found;
  }

  // The report box at that scale: its buttons as tall and wide as the scale
  // makes them, each text in the font of the scale beside its icon, nothing
  // on top of anything else (the report's tabs included).
  static void ExpectReportBoxAt(HWND box, double scale) {
    const int fontHeight = Px(kBoxFontAt96, scale);
    std::vector<HWND> placed;
    for (int id = kBoxSendId; id < kBoxSendId + 7; ++id) {
      HWND button = GetDlgItem(box, id);
      if (!button || !IsWindowVisible(button)) continue;
      SCOPED_TRACE(ts::ToUtf8(ts::WindowText(button)));
      placed.push_back(button);
      RECT client;
      GetClientRect(button, &client);
      EXPECT_NEAR(client.bottom, 22 * scale, 2);
      EXPECT_NEAR(client.right, 170 * scale, 2);
      ExpectTextFits(button, L"Tahoma", fontHeight, Px(24, scale));
    }
    EXPECT_GE(placed.size(), 2u);
    HWND message = GetDlgItem(box, kBoxMessageId);
    ASSERT_NE(message, nullptr);
    ExpectTextFits(message, L"Tahoma", fontHeight);
    placed.push_back(message);
    if (HWND tabs = GetDlgItem(box, kBoxTabsId)) placed.push_back(tabs);
    ExpectApart(placed);
  }

  static void Continue(HWND box) {
    PostMessageW(GetDlgItem(box, kBoxContinueId), BM_CLICK, 0, 0);
    ASSERT_TRUE(ts::WaitUntil([&] { return !IsWindowVisible(box); }, 10000));
  }

  // The ink height of each visible text of the agent's window, once drawn.
  std::map<std::string, int> InkHeights() {
    std::map<std::string, int> heights;
    for (const DesignControl& c : design_) {
      HWND control = Control(c);
      if (c.kind != "label" && c.kind != "speedbutton") continue;
      heights[c.name] = DrawnInkHeight(control);
      EXPECT_GT(heights[c.name], 0) << c.name << " not drawn";
    }
    return heights;
  }

  // Every visible control: placed at the scale, its text in a font of that
  // scale and fitting it, none on top of another but a label over a picture.
  void ExpectLayoutAt(double scale, const std::map<std::string, int>& inkAt96) {
    std::map<std::string, RECT> placed;
    const std::map<std::string, int> ink = InkHeights();
    for (const DesignControl& c : design_) {
      SCOPED_TRACE(c.name);
      HWND control = Control(c);
      ASSERT_NE(control, nullptr) << "no control with id " << c.id;
      const RECT r = ClientRectOf(control, main_);
      EXPECT_NEAR(r.left, c.rect.left * scale, 2);
      EXPECT_NEAR(r.top, c.rect.top * scale, 2);
      EXPECT_NEAR(Width(r), Width(c.rect) * scale, 2);
      EXPECT_NEAR(Height(r), Height(c.rect) * scale, 2);
      if (!IsWindowVisible(control)) continue;
      placed[c.name] = r;
      if (c.kind == "picture") continue;
      if (ink.count(c.name) && inkAt96.count(c.name)) {
        EXPECT_NEAR(ink.at(c.name), inkAt96.at(c.name) * scale, 2) << "the text's drawn height";
      }
      const bool version = c.name == "lblVersion";
      const int fontHeight = static_cast<int>(std::lround((version ? 11 : 12) * scale));
      const std::wstring text = ts::WindowText(control);
      const SIZE extent = TextExtent(version ? L"MS Sans Serif" : ts::FromUtf8("微软雅黑"), fontHeight, text);
      RECT client;
      GetClientRect(control, &client);
      // A check box draws its box and a gap before the text.
      const int box = c.kind == "checkbox" ? static_cast<int>(std::lround(16 * scale)) : 0;
      EXPECT_LE(extent.cx + box, client.right) << ts::ToUtf8(text);
      EXPECT_LE(extent.cy, client.bottom) << ts::ToUtf8(text);
    }
    for (const DesignControl& a : design_)
      for (const DesignControl& b : design_) {
        if (a.name >= b.name || !placed.count(a.name) || !placed.count(b.name)) continue;
        if ((a.kind == "picture") != (b.kind == "picture") && (a.kind == "label" || b.kind == "label"))
          continue;  // labels lie over the pictures by design
        RECT overlap;
        EXPECT_FALSE(IntersectRect(&overlap, &placed[a.name], &placed[b.name])) << a.name << " overlaps " << b.name;
      }
  }

  ts::ChildProcess agent_;
  HWND main_ = nullptr;
  std::vector<DesignControl> design_;
  ScopedRegKey desktop_;

 private:
  DWORD savedDpi_ = 96;
  bool hadDpi_ = false;
  std::optional<ts::TempDir> copyDir_;
  std::optional<ts::LoopbackPeer> peer_;
};

TEST_F(DisplayScale, TheWindowAndItsControlsScaleWithTheDisplayAndTheirTextsFit) {
  StartAt(96);
  const SIZE design = ClientSize();
  const std::map<std::string, int> inkAt96 = InkHeights();
  {
    SCOPED_TRACE("96 dpi");
    ExpectLayoutAt(1.0, inkAt96);
  }
  for (const DWORD dpi : {144, 192}) {
    SCOPED_TRACE(std::to_string(dpi) + " dpi");
    StartAt(dpi);
    const double scale = dpi / 96.0;
    const SIZE client = ClientSize();
    EXPECT_NEAR(client.cx, design.cx * scale, 2);
    EXPECT_NEAR(client.cy, design.cy * scale, 2);
    ExpectLayoutAt(scale, inkAt96);
  }
}

TEST_F(DisplayScale, MovingToAMonitorOfAnotherScaleTakesTheSuggestedRectangle) {
  StartAt(96);
  const std::map<std::string, int> inkAt96 = InkHeights();
  ASSERT_NO_FATAL_FAILURE(SendDpiChange(main_, 144, RECT{40, 30, 40 + 760, 30 + 330}));
  // Drawn anew at the new scale.
  ts::Pause(500);
  ExpectLayoutAt(1.5, inkAt96);
}

TEST_F(DisplayScale, TheAddressPromptScalesWithTheDisplayAndItsTextsFit) {
  const std::wstring face = ts::FromUtf8("微软雅黑");
  int promptInkAt96 = 0;
  for (const DWORD dpi : {96, 144}) {
    SCOPED_TRACE(std::to_string(dpi) + " dpi");
    const double scale = dpi / 96.0;
    StartAt(dpi);
    PostMessageW(AgentControl("btnConfig"), BM_CLICK, 0, 0);
    const HWND dialog = ts::WaitForDialog(agent_.Pid(), ts::FromUtf8("设置"), 10000);
    ASSERT_NE(dialog, nullptr);
    const HWND prompt = GetDlgItem(dialog, 100);
    const HWND items[] = {prompt, GetDlgItem(dialog, 101), GetDlgItem(dialog, IDOK), GetDlgItem(dialog, IDCANCEL)};
    for (HWND item : items) ASSERT_NE(item, nullptr);
    const int ink = DrawnInkHeight(prompt);
    ASSERT_GT(ink, 0) << "the prompt is not drawn";
    if (dpi == 96) promptInkAt96 = ink;
    EXPECT_NEAR(ink, promptInkAt96 * scale, 2) << "the prompt's drawn height";
    for (HWND item : {items[0], items[2], items[3]}) {
      const std::wstring text = ts::WindowText(item);
      const SIZE extent = TextExtent(face, static_cast<int>(std::lround(12 * scale)), text);
      RECT client;
      GetClientRect(item, &client);
      EXPECT_LE(extent.cx, client.right) << ts::ToUtf8(text);
      EXPECT_LE(extent.cy, client.bottom) << ts::ToUtf8(text);
    }
    for (HWND a : items)
      for (HWND b : items) {
        RECT ra, rb, overlap;
        GetWindowRect(a, &ra);
        GetWindowRect(b, &rb);
        if (a != b) {
          EXPECT_FALSE(IntersectRect(&overlap, &ra, &rb)) << ts::ToUtf8(ts::WindowText(a));
        }
      }
    PostMessageW(items[3], BM_CLICK, 0, 0);
    ASSERT_TRUE(ts::WaitUntil([&] { return !IsWindow(dialog); }, 10000));
  }
}

TEST_F(DisplayScale, At150PercentThePicturesAreTheirOwnLargerImagesAndTheLabelsStayTransparent) {
  StartAt(144);
  // The host unit is drawn at its own size: every pixel of the 150 %
  // picture that is not its background is on the screen as it is.
  SIZE size = {};
  const std::vector<std::uint32_t> picture = AgentBitmap(L"IMG2_150", &size);
  ASSERT_FALSE(picture.empty());
  const RECT place = ScreenRectOf("img2");
  ASSERT_EQ(Width(place), size.cx);
  ASSERT_EQ(Height(place), size.cy);
  const std::uint32_t key = picture[(size.cy - 1) * size.cx];  // the bottom-left pixel
  std::vector<std::uint32_t> shown;
  std::size_t differing = 0, drawn = 0;
  ASSERT_TRUE(ts::WaitUntil(
      [&] {
        shown = ScreenPixels(place);
        differing = drawn = 0;
        for (std::size_t i = 0; i < picture.size() && i < shown.size(); ++i) {
          if (picture[i] == key) continue;
          ++drawn;
          if (shown[i] != picture[i]) ++differing;
        }
        return drawn > 0 && differing == 0;
      },
      10000))
      << differing << " of " << drawn << " pixels differ";
  // The arrows are stretched into their box: filtered, every pixel lies
  // between an arrow's colour and the white beneath, channel by channel,
  // the slanted edges part way. (Between the two counters, whose own text
  // is smoothed too.)
  RECT arrows = ScreenRectOf("img3");
  arrows.top = ScreenRectOf("lblSend").bottom;
  arrows.bottom = ScreenRectOf("lblRecv").top;
  std::size_t partial = 0, foreign = 0;
  for (std::uint32_t p : ScreenPixels(arrows)) {
    bool between = false, part = false;
    for (const std::uint32_t arrow : {0x2878D2u, 0x28AA5Au}) {
      bool inside = true;
      for (int shift : {16, 8, 0}) {
        const int shown = static_cast<int>(p >> shift & 0xFF), colour = static_cast<int>(arrow >> shift & 0xFF);
        inside = inside && shown >= colour - 4;
      }
      between = between || inside;
      part = part || (inside && static_cast<int>(p >> 16 & 0xFF) > 0x28 + 40 && (p & 0xFFFFFF) < 0xF0F0F0);
    }
    if (!between) ++foreign;
    if (part) ++partial;
  }
  EXPECT_EQ(foreign, 0u) << "pixels that are no blend of an arrow over white";
  EXPECT_GT(partial, 10u) << "the arrows' edges are not smoothed";
  // Over the arrows the counters show the arrows' colours around their text.
  const std::vector<std::uint32_t> overArrows = ScreenPixels(ScreenRectOf("lblSend"));
  std::size_t blue = 0;
  for (std::uint32_t p : overArrows)
    if (p == 0x2878D2) ++blue;  // the upper arrow
  EXPECT_GT(blue, 0u) << "the send counter covers the arrows";
}

TEST_F(DisplayScale, At150PercentTheReportBoxGrowsWithItsFontAndItsTextsFit) {
  HWND box = nullptr;
  ASSERT_NO_FATAL_FAILURE(RaiseIntoReportBoxAt(144, &box));
  ExpectReportBoxAt(box, 1.5);
  Continue(box);
}

TEST_F(DisplayScale, TheReportBoxMovedToAMonitorOfAnotherScaleTakesTheSuggestedRectangleAndGrows) {
  HWND box = nullptr;
  ASSERT_NO_FATAL_FAILURE(RaiseIntoReportBoxAt(96, &box));
  {
    SCOPED_TRACE("96 dpi");
    ExpectReportBoxAt(box, 1.0);
  }
  RECT before;
  GetWindowRect(box, &before);
  // Wider by the scale; no taller than the box lets itself be on this screen.
  const RECT suggested = {20, 10, 20 + Px(Width(before), 1.5), 10 + std::min(Px(Height(before), 1.5), 600)};
  ASSERT_NO_FATAL_FAILURE(SendDpiChange(box, 144, suggested));
  {
    SCOPED_TRACE("moved to 144 dpi");
    ExpectReportBoxAt(box, 1.5);
  }
  Continue(box);
}

TEST_F(DisplayScale, At150PercentTheSendAssistantsTextsFitItsTitleIncluded) {
  HWND box = nullptr;
  ASSERT_NO_FATAL_FAILURE(RaiseIntoReportBoxAt(144, &box));
  PostMessageW(GetDlgItem(box, kBoxSendId), BM_CLICK, 0, 0);
  const HWND assistant = WaitForVisible(L"QEXSendAssistant", 10000);
  ASSERT_NE(assistant, nullptr) << "no send assistant";
  // The contact page, complete once its title shows.
  ASSERT_TRUE(ts::WaitUntil([&] { return !ts::WindowText(GetDlgItem(assistant, 403)).empty(); }, 5000));
  const int fontHeight = Px(kBoxFontAt96, 1.5);
  const std::vector<HWND> children = VisibleChildren(assistant);
  EXPECT_GE(children.size(), 9u);  // title, five items, three buttons
  for (HWND child : children) {
    wchar_t windowClass[32] = {};
    GetClassNameW(child, windowClass, 32);
    if (lstrcmpiW(windowClass, L"Edit") == 0) continue;
    const bool title = GetDlgCtrlID(child) == 403;
    const bool checkBox = (GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX &&
                          lstrcmpiW(windowClass, L"Button") == 0;
    ExpectTextFits(child, L"Tahoma", fontHeight, checkBox ? Px(16, 1.5) : 0, title ? FW_BOLD : FW_NORMAL);
  }
  ExpectApart(children);
  PostMessageW(GetDlgItem(assistant, kAssistCancelId), BM_CLICK, 0, 0);
  ASSERT_TRUE(ts::WaitUntil([&] { return !IsWindow(assistant); }, 10000));
  Continue(box);
}

TEST_F(DisplayScale, At150PercentThePleaseWaitBoxGrowsAndItsTextFits) {
  DWORD dpi = 144;
  ASSERT_EQ(RegSetValueExA(desktop_.Get(), "LogPixels", 0, REG_DWORD, reinterpret_cast<BYTE*>(&dpi), 4),
            ERROR_SUCCESS);
  ts::ChildProcess target;
  ASSERT_TRUE(target.Start(ts::PathFromEnv("QEX_COLLECT_TARGET_EXE"), "wait"));
  const HWND box = WaitForVisible(L"QEXPleaseWait", 20000, target.Pid());
  ASSERT_NE(box, nullptr) << "no please-wait box";
  RECT client;
  GetClientRect(box, &client);
  // 300 x 100 at 96 dpi, frame included: scaled, less the frame at 144.
  EXPECT_LE(client.right, 450);
  EXPECT_GE(client.right, 450 - 30);
  EXPECT_LE(client.bottom, 150);
  EXPECT_GE(client.bottom, 150 - 60);
  // Its one text, drawn in the client area in 8 points of the dialog face.
  const SIZE extent = TextExtent(L"MS Shell Dlg", Px(kBoxFontAt96, 1.5), L"Please wait a moment...");
  EXPECT_LE(extent.cx, client.right);
  EXPECT_LE(extent.cy, client.bottom);
  target.Kill();
}

TEST_F(DisplayScale, At150PercentTheTrayGetsTheIconsOwn24PixelImage) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = &StandInTrayProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"Shell_TrayWnd";
  ASSERT_NE(RegisterClassW(&windowClass), 0);
  const ScopedWindow tray(CreateWindowExW(0, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                          GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(tray.IsValid());
  StartAt(144);
  ASSERT_TRUE(ts::WaitUntil([] { return !g_trayIcons.empty(); }, 10000)) << "the shell sent no icon";
  HWND trayWindow = nullptr;
  for (HWND w : ts::ProcessWindows(agent_.Pid(), L"QEXHiddenWindow"))
    if (ts::WindowText(w) == L"QEXTrayIconWindow") trayWindow = w;
  const TrayIconData& shown = g_trayIcons.front();
  EXPECT_EQ(shown.window, static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(trayWindow)));
  EXPECT_EQ(shown.callback, 0x0401u);
  EXPECT_EQ(shown.width, 24u);
  EXPECT_EQ(shown.height, 24u);

  // The image itself: the icon resource's 24-pixel one, not its 32-pixel
  // one made smaller.
  const ScopedModule program(LoadLibraryExA(ts::AgentPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(program.IsValid());
  const ScopedIcon own(static_cast<HICON>(LoadImageW(program.Get(), L"MAINICON", IMAGE_ICON, 24, 24, 0)));
  const ScopedIcon large(static_cast<HICON>(LoadImageW(program.Get(), L"MAINICON", IMAGE_ICON, 32, 32, 0)));
  const ScopedIcon shrunk(static_cast<HICON>(CopyImage(large.Get(), IMAGE_ICON, 24, 24, 0)));
  const std::vector<BYTE> ownBits = ColourBits(own.Get());
  ASSERT_FALSE(ownBits.empty());
  EXPECT_NE(ColourBits(shrunk.Get()), ownBits) << "the two images cannot be told apart";
  EXPECT_EQ(shown.colourBits, ownBits);
  // Only one icon: it never changes while the agent runs.
  ts::Pause(500);
  EXPECT_EQ(g_trayIcons.size(), 1u);
}

}  // namespace
