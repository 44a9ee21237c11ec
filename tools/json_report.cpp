// SPDX-License-Identifier: MIT
#include "json_report.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#define JSON_NOEXCEPTION 1  // the tool is built without exceptions
#include <nlohmann/json.hpp>

#include "report/text_encoding.h"

namespace exifinfo_tool {
namespace {

using nlohmann::ordered_json;

std::string TextValue(const char* field, size_t fieldBytes) {
  wchar_t wide[exifinfo::kCommentsBytes];
  const size_t n = exifinfo::WidenText(field, strnlen(field, fieldBytes), wide, exifinfo::kCommentsBytes);
  std::string utf8;
  for (size_t i = 0; i < n; ++i) {
    char encoded[4];
    utf8.append(encoded, exifinfo::EncodeUtf8(static_cast<uint32_t>(wide[i]), encoded));
  }
  return utf8;
}

// The value the report prints, as a number: "%f" digits read back.
ordered_json FixedValue(float value) {
  if (!std::isfinite(value)) return nullptr;
  char digits[64];
  const size_t n = exifinfo::FormatFixed6(static_cast<double>(value), digits, sizeof digits - 1);
  digits[n] = '\0';
  return std::strtod(digits, nullptr);
}

}  // namespace

std::string JsonLine(const std::string& path, const exifinfo::PhotoDetails& details) {
  const exifinfo::ImageInfo& i = details.info;
  ordered_json o;
  o["path"] = path;
  o["Version"] = TextValue(i.Version, sizeof i.Version);
  o["CameraMake"] = TextValue(i.CameraMake, sizeof i.CameraMake);
  o["CameraModel"] = TextValue(i.CameraModel, sizeof i.CameraModel);
  o["DateTime"] = TextValue(i.DateTime, sizeof i.DateTime);
  o["Comments"] = TextValue(i.Comments, sizeof i.Comments);
  o["Height"] = i.Height;
  o["Width"] = i.Width;
  o["Orientation"] = i.Orientation;
  o["IsColor"] = i.IsColor;
  o["Process"] = i.Process;
  o["FlashUsed"] = i.FlashUsed;
  o["FocalLength"] = FixedValue(i.FocalLength);
  o["ExposureTime"] = FixedValue(i.ExposureTime);
  o["ApertureFNumber"] = FixedValue(i.ApertureFNumber);
  o["Distance"] = FixedValue(i.Distance);
  o["CCDWidth"] = FixedValue(i.CCDWidth);
  o["ExposureBias"] = FixedValue(i.ExposureBias);
  o["Whitebalance"] = i.Whitebalance;
  o["MeteringMode"] = i.MeteringMode;
  o["ExposureProgram"] = i.ExposureProgram;
  o["ISOequivalent"] = i.ISOequivalent;
  o["CompressionLevel"] = i.CompressionLevel;
  o["FocalplaneXRes"] = FixedValue(i.FocalplaneXRes);
  o["FocalplaneYRes"] = FixedValue(i.FocalplaneYRes);
  o["FocalplaneUnits"] = FixedValue(i.FocalplaneUnits);
  o["Xresolution"] = FixedValue(i.Xresolution);
  o["Yresolution"] = FixedValue(i.Yresolution);
  o["ResolutionUnit"] = FixedValue(i.ResolutionUnit);
  o["Brightness"] = FixedValue(i.Brightness);
  o["HasExif"] = i.HasExif;
  o["ThumbnailOffset"] = details.hasThumbnail ? ordered_json(details.thumbnailOffset) : ordered_json(nullptr);
  o["ThumbnailLength"] = details.hasThumbnail ? i.ThumbnailLength : 0u;
  // A file name need not be UTF-8: bytes that are not become U+FFFD rather than failing.
  return o.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

}  // namespace exifinfo_tool
