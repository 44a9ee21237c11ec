// SPDX-License-Identifier: MIT
/* Prints the report of one JPEG file, and writes it to report.txt as well. */
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "tolvane_exif_info.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s PHOTO.jpg\n", argv[0]);
    return 2;
  }
  setlocale(LC_ALL, "C.UTF-8");  /* so that wide output prints as UTF-8 */
  wchar_t path[4096];
  if (mbstowcs(path, argv[1], 4096) == (size_t)-1) return 1;
  const wchar_t* report = EXIFInfo(path, L"report.txt");  /* owned by the library */
  fputws(report, stdout);
  return 0;
}
