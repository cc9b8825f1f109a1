// The screenshot: the whole screen copied into a DIB before the box shows,
// written as a palette PNG for the mail and as a bitmap file for the user's
// image editor.
#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "crash/box/BoxInternal.h"
#include "crash/mail/Png.h"

namespace {

// Rows of the screen copied per step.
constexpr std::size_t kBandBytes = 1 << 20;
// An edited screenshot larger than this is refused (64 M pixels: far more
// than any screen it was taken from).
constexpr std::uint64_t kMaxEditedBytes = std::uint64_t(256) << 20;

// Bytes of 32-bit pixels of a width x height image, computed in 64 bits:
// false when there is none or it does not fit the address space.
bool PixelBytes(std::int64_t width, std::int64_t height, std::size_t* bytes) {
  if (width <= 0 || height <= 0 || width > 0x7fffffff || height > 0x7fffffff) return false;
  const std::uint64_t total = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 4;
  if (total / 4 / static_cast<std::uint64_t>(width) != static_cast<std::uint64_t>(height) ||
      total > std::numeric_limits<std::size_t>::max())
    return false;
  *bytes = static_cast<std::size_t>(total);
  return true;
}

// A screenshot of that size with room for its pixels, or null when the
// address space has none left: the report then goes without it.
std::shared_ptr<Screenshot> AllocateScreenshot(int width, int height, std::size_t bytes) {
  std::shared_ptr<Screenshot> shot;
  try {
    shot = std::make_shared<Screenshot>();
    shot->pixels.resize(bytes);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  shot->width = width;
  shot->height = height;
  return shot;
}

bool EditedSizeAccepted(std::int64_t width, std::int64_t height, std::size_t* bytes) {
  return PixelBytes(width, height, bytes) && *bytes <= kMaxEditedBytes;
}

// The size an image file declares, read before the platform loads it, so
// that a refused file costs a header read at each check and not a load.
bool DeclaredSizeAccepted(const std::wstring& path) {
  ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr));
  if (!file) return false;
  unsigned char head[sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)] = {};
  DWORD read = 0;
  if (!ReadFile(file.Get(), head, sizeof head, &read, nullptr) || read < sizeof(BITMAPFILEHEADER) + 12) return false;
  DWORD headerSize = 0;
  std::memcpy(&headerSize, head + sizeof(BITMAPFILEHEADER), sizeof headerSize);
  std::int64_t width = 0, height = 0;
  if (headerSize == sizeof(BITMAPCOREHEADER)) {
    BITMAPCOREHEADER core;
    std::memcpy(&core, head + sizeof(BITMAPFILEHEADER), sizeof core);
    width = core.bcWidth;
    height = core.bcHeight;
  } else {
    if (read < sizeof head) return false;
    BITMAPINFOHEADER info;
    std::memcpy(&info, head + sizeof(BITMAPFILEHEADER), sizeof info);
    width = info.biWidth;
    height = info.biHeight < 0 ? -static_cast<std::int64_t>(info.biHeight) : info.biHeight;
  }
  std::size_t bytes = 0;
  return EditedSizeAccepted(width, height, &bytes);
}

BITMAPINFOHEADER TopDown32(int width, int height) {
  BITMAPINFOHEADER h = {};
  h.biSize = sizeof h;
  h.biWidth = width;
  h.biHeight = -height;  // top-down rows
  h.biPlanes = 1;
  h.biBitCount = 32;
  h.biCompression = BI_RGB;
  return h;
}

bool WriteWholeFile(const std::wstring& path, const void* data, std::size_t size) {
  ScopedFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

bool WritePngFile(const Screenshot& shot, const std::wstring& path) {
  PixelView view;
  view.pixels = shot.pixels.data();
  view.width = static_cast<std::size_t>(shot.width);
  view.height = static_cast<std::size_t>(shot.height);
  view.stride = view.width * 4;
  view.format = PixelFormat::Bgra32;
  std::vector<std::uint8_t> png = WriteScreenshotPng(view);
  return !png.empty() && WriteWholeFile(path, png.data(), png.size());
}

bool WriteBmpFile(const Screenshot& shot, const std::wstring& path) {
  // 24-bit bottom-up rows: what every image editor opens.
  const std::size_t stride = (static_cast<std::size_t>(shot.width) * 3 + 3) & ~std::size_t(3);
  const std::size_t imageSize = stride * shot.height;
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = shot.width;
  header.biHeight = shot.height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<DWORD>(imageSize);
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + imageSize);
  std::vector<std::uint8_t> bytes(file.bfSize, 0);
  std::memcpy(bytes.data(), &file, sizeof file);
  std::memcpy(bytes.data() + sizeof file, &header, sizeof header);
  for (int y = 0; y < shot.height; ++y) {
    const std::uint8_t* from = &shot.pixels[static_cast<std::size_t>(shot.height - 1 - y) * shot.width * 4];
    std::uint8_t* to = bytes.data() + file.bfOffBits + y * stride;
    for (int x = 0; x < shot.width; ++x) {
      to[x * 3] = from[x * 4];
      to[x * 3 + 1] = from[x * 4 + 1];
      to[x * 3 + 2] = from[x * 4 + 2];
    }
  }
  return WriteWholeFile(path, bytes.data(), bytes.size());
}

}  // namespace

