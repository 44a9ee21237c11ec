// The whole read: bytes -> scanner -> report, with the report's invariants checked.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <vector>

#include "report/photo_report.h"

namespace {

constexpr const wchar_t* kKeys[] = {
    L"Height", L"Width", L"Orientation", L"IsColor", L"Process", L"FlashUsed", L"FocalLength", L"ExposureTime",
    L"ApertureFNumber", L"Distance", L"CCDWidth", L"ExposureBias", L"Whitebalance", L"MeteringMode",
    L"ExposureProgram", L"ISOequivalent", L"CompressionLevel", L"FocalplaneXRes", L"FocalplaneYRes",
    L"FocalplaneUnits", L"Xresolution", L"Yresolution", L"ResolutionUnit", L"Brightness"};
constexpr const wchar_t* kLabels[] = {L"Version: ", L"Camera Make: ", L"CameraModel: ", L"DateTime: ", L"Comments: "};

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "report invariant broken: %s\n", what);
  std::abort();
}

// Six header lines, then the 24 keys in order, each line ended by CR LF. Texts from the file
// may hold CR LF themselves, so the numeric lines, which never do, are checked from the end.
void CheckShape(const wchar_t* report, size_t length, size_t capacity) {
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size heap copy: the first byte over is caught.
  std::vector<uint8_t> bytes(data, data + size);
  static wchar_t report[exifinfo::kReportCapacity], again[exifinfo::kReportCapacity];
  static wchar_t block[exifinfo::kDataBlockCapacity];
  const size_t length = exifinfo::ReportBytes(bytes.data(), bytes.size(), {report, exifinfo::kReportCapacity},
                                              {block, exifinfo::kDataBlockCapacity}, nullptr);
  CheckShape(report, length, exifinfo::kReportCapacity);
  // The same bytes through a file descriptor (buffered, sought over) give the same report.
  const int fd = memfd_create("fuzz_read", MFD_CLOEXEC);
  if (fd >= 0) {
    // Read from where the descriptor stands: its start.
    if (write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) && lseek(fd, 0, SEEK_SET) == 0) {
      exifinfo::ReportDescriptor(fd, {again, exifinfo::kReportCapacity}, {block, exifinfo::kDataBlockCapacity},
                                 nullptr);
      if (std::wcscmp(report, again) != 0) Broken("descriptor and memory reads differ");
    }
    close(fd);
  }
  const size_t second = exifinfo::ReportBytes(bytes.data(), bytes.size(), {again, exifinfo::kReportCapacity},
                                              {block, exifinfo::kDataBlockCapacity}, nullptr);
  if (second != length || std::wcscmp(report, again) != 0) Broken("same bytes, different report");
  return 0;
}
