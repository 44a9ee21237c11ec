// SPDX-License-Identifier: MIT
// The report's invariants, checked by every fuzz target that builds a report.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace fuzz_checks {

constexpr const wchar_t* kKeys[] = {
    L"Height", L"Width", L"Orientation", L"IsColor", L"Process", L"FlashUsed", L"FocalLength", L"ExposureTime",
    L"ApertureFNumber", L"Distance", L"CCDWidth", L"ExposureBias", L"Whitebalance", L"MeteringMode",
    L"ExposureProgram", L"ISOequivalent", L"CompressionLevel", L"FocalplaneXRes", L"FocalplaneYRes",
    L"FocalplaneUnits", L"Xresolution", L"Yresolution", L"ResolutionUnit", L"Brightness"};
constexpr const wchar_t* kLabels[] = {L"Version: ", L"Camera Make: ", L"CameraModel: ", L"DateTime: ", L"Comments: "};

[[noreturn]] inline void Broken(const char* what) {
  std::fprintf(stderr, "report invariant broken: %s\n", what);
  std::abort();
}

// Six header lines, then the 24 keys in order, each line ended by CR LF. Texts from the file
// may hold CR LF themselves, so the numeric lines, which never do, are checked from the end.
inline void CheckShape(const wchar_t* report, size_t length, size_t capacity) {
  if (length >= capacity || report[length] != L'\0' || std::wcslen(report) != length) Broken("termination");
  const wchar_t* at = report;
  for (const wchar_t* label : kLabels) {
    at = std::wcsstr(at, label);
    if (at == nullptr) Broken("text label");
    at += std::wcslen(label);
  }
  if (length < 2 || report[length - 2] != L'\r' || report[length - 1] != L'\n') Broken("final line end");
  size_t lineEnd = length - 2;  // the CR LF ending the line being checked
  for (size_t k = std::size(kKeys); k-- > 0;) {
    size_t lineStart = lineEnd;
    while (lineStart >= 2 && !(report[lineStart - 2] == L'\r' && report[lineStart - 1] == L'\n')) --lineStart;
    const size_t n = std::wcslen(kKeys[k]);
    if (lineStart < 2 || lineEnd - lineStart < n + 2 || std::wcsncmp(report + lineStart, kKeys[k], n) != 0 ||
        report[lineStart + n] != L'=')
      Broken("key line");
    for (size_t i = lineStart + n + 1; i < lineEnd; ++i)
      if (std::wcschr(L"0123456789.-inf", report[i]) == nullptr) Broken("value character");
    lineEnd = lineStart - 2;
  }
  if (lineEnd < 5 || std::wcsncmp(report + lineEnd - 5, L"Data:", 5) != 0) Broken("Data:");
  if (report + lineEnd - 5 < at) Broken("Data: before the comment label");
}

}  // namespace fuzz_checks
