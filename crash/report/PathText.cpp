#include "crash/report/PathText.h"

namespace {

template <class Text>
Text LastPart(const Text& path, const typename Text::value_type* separators) {
  const std::size_t slash = path.find_last_of(separators);
  return slash == Text::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string FileNameOf(const std::string& path) { return LastPart(path, "\\/"); }

std::wstring FileNameOf(const std::wstring& path) { return LastPart(path, L"\\/"); }

std::string WithoutExtension(const std::string& name) {
  const std::size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}
