#include "toolkit/Fonts.h"

#include "support/Registry.h"
#include "support/TextCodec.h"

namespace {

int CALLBACK FontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool FontExists(const std::wstring& face) {
  LOGFONTW lf = {};
  lf.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(lf.lfFaceName, face.c_str(), LF_FACESIZE);
  bool found = false;
  {
    ScopedWindowDc screen(nullptr);
    EnumFontFamiliesExW(screen.Get(), &lf, &FontFound, reinterpret_cast<LPARAM>(&found), 0);
  }
  if (found) return true;
  // A substitute entry counts as present too.
  return RegReadText(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes", face)
      .has_value();
}

}  // namespace

std::wstring ResolveFontFace(const std::string& face) {
  const std::wstring wide = WidenCp936(face);
  if (FontExists(wide)) return wide;
  if (wide == L"\x5FAE\x8F6F\x96C5\x9ED1" && FontExists(L"Microsoft YaHei")) return L"Microsoft YaHei";
  if (FontExists(L"SimSun")) return L"SimSun";
  return L"MS Shell Dlg 2";
}

ScopedFont CreateFontFor(const TFont& font) {
  const std::wstring face = ResolveFontFace(font.name);
  return ScopedFont(CreateFontW(-font.height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                face.c_str()));
}
