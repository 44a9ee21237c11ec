// SPDX-License-Identifier: MIT
/* A host whose standard output is wide-oriented (HOST=wide) or byte-oriented (HOST=byte)
 * prints a line, then the report of the file named; the reader's diagnostic line lands
 * between the two, and the host's own output is all there. */
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "tolvane_exif_info.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  setlocale(LC_ALL, "C.UTF-8");
  wchar_t path[4096];
  if (mbstowcs(path, argv[2], 4096) == (size_t)-1) return 2;
  const int wide = strcmp(argv[1], "wide") == 0;
  if (wide) {
    fputws(L"before\n", stdout);
  } else {
    fputs("before\n", stdout);
  }
  const wchar_t* report = EXIFInfo(path, L"");
  if (wide) {
    fputws(report, stdout);
  } else {
    fprintf(stdout, "%ls", report);
  }
  return fflush(stdout) == 0 ? 0 : 1;
}
