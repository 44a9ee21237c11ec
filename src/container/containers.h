// SPDX-License-Identifier: MIT
// The photo containers known by their first bytes, and the walks that find each one's EXIF
// block and frame values. A JPEG is read by the section scanner; every other container is
// walked here through a RangeReader and its EXIF block handed to the same walker.
#pragma once

#include <cstdint>

#include "io/range_reader.h"
#include "exif/exif_reader.h"

namespace exifinfo {

// The public numbering: values are only ever added.
enum class Container : int32_t {
  kUnknown = 0,  // in no container this library knows
  kJpeg = 1,
  kTiff = 2,  // classic and BigTIFF, and the raw files built on TIFF (DNG, NEF, CR2, ARW, ORF, RW2, PEF)
  kHeif = 3,  // ISO base media with a HEIF brand (HEIC and the like)
  kAvif = 4,  // ISO base media with an AVIF brand
  kPng = 5,
  kWebp = 6,
  kRaf = 7,  // Fujifilm raw: an embedded JPEG, read as one
  kCr3 = 8,  // Canon raw on ISO base media
  kJxl = 9,  // JPEG XL in its box container
  kMp4 = 10,  // MPEG-4 video, M4V, 3GP and 3G2
  kMov = 11,  // QuickTime movie
  kXmp = 12,  // an XMP packet on its own: a sidecar file
  kMrw = 13,  // Minolta raw: a TIFF block among the blocks of its header
};
constexpr int kContainerCount = 14;

// The bytes a look at the start needs: enough for an ftyp box with a few dozen brands.
constexpr size_t kIdentifyBytes = 256;

// The container `head` (the input's first bytes, at most kIdentifyBytes looked at) starts.
Container IdentifyContainer(ByteView head);

// Reads the metadata of a container other than JPEG and RAF into `reader`: the EXIF block
// through the walker, the frame values from the container's header, and the ending
// (kEndOfMetadata, kPrematureEnd, kDamaged, kReadError or kOutOfMemory).
// A video's: its own dates, length, frame and camera from the movie box, never its media.
inline bool IsMovie(Container container) { return container == Container::kMp4 || container == Container::kMov; }

void ReadContainer(Container container, RangeReader& source, ExifReader& reader);

// RAF: the embedded JPEG's place. False, with `ending` set, when the header does not give one
// inside the input.
bool FindRafJpeg(RangeReader& source, uint64_t& offset, uint64_t& length, ScanEnding& ending);
// A RAF's image size from its own directory (the raw image's, cropped as the camera shows it):
// the record's ImageWidth and ImageHeight, where the embedded JPEG gives only a preview's.
void ReadRafSize(RangeReader& source, ExifReader& reader);

}  // namespace exifinfo
