// SPDX-License-Identifier: MIT
// The tag ids the suites build, named once: IFD0, EXIF, GPS and structural tags.
#pragma once

#include <cstdint>

namespace testing_builders {

constexpr uint16_t kMake = 0x010F, kModel = 0x0110, kOrientation = 0x0112, kXRes = 0x011A, kYRes = 0x011B;
constexpr uint16_t kResUnit = 0x0128, kExposureTime = 0x829A, kFNumber = 0x829D, kProgram = 0x8822, kIso = 0x8827;
constexpr uint16_t kVersion = 0x9000, kDateTime = 0x9003, kCompressed = 0x9102, kShutter = 0x9201, kAperture = 0x9202;
constexpr uint16_t kBrightness = 0x9203, kBias = 0x9204, kMaxAperture = 0x9205, kDistance = 0x9206, kMetering = 0x9207;
constexpr uint16_t kLightSource = 0x9208, kFlash = 0x9209, kFocalLength = 0x920A, kUserComment = 0x9286;
constexpr uint16_t kFocalPlaneX = 0xA20E, kFocalPlaneY = 0xA20F, kFocalPlaneUnit = 0xA210;
// Structure: sub-directories and the thumbnail.
constexpr uint16_t kExifDir = 0x8769, kGpsDir = 0x8825, kInteropDir = 0xA005, kThumbOffset = 0x0201, kThumbLength = 0x0202;
constexpr uint16_t kPixelX = 0xA002, kPixelY = 0xA003;
// The values beyond the report.
constexpr uint16_t kSoftware = 0x0131, kModifyDate = 0x0132, kIsoSpeed = 0x8833, kOffsetTimeOriginal = 0x9011;
constexpr uint16_t kSubSecTimeOriginal = 0x9291, kFocal35 = 0xA405, kLensSpec = 0xA432, kLensModel = 0xA434;
// The GPS directory.
constexpr uint16_t kLatRef = 1, kLat = 2, kLonRef = 3, kLon = 4, kAltRef = 5, kAlt = 6, kTimeStamp = 7;
constexpr uint16_t kImgDirection = 0x11, kDateStamp = 0x1D;

}  // namespace testing_builders
