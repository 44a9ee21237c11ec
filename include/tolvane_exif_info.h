// SPDX-License-Identifier: MIT
/* TolvaneEXIFInfo: a plain-text report of what a JPEG photograph says about itself. */
#ifndef TOLVANE_EXIF_INFO_H
#define TOLVANE_EXIF_INFO_H

#include <wchar.h>

#if defined(EXIFINFO_BUILDING_LIBRARY)
#define EXIFINFO_API __attribute__((visibility("default")))
#else
#define EXIFINFO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Reads the JPEG file at inputPath up to its start of scan and returns its report: five text
 * lines, "Data:", and 24 "Key=value" lines, every line ended by CR LF. When outputPath is not
 * empty the report is also written to that file as UTF-8 (created or replaced). Paths are
 * wide strings encoded to file names as UTF-8. A null path counts as one that cannot be opened
 * (input) or as the empty string (output). The call never fails: an unreadable or damaged file
 * gives the report of what could be read, zeros and empty texts for the rest.
 *
 * Ownership: the result is never null and always the same address, a buffer owned by the
 * library. It stays valid until the next call, which overwrites it; do not free it.
 * Not reentrant: calls must not overlap (the report buffer is shared by all calls).
 */
EXIFINFO_API const wchar_t* EXIFInfo(const wchar_t* inputPath, const wchar_t* outputPath);

#ifdef __cplusplus
}
#endif

#endif /* TOLVANE_EXIF_INFO_H */
