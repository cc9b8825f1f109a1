// The agent at other display scales: the unmodified .exe under Wine with the
// prefix's dots per inch set through its registry ("LogPixels"), observed
// from outside through its windows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>

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

// The extent of a text in the window font of that character height (the
// agent's: its face from the description).
SIZE TextExtent(const std::wstring& face, int height, const std::wstring& text) {
  const ScopedFont font(CreateFontW(-height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                    OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                                    face.c_str()));
  SIZE extent = {0, 0};
  ScopedWindowDc screen(nullptr);
  const HGDIOBJ old = SelectObject(screen.Get(), font.Get());
  GetTextExtentPoint32W(screen.Get(), text.c_str(), static_cast<int>(text.size()), &extent);
  SelectObject(screen.Get(), old);
  return extent;
}

// The height of a control's text as the agent drew it on the screen: the
// rows that hold its dark grey pixels (the pictures beneath the
// transparent labels are coloured). 0 when none are there yet.
int InkHeight(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  const int width = Width(r), height = Height(r);
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
  if (!picture || !memory) return 0;
  const HGDIOBJ old = SelectObject(memory.Get(), picture.Get());
  BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), r.left, r.top, SRCCOPY);
  SelectObject(memory.Get(), old);
  const auto* pixels = static_cast<const std::uint32_t*>(bits);
  int first = -1, last = -1;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = pixels[y * width + x];
      const int blue = p & 0xFF, green = (p >> 8) & 0xFF, red = (p >> 16) & 0xFF;
      const bool grey = std::abs(red - green) < 24 && std::abs(green - blue) < 24 && red < 200;
      if (!grey) continue;
      if (first < 0) first = y;
      last = y;
    }
  return first < 0 ? 0 : last - first + 1;
}

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

  SIZE ClientSize() const {
    RECT r;
    GetClientRect(main_, &r);
    return SIZE{r.right, r.bottom};
  }

  // The ink height of each visible text of the agent's window, once drawn.
  std::map<std::string, int> InkHeights() {
    std::map<std::string, int> heights;
    for (const DesignControl& c : design_) {
      HWND control = Control(c);
      if (c.kind != "label" && c.kind != "speedbutton") continue;
      int height = 0;
      EXPECT_TRUE(ts::WaitUntil([&] { return (height = InkHeight(control)) > 0; }, 10000)) << c.name << " not drawn";
      heights[c.name] = height;
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

 private:
  ScopedRegKey desktop_;
  DWORD savedDpi_ = 96;
  bool hadDpi_ = false;
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
  // What a move to a monitor at 150 % brings: the new dpi and, in the
  // agent's memory, the rectangle the platform suggests.
  const RECT suggested = {40, 30, 40 + 760, 30 + 330};
  void* remote = VirtualAllocEx(agent_.Handle(), nullptr, sizeof suggested, MEM_COMMIT, PAGE_READWRITE);
  ASSERT_NE(remote, nullptr);
  ASSERT_TRUE(WriteProcessMemory(agent_.Handle(), remote, &suggested, sizeof suggested, nullptr));
  DWORD_PTR result = 0;
  ASSERT_TRUE(SendMessageTimeoutW(main_, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(remote),
                                  SMTO_ABORTIFHUNG, ts::Scaled(10000), &result));
  RECT now;
  GetWindowRect(main_, &now);
  EXPECT_EQ(now.left, suggested.left);
  EXPECT_EQ(now.top, suggested.top);
  EXPECT_EQ(now.right, suggested.right);
  EXPECT_EQ(now.bottom, suggested.bottom);
  // Drawn anew at the new scale.
  ts::Pause(500);
  ExpectLayoutAt(1.5, inkAt96);
  VirtualFreeEx(agent_.Handle(), remote, 0, MEM_RELEASE);
}

}  // namespace
