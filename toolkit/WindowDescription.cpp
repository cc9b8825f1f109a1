#include "toolkit/WindowDescription.h"

#include <cctype>

namespace {

constexpr int kMaxDepth = 16;

bool IsIdentChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-' ||
         static_cast<unsigned char>(c) >= 0x80;
}

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  DescItem ParseAll() {
    std::vector<DescItem*> open;
    DescItem root;
    bool haveRoot = false;
    while (NextLine()) {
      const std::string& l = line_;
      if (l == "}") {
        if (open.empty()) Fail("'}' without an open item");
        open.pop_back();
        continue;
      }
      if (l.size() >= 1 && l.back() == '{') {
        DescItem item = ParseHeader(l.substr(0, l.size() - 1));
        if (open.empty()) {
          if (haveRoot) Fail("more than one top-level item");
          root = std::move(item);
          haveRoot = true;
          open.push_back(&root);
        } else {
          if (static_cast<int>(open.size()) >= kMaxDepth) Fail("items nested too deeply");
          open.back()->children.push_back(std::move(item));
          open.push_back(&open.back()->children.back());
        }
        continue;
      }
      if (open.empty()) Fail("property outside an item");
      open.back()->properties.push_back(ParseProperty(l));
    }
    if (!haveRoot) Fail("no item");
    if (!open.empty()) Fail("item not closed");
    return root;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw DescriptionError("line " + std::to_string(lineNumber_) + ": " + what);
  }

  // Next non-empty, non-comment line, trimmed.
  bool NextLine() {
    while (pos_ < text_.size()) {
      std::size_t end = text_.find('\n', pos_);
      if (end == std::string::npos) end = text_.size();
      std::string l = text_.substr(pos_, end - pos_);
      pos_ = end + 1;
      ++lineNumber_;
      std::size_t b = 0, e = l.size();
      while (b < e && std::isspace(static_cast<unsigned char>(l[b]))) ++b;
      while (e > b && std::isspace(static_cast<unsigned char>(l[e - 1]))) --e;
      l = l.substr(b, e - b);
      if (l.empty() || l[0] == '#') continue;
      line_ = l;
      return true;
    }
    return false;
  }

  std::vector<std::string> Words(const std::string& s) const {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < s.size()) {
      while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
      std::size_t start = i;
      while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i]))) ++i;
      if (i > start) words.push_back(s.substr(start, i - start));
    }
    return words;
  }

  DescItem ParseHeader(const std::string& header) {
    const std::vector<std::string> words = Words(header);
    if (words.size() < 2 || words.size() > 3) Fail("expected '<kind> <name> [<class>] {'");
    for (const std::string& w : words)
      for (char c : w)
        if (!IsIdentChar(c)) Fail("bad character in item header");
    DescItem item;
    item.kind = words[0];
    item.name = words[1];
    if (words.size() == 3) item.className = words[2];
    return item;
  }

  DescProperty ParseProperty(const std::string& l) {
    const std::size_t eq = l.find('=');
    if (eq == std::string::npos) Fail("expected '<Property> = <value>'");
    DescProperty property;
    property.line = lineNumber_;
    std::string key = l.substr(0, eq);
    while (!key.empty() && std::isspace(static_cast<unsigned char>(key.back()))) key.pop_back();
    if (key.empty()) Fail("empty property name");
    for (char c : key)
      if (!IsIdentChar(c)) Fail("bad character in property name");
    property.key = key;

    const std::string& v = l;
    std::size_t i = eq + 1;
    for (;;) {
      while (i < v.size() && std::isspace(static_cast<unsigned char>(v[i]))) ++i;
      if (i >= v.size()) Fail("missing value");
      property.values.push_back(ParseValue(v, i));
      while (i < v.size() && std::isspace(static_cast<unsigned char>(v[i]))) ++i;
      if (i >= v.size()) break;
      if (v[i] != ',') Fail("expected ',' between values");
      ++i;
    }
    return property;
  }

  DescValue ParseValue(const std::string& v, std::size_t& i) {
    DescValue value;
    if (v[i] == '"') {
      value.kind = DescValue::Text;
      ++i;
      for (;;) {
        if (i >= v.size()) Fail("text not closed");
        char c = v[i++];
        if (c == '"') break;
        if (c == '\\') {
          if (i >= v.size()) Fail("text not closed");
          c = v[i++];
          if (c != '"' && c != '\\') Fail("unknown escape");
        }
        value.text.push_back(c);
      }
      return value;
    }
    if (v[i] == '#') {
      ++i;
      std::size_t start = i;
      while (i < v.size() && std::isxdigit(static_cast<unsigned char>(v[i]))) ++i;
      if (i - start != 6) Fail("colour must be #RRGGBB");
      value.kind = DescValue::Color;
      value.text = v.substr(start, 6);
      value.number = std::stoll(value.text, nullptr, 16);
      return value;
    }
    if (v[i] == '-' || std::isdigit(static_cast<unsigned char>(v[i]))) {
      std::size_t start = i;
      if (v[i] == '-') ++i;
      std::size_t digits = i;
      while (i < v.size() && std::isdigit(static_cast<unsigned char>(v[i]))) ++i;
      if (i == digits || i - digits > 9) Fail("bad number");
      value.kind = DescValue::Integer;
      value.text = v.substr(start, i - start);
      value.number = std::stoll(value.text);
      return value;
    }
    std::size_t start = i;
    while (i < v.size() && IsIdentChar(v[i])) ++i;
    if (i == start) Fail("bad value");
    value.kind = DescValue::Identifier;
    value.text = v.substr(start, i - start);
    return value;
  }

  const std::string& text_;
  std::size_t pos_ = 0;
  int lineNumber_ = 0;
  std::string line_;
};

}  // namespace

const DescProperty* DescItem::Find(const std::string& key) const {
  for (const DescProperty& p : properties)
    if (p.key == key) return &p;
  return nullptr;
}

DescItem ParseWindowDescription(const std::string& text) { return Parser(text).ParseAll(); }
