// Reference splitting of a command line into arguments, written from the
// documented CommandLineToArgvW rules (including the run-of-quotes quirk), so
// that tests can check what a handler program will receive.
#pragma once

#include <string>
#include <vector>

inline std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> args;
  std::size_t i = 0;
  const std::size_t n = line.size();
  auto blank = [](char c) { return c == ' ' || c == '\t'; };

  std::string program;
  if (i < n && line[i] == '"') {
    ++i;
    while (i < n && line[i] != '"')
      program += line[i++];
    if (i < n)
      ++i;
  } else {
    while (i < n && !blank(line[i]))
      program += line[i++];
  }
  args.push_back(program);
  while (i < n && blank(line[i]))
    ++i;
  if (i >= n)
    return args;

  std::string current;
  int quotes = 0;
  std::size_t backslashes = 0;
  while (i < n) {
    const char c = line[i];
    if (blank(c) && quotes == 0) {
      args.push_back(current);
      current.clear();
      while (i < n && blank(line[i]))
        ++i;
      backslashes = 0;
      if (i >= n)
        return args;
    } else if (c == '\\') {
      current += c;
      ++backslashes;
      ++i;
    } else if (c == '"') {
      if (backslashes % 2 == 0) {
        current.erase(current.size() - backslashes / 2);
        ++quotes;
      } else {
        current.erase(current.size() - backslashes / 2 - 1);
        current += '"';
      }
      ++i;
      backslashes = 0;
      while (i < n && line[i] == '"') {
        if (++quotes == 3) {
          current += '"';
          quotes = 0;
        }
        ++i;
      }
      if (quotes == 2)
        quotes = 0;
    } else {
      current += c;
      backslashes = 0;
      ++i;
    }
  }
  args.push_back(current);
  return args;
}
