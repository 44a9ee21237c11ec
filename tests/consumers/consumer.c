// SPDX-License-Identifier: MIT
/* A program outside the tree: prints the camera make of the photo it is given. */
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <tolvane_exif_info.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  wchar_t path[4096];
  size_t i = 0;
  for (; argv[1][i] != '\0' && i + 1 < 4096; ++i) path[i] = (unsigned char)argv[1][i]; /* ASCII paths */
  path[i] = L'\0';
  const wchar_t* report = EXIFInfo(path, L"");
  const wchar_t* make = wcsstr(report, L"Camera Make: ");
  if (make == NULL) return 1;
  for (make += 13; *make != L'\r' && *make != L'\0'; ++make) putchar((int)*make);
  putchar('\n');
  return 0;
}
