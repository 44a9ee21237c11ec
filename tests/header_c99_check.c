// SPDX-License-Identifier: MIT
/* The public headers are valid C99 on their own; header_cxx_check.cpp includes this as C++. */
#include "exifinfo.h"
#include "tolvane_exif_info.h"

int main(void) {
  const wchar_t* (*report)(const wchar_t*, const wchar_t*) = EXIFInfo;
  exifinfo_photo* photo = 0;
  const int status = exifinfo_read_memory("", 0, &photo);
  exifinfo_free(photo);
  (void)report;
  return status == 0 && exifinfo_field_count() > EXIFINFO_REPORT_FIELD_COUNT ? 0 : 1;
}
