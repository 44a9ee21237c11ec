// SPDX-License-Identifier: MIT
// The tag numbers the walkers know, listed once: those of IFD0, IFD1 and the EXIF directory (one
// numbering), and the GPS directory's own. Names are the conventional ones.
#pragma once

#include <cstdint>

namespace exifinfo {

enum Tag : uint16_t {
  // The structure: links, the thumbnail, the frame a whole TIFF file gives.
  kTagImageWidth = 0x0100,
  kTagImageLength = 0x0101,
  kTagPhotometric = 0x0106,
  kTagSamplesPerPixel = 0x0115,
  kTagSubIfds = 0x014A,
  kTagThumbnailOffset = 0x0201,
  kTagThumbnailLength = 0x0202,
  kTagExifDirectory = 0x8769,
  kTagGpsDirectory = 0x8825,
  kTagInteropDirectory = 0xA005,
  // A Panasonic raw file's IFD0: the sensor's image area (top, left, bottom, right), and the
  // embedded JPEG.
  kTagSensorTopBorder = 0x0004,
  kTagSensorRightBorder = 0x0007,
  kTagJpgFromRaw = 0x002E,
  // Values.
  kTagImageDescription = 0x010E,
  kTagMake = 0x010F,
  kTagModel = 0x0110,
  kTagOrientation = 0x0112,
  kTagXResolution = 0x011A,
  kTagYResolution = 0x011B,
  kTagResolutionUnit = 0x0128,
  kTagSoftware = 0x0131,
  kTagModifyDate = 0x0132,
  kTagArtist = 0x013B,
  kTagCopyright = 0x8298,
  kTagExposureTime = 0x829A,
  kTagFNumber = 0x829D,
  kTagExposureProgram = 0x8822,
  kTagIsoSpeedRatings = 0x8827,
  kTagIsoSpeed = 0x8833,
  kTagExifVersion = 0x9000,
  kTagDateTimeOriginal = 0x9003,
  kTagCreateDate = 0x9004,
  kTagOffsetTime = 0x9010,
  kTagOffsetTimeOriginal = 0x9011,
  kTagOffsetTimeDigitized = 0x9012,
  kTagCompressedBitsPerPixel = 0x9102,
  kTagShutterSpeedValue = 0x9201,
  kTagApertureValue = 0x9202,
  kTagBrightnessValue = 0x9203,
  kTagExposureCompensation = 0x9204,
  kTagMaxApertureValue = 0x9205,
  kTagSubjectDistance = 0x9206,
  kTagMeteringMode = 0x9207,
  kTagLightSource = 0x9208,
  kTagFlash = 0x9209,
  kTagFocalLength = 0x920A,
  kTagUserComment = 0x9286,
  kTagSubSecTime = 0x9290,
  kTagSubSecTimeOriginal = 0x9291,
  kTagSubSecTimeDigitized = 0x9292,
  kTagColorSpace = 0xA001,
  kTagPixelXDimension = 0xA002,  // ExifImageWidth
  kTagPixelYDimension = 0xA003,  // ExifImageHeight
  kTagFocalPlaneXResolution = 0xA20E,
  kTagFocalPlaneYResolution = 0xA20F,
  kTagFocalPlaneResolutionUnit = 0xA210,
  kTagExposureMode = 0xA402,
  kTagWhiteBalance = 0xA403,
  kTagDigitalZoomRatio = 0xA404,
  kTagFocalLengthIn35mmFormat = 0xA405,
  kTagSceneCaptureType = 0xA406,
  kTagImageUniqueId = 0xA420,
  kTagCameraOwnerName = 0xA430,
  kTagBodySerialNumber = 0xA431,
  kTagLensRange = 0xA432,
  // XMP and IPTC a TIFF keeps in IFD0.
  kTagXmp = 0x02BC,
  kTagIptc = 0x83BB,
  kTagPhotoshop = 0x8649,
  kTagLensMake = 0xA433,
  kTagLensModel = 0xA434,
  kTagLensSerialNumber = 0xA435,
};

enum GpsTag : uint16_t {
  kTagGpsLatitudeRef = 0x0001,
  kTagGpsLatitude = 0x0002,
  kTagGpsLongitudeRef = 0x0003,
  kTagGpsLongitude = 0x0004,
  kTagGpsAltitudeRef = 0x0005,
  kTagGpsAltitude = 0x0006,
  kTagGpsTimeStamp = 0x0007,
  kTagGpsImgDirection = 0x0011,
  kTagGpsDateStamp = 0x001D,
};

}  // namespace exifinfo
