// SPDX-License-Identifier: MIT
// The library's one export. Everything beneath it is reentrant; only this file knows the C ABI
// and the module-wide buffers.
#include "tolvane_exif_info.h"

#include <cstdio>

#include "report/photo_report.h"
#include "text/utf8.h"

namespace {

// Returned to the caller: the same address on every call, overwritten by the next one.
wchar_t ReportBuffer[exifinfo::kReportCapacity];
// The numeric lines before they join the report.
wchar_t DataBlockBuffer[exifinfo::kDataBlockCapacity];

// Longer than any path the kernel opens (PATH_MAX, 4096 bytes with the terminator).
constexpr size_t kPathBytes = 4097;

}  // namespace

extern "C" EXIFINFO_API const wchar_t* EXIFInfo(const wchar_t* inputPath, const wchar_t* outputPath) {
  // A path UTF-8 cannot carry cannot be opened. For the output that means what an empty or
  // null one means: the report is returned and no file is written.
  char input[kPathBytes], output[kPathBytes];
  const bool inputUsable = inputPath != nullptr && exifinfo::WideToUtf8(inputPath, input, sizeof input);
  const bool outputUsable = outputPath != nullptr && exifinfo::WideToUtf8(outputPath, output, sizeof output);
  exifinfo::ReportFile(inputUsable ? input : nullptr, outputUsable ? output : nullptr,
                       {ReportBuffer, exifinfo::kReportCapacity},
                       {DataBlockBuffer, exifinfo::kDataBlockCapacity}, stdout);
  return ReportBuffer;
}
