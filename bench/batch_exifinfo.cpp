// SPDX-License-Identifier: MIT
// The library as a host calls it: EXIFInfo once per path of the list.
// Usage: bench_exifinfo LIST   (prints a checksum of the reports)
#include <cstdint>
#include <cstdio>
#include <cwchar>

#include "file_list.h"
#include "tolvane_exif_info.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  uint64_t checksum = 0;
  wchar_t wide[4096];
  for (const std::string& path : ReadList(argv[1])) {
    if (path.size() >= 4096) continue;
    for (size_t i = 0; i <= path.size(); ++i) wide[i] = static_cast<unsigned char>(path[i]);  // ASCII paths
    const wchar_t* report = EXIFInfo(wide, L"");
    // Sampled, as the floor samples what it reads: the length and every 16th character.
    const size_t length = std::wcslen(report);
    checksum += length;
    for (size_t i = 0; i < length; i += 16) checksum = checksum * 31 + static_cast<uint64_t>(report[i]);
  }
  std::printf("exifinfo checksum %llu\n", static_cast<unsigned long long>(checksum));
  return 0;
}
