/* SPDX-License-Identifier: MIT */
/* A program built against the 1.0 header (this folder's exifinfo.h, as released) runs unchanged
 * against the current library: the members it knows sit where they were, and the field table's
 * first 29 entries are the ones it knew. Usage: consumer_1_0 SAMPLE_JPEG */
#include <stdio.h>
#include <string.h>

#include "exifinfo.h"

int main(int argc, char** argv) {
  exifinfo_photo* photo = NULL;
  size_t i;
  if (argc != 2 || exifinfo_read_path(argv[1], &photo) != 0) return 2;
  if (!EXIFINFO_HAS(photo, report_wide_length) || photo->size < sizeof(exifinfo_photo)) return 3;
  if (strcmp(photo->CameraMake, "Tolvane Optics") != 0 || photo->ISOequivalent != 200 || photo->Width != 160) return 4;
  if (photo->report_length == 0 || strncmp(photo->report, "Version: 0230\r\n", 15) != 0) return 5;
  for (i = 0; i < 29; ++i) /* the 1.0 table, in place */
    if (exifinfo_field_name(i) == NULL || exifinfo_field_type(i) < 0 || exifinfo_field_type(i) > EXIFINFO_TYPE_FLOAT) return 6;
  if (exifinfo_field_offset(28) != offsetof(exifinfo_photo, Brightness)) return 7;
  printf("1.0 consumer: %s %s, ISO %d, thumbnail %lu bytes\n", photo->CameraMake, photo->CameraModel,
         (int)photo->ISOequivalent, (unsigned long)photo->thumbnail_size);
  exifinfo_free(photo);
  return 0;
}
