// The screenshot: the whole screen copied into a DIB before the box shows,
// written as a palette PNG for the mail and as a bitmap file for the user's
// image editor.
#include <cstring>

#include "crash/box/BoxInternal.h"
#include "crash/mail/Png.h"

namespace {

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

}  // namespace

std::shared_ptr<Screenshot> CaptureScreen() {
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  if (width <= 0 || height <= 0) return nullptr;

  const ScopedWindowDc screen(nullptr);
  if (!screen) return nullptr;
  const ScopedMemoryDc memory(CreateCompatibleDC(screen.Get()));
  BITMAPINFO info = {};
  info.bmiHeader = TopDown32(width, height);
  void* bits = nullptr;
  ScopedGdiObject dib(CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  std::shared_ptr<Screenshot> shot;
  if (memory && dib && bits) {
    HGDIOBJ old = SelectObject(memory.Get(), dib.Get());
    if (BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), left, top, SRCCOPY | CAPTUREBLT)) {
      GdiFlush();
      shot = std::make_shared<Screenshot>();
      shot->width = width;
      shot->height = height;
      const auto* from = static_cast<const std::uint8_t*>(bits);
      shot->pixels.assign(from, from + static_cast<std::size_t>(width) * height * 4);
    }
    SelectObject(memory.Get(), old);
  }
  return shot;
}

bool WriteScreenshotFile(const Screenshot& shot, const std::wstring& path) {
  PixelView view;
  view.pixels = shot.pixels.data();
  view.width = static_cast<std::size_t>(shot.width);
  view.height = static_cast<std::size_t>(shot.height);
  view.stride = view.width * 4;
  view.format = PixelFormat::Bgra32;
  std::vector<std::uint8_t> png = WriteScreenshotPng(view);
  return !png.empty() && WriteWholeFile(path, png.data(), png.size());
}

bool SaveScreenshotBmp(const Screenshot& shot, const std::wstring& path) {
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

std::shared_ptr<Screenshot> LoadScreenshotBmp(const std::wstring& path) {
  // The editor may have saved any depth: let GDI read it and convert.
  ScopedGdiObject loaded(static_cast<HBITMAP>(
      LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION)));
  if (!loaded) return nullptr;
  BITMAP bm = {};
  if (!GetObjectW(loaded.Get(), sizeof bm, &bm) || bm.bmWidth <= 0 || bm.bmHeight <= 0) return nullptr;
  auto shot = std::make_shared<Screenshot>();
  shot->width = bm.bmWidth;
  shot->height = bm.bmHeight;
  shot->pixels.resize(static_cast<std::size_t>(bm.bmWidth) * bm.bmHeight * 4);
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