std::shared_ptr<Screenshot> CaptureScreen() {
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  std::size_t bytes = 0;
  if (!PixelBytes(width, height, &bytes)) return nullptr;

  // The pixels are the one full copy: the screen comes through a DIB of a
  // band of rows at a time. A screen too large for the address space left
  // (several 4K screens on the 32-bit build) gives a report without a
  // screenshot, never no report.
  std::shared_ptr<Screenshot> shot = AllocateScreenshot(width, height, bytes);
  if (!shot) return nullptr;

  const ScopedWindowDc screen(nullptr);
  if (!screen) return nullptr;
  const ScopedMemoryDc memory(CreateCompatibleDC(screen.Get()));
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
  const int bandRows = static_cast<int>(std::max<std::size_t>(1, std::min<std::size_t>(height, kBandBytes / rowBytes)));
  BITMAPINFO info = {};
  info.bmiHeader = TopDown32(width, bandRows);
  void* bits = nullptr;
  ScopedGdiObject dib(CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!memory || !dib || !bits) return nullptr;
  HGDIOBJ old = SelectObject(memory.Get(), dib.Get());
  bool copied = true;
  for (int y = 0; copied && y < height; y += bandRows) {
    const int rows = std::min(bandRows, height - y);
    copied = BitBlt(memory.Get(), 0, 0, width, rows, screen.Get(), left, top + y, SRCCOPY | CAPTUREBLT) != FALSE;
    if (!copied) break;
    GdiFlush();
    std::memcpy(&shot->pixels[static_cast<std::size_t>(y) * rowBytes], bits, static_cast<std::size_t>(rows) * rowBytes);
  }
  SelectObject(memory.Get(), old);
  return copied ? shot : nullptr;
}

bool WriteScreenshotFile(const Screenshot& shot, const std::wstring& path) {
  try {
    return WritePngFile(shot, path);
  } catch (const std::bad_alloc&) {
    return false;  // the mail goes without it
  }
}

bool SaveScreenshotBmp(const Screenshot& shot, const std::wstring& path) {
  try {
    return WriteBmpFile(shot, path);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::shared_ptr<Screenshot> LoadScreenshotBmp(const std::wstring& path) {
  // The editor may have saved any size and depth. A size whose pixels do
  // not fit (40000 x 30000 overflows 32 bits on the 32-bit build) or that
  // no screen has is refused before and after the platform reads it.
  if (!DeclaredSizeAccepted(path)) return nullptr;
  ScopedGdiObject loaded(static_cast<HBITMAP>(
      LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION)));
  if (!loaded) return nullptr;
  BITMAP bm = {};
  std::size_t bytes = 0;
  if (!GetObjectW(loaded.Get(), sizeof bm, &bm) || !EditedSizeAccepted(bm.bmWidth, bm.bmHeight, &bytes)) return nullptr;
  std::shared_ptr<Screenshot> shot = AllocateScreenshot(bm.bmWidth, bm.bmHeight, bytes);
  if (!shot) return nullptr;
  // GetDIBits converts to the 32-bit top-down rows of `info`, filling
  // exactly `bytes`.
  BITMAPINFO info = {};
  info.bmiHeader = TopDown32(bm.bmWidth, bm.bmHeight);
  const ScopedWindowDc screen(nullptr);
  const int rows = GetDIBits(screen.Get(), static_cast<HBITMAP>(loaded.Get()), 0, bm.bmHeight, shot->pixels.data(),
                             &info, DIB_RGB_COLORS);
  if (rows != bm.bmHeight) return nullptr;
  return shot;
}

HBITMAP ScreenshotBitmap(const Screenshot& shot) {
  BITMAPINFO info = {};
  info.bmiHeader = TopDown32(shot.width, shot.height);
  const ScopedWindowDc screen(nullptr);
  return CreateDIBitmap(screen.Get(), &info.bmiHeader, CBM_INIT, shot.pixels.data(), &info, DIB_RGB_COLORS);
}
