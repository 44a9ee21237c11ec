// SPDX-License-Identifier: MIT
// The record of everything read from one picture, and one slot of the reader's section table.
#pragma once

#include <cstdint>

namespace exifinfo {

constexpr int kVersionBytes = 5;
constexpr int kCameraMakeBytes = 32;
constexpr int kCameraModelBytes = 40;
constexpr int kDateTimeBytes = 20;
constexpr int kCommentsBytes = 1000;

// All-zero bytes are the "nothing found" state of every field: empty texts, zero numbers.
struct ImageInfo {
  char Version[kVersionBytes];          // EXIF version, at most 4 characters
  char CameraMake[kCameraMakeBytes];    // at most 31 characters
  char CameraModel[kCameraModelBytes];  // at most 39 characters
  char DateTime[kDateTimeBytes];        // capture time, at most 19 characters
  int32_t Height;                       // frame height in pixels
  int32_t Width;                        // frame width in pixels
  int32_t Orientation;                  // 1..8, or 0 when absent or out of range
  int32_t IsColor;                      // 1 when the frame has 3 components
  int32_t Process;                      // the start-of-frame marker code
  int32_t FlashUsed;                    // 1 when any of the flash value's three low bits is set
  float FocalLength;
  float ExposureTime;     // seconds
  float ApertureFNumber;  // f-number
  float Distance;         // subject distance
  float CCDWidth;         // sensor width in inches, from the focal-plane data
  float ExposureBias;
  int32_t Whitebalance;      // light-source code
  int32_t MeteringMode;
  int32_t ExposureProgram;
  int32_t ISOequivalent;
  int32_t CompressionLevel;  // compressed bits per pixel, truncated
  float FocalplaneXRes;
  float FocalplaneYRes;
  float FocalplaneUnits;  // inches per focal-plane resolution unit
  float Xresolution;
  float Yresolution;
  float ResolutionUnit;   // inches per resolution unit
  float Brightness;
  char Comments[kCommentsBytes];  // up to 998 characters of a comment section, or 199 of the user comment
  // Start of the embedded thumbnail inside the EXIF section copy (valid while the reader lives).
  const uint8_t* ThumbnailStart;
  uint32_t ThumbnailLength;  // bytes, 0 when there is none
  bool HasExif;              // the last EXIF section passed its checks and its first directory walked
};

// One slot of the section table. Bytes holds exactly Length bytes: the two length bytes (which
// the length counts) followed by the contents; the marker bytes are not held. They are a heap
// copy, or (Lent) the bytes where they lie in the stream's buffer, which outlives the reader.
struct JpegSection {
  uint8_t* Bytes;
  int Marker;
  int Length;
  bool Lent;
};

}  // namespace exifinfo
