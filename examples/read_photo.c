// SPDX-License-Identifier: MIT
/* Prints a few typed values and the thumbnail size of each JPEG file named. */
#include <stdio.h>
#include <string.h>

#include <exifinfo.h>

int main(int argc, char** argv) {
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    exifinfo_photo* photo = NULL;
    const int error = exifinfo_read_path(argv[i], &photo); /* photo: ours until exifinfo_free */
    if (error != 0) {
      fprintf(stderr, "%s: %s\n", argv[i], strerror(error));
      status = 1;
      continue;
    }
    printf("%s: %s %s, %dx%d, ISO %d, %g s, thumbnail %zu bytes, %s\n", argv[i], photo->CameraMake,
           photo->CameraModel, photo->Width, photo->Height, photo->ISOequivalent, photo->ExposureTime,
           photo->thumbnail_size, exifinfo_ending_name(photo->ending));
    exifinfo_free(photo);
  }
  return status;
}
