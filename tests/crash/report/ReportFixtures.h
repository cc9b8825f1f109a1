// Reports and files for the crash-report tests.
#pragma once

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "crash/report/FieldList.h"
#include "crash/report/HeaderFields.h"
#include "crash/report/ReportText.h"

struct ReportShape {
  std::string crc = "$1a2b3c4d, $5e6f7a8b, $9c0d1e2f";
  std::string exception_class = "EAccessViolation";
  std::string version = "1.0.0.0";
  std::string executable = "QEXJoystick.exe";
  std::string exec_time = "2024-05-06 07:08\r\n";
  int second = 9;            // makes otherwise equal reports distinguishable
  std::size_t filler = 0;    // bytes of an extra section, for size tests
};

inline Fields ReportHeader(const ReportShape& shape) {
  using namespace header_field;
  LocalTime t;
  t.year = 2024, t.month = 5, t.day = 6, t.hour = 10, t.minute = 11, t.second = shape.second, t.millisecond = 7;
  Fields header = {
      {kDateTime, FormatReportDateTime(t)},
      {kComputerName, "DESK-01"},
      {kUserName, FormatUserName("operator", true)},
      {kOperatingSystem, FormatOperatingSystem("Windows 10 (10.0)", 19045)},
      {kExecutable, shape.executable},
      {kExecDateTime, shape.exec_time},
      {kVersion, shape.version},
      {kExwatchVersion, kExwatchVersionText},
      {kCallstackCrc, shape.crc},
      {kExceptionNumber, "1"},
      {kExceptionClass, shape.exception_class},
      {kExceptionMessage, "Access violation at address 00401234"},
  };
  Fields cleaned;
  for (const Field& f : header)
    if (!f.second.empty()) cleaned.push_back(f);
  return cleaned;
}

inline std::string MakeReport(const ReportShape& shape = ReportShape()) {
  Fields sections = {{"main thread ($1f4)", "00401234 +34 QEXJoystick.exe frmMains.cpp 120 +4 TfrmMain::ClientRead\r\n"
                                            "00405678 +10 QEXJoystick.exe toolkit.cpp 33 +1 Dispatch"}};
  if (shape.filler > 0) {
    std::string filler;
    while (filler.size() < shape.filler) filler += "0123456789abcdef0123456789abcdef0123456789abcdef0123456789\r\n";
    filler.resize(shape.filler);
    sections.emplace_back("stack dump", filler);
  }
  return RenderReportText(ReportHeader(shape), sections);
}

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}
