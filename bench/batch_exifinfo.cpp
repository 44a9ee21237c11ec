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
  std::wstring wide;
  for (const std::string& path : ReadList(argv[1])) {
    wide.assign(path.begin(), path.end());  // the workload's paths are ASCII
    const wchar_t* report = EXIFInfo(wide.c_str(), L"");
    // Sampled, as the floor samples what it reads: the length and every 16th character.
    const size_t length = std::wcslen(report);
    checksum += length;
    for (size_t i = 0; i < length; i += 16) checksum = checksum * 31 + static_cast<uint64_t>(report[i]);
  }
  std::printf("exifinfo checksum %llu\n", static_cast<unsigned long long>(checksum));
  return 0;
}
