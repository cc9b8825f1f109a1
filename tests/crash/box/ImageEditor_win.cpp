// A stand-in for the user's image editor behind the ".bmp" edit verb:
// notes the file it was given in QEX_EDIT_LOG, then "edits" it by saving a
// 64x48 picture of one colour (red 0x12, green 0x34, blue 0x56) over it.
// With QEX_EDIT_HUGE set it saves a 40000 x 30000 picture of 1 bit per
// pixel instead (150 MB, written as a sparse file: only its header is data).
#include <cstdint>
#include <cstdio>
#include <vector>

#include "support/Win32.h"

namespace {

int WriteHuge(const wchar_t* path) {
  const LONG width = 40000, height = 30000;
  const DWORD stride = ((width + 31) / 32) * 4;
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 1;
  info.biCompression = BI_RGB;
  info.biSizeImage = stride * height;
  const RGBQUAD palette[2] = {{0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0}};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info + sizeof palette;
  file.bfSize = file.bfOffBits + info.biSizeImage;
  HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  bool ok = WriteFile(out, &file, sizeof file, &written, nullptr) && WriteFile(out, &info, sizeof info, &written, nullptr) &&
            WriteFile(out, palette, sizeof palette, &written, nullptr);
  LARGE_INTEGER end = {};
  end.QuadPart = file.bfSize;
  ok = ok && SetFilePointerEx(out, end, nullptr, FILE_BEGIN) && SetEndOfFile(out);
  CloseHandle(out);
  return ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  wchar_t log[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"QEX_EDIT_LOG", log, MAX_PATH)) {
    if (FILE* out = _wfopen(log, L"ab")) {
      std::fprintf(out, "edit=%ls\n", argv[1]);
      std::fclose(out);
    }
  }
  if (GetEnvironmentVariableW(L"QEX_EDIT_HUGE", nullptr, 0)) return WriteHuge(argv[1]);
  const int width = 64, height = 48, stride = width * 3;
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + stride * height;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(stride) * height);
  for (std::size_t i = 0; i < pixels.size(); i += 3) {
    pixels[i] = 0x56;
    pixels[i + 1] = 0x34;
    pixels[i + 2] = 0x12;
  }
  FILE* out = _wfopen(argv[1], L"wb");
  if (!out) return 1;
  std::fwrite(&file, sizeof file, 1, out);
  std::fwrite(&info, sizeof info, 1, out);
  std::fwrite(pixels.data(), 1, pixels.size(), out);
  std::fclose(out);
  return 0;
}
