// SPDX-License-Identifier: MIT
// The C API as a binding calls it: exifinfo_read_path, then exifinfo_free, once per path.
// Usage: bench_api LIST   (prints a checksum of the values read)
#include <cstdint>
#include <cstdio>

#include "exifinfo.h"
#include "file_list.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  uint64_t checksum = 0;
  for (const std::string& path : ReadList(argv[1])) {
    exifinfo_photo* photo = nullptr;
    if (exifinfo_read_path(path.c_str(), &photo) != 0) continue;
    checksum = checksum * 31 + static_cast<uint64_t>(photo->ISOequivalent) + photo->report_length +
               photo->thumbnail_size;
    exifinfo_free(photo);
  }
  std::printf("api checksum %llu\n", static_cast<unsigned long long>(checksum));
  return 0;
}
