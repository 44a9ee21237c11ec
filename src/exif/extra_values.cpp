// SPDX-License-Identifier: MIT
#include "exif/extra_values.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "text/utf8.h"
#include "xmp/meta_record.h"

namespace exifinfo {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int32_t kIsoUnknown = 65535;  // 16-bit ISO field saturated: the real value is in 0x8833

// A text value: cut at the first NUL, trailing blanks trimmed, decoded as the report's texts are,
// at most kExtraTextBytes - 1 bytes of UTF-8 cut at a character boundary.
size_t FinishText(ByteView value, char* out) {
  out[0] = '\0';
  if (value.size == 0) return 0;  // most of them: absent
  size_t length = 0;
  while (length < value.size && value.data[length] != 0) ++length;
  while (length > 0 && (value.data[length - 1] == ' ' || value.data[length - 1] == '\t')) --length;
  const size_t n = RecordTextToUtf8(reinterpret_cast<const char*>(value.data), length, out, kExtraTextBytes - 1);
  out[n] = '\0';
  return n;
}

constexpr size_t kCommentCodeBytes = 8;  // a user comment's character code, before its text

void TrimBlanks(char* out, size_t& length) {
  while (length > 0 && (out[length - 1] == ' ' || out[length - 1] == '\t')) --length;
  out[length] = '\0';
}

// A user comment: its text after the 8-byte code, as 8-bit text, or UTF-16 in the block's byte
// order under "UNICODE", up to its first NUL, trailing blanks trimmed.
size_t FinishUserComment(const ExtraValues& raw, char* out) {
  ByteView value = raw.texts[kUserComment];
  out[0] = '\0';
  if (value.size <= kCommentCodeBytes) return 0;
  value = value.Slice(kCommentCodeBytes, value.size - kCommentCodeBytes);
  if (!raw.userCommentUtf16) return FinishText(value, out);
  size_t length = 0;
  for (size_t i = 0; i + 1 < value.size;) {
    const auto unit = [&](size_t at) {
      const uint8_t a = value.data[at], b = value.data[at + 1];
      return static_cast<uint32_t>(raw.userCommentBigEndian ? (a << 8 | b) : (b << 8 | a));
    };
    uint32_t c = unit(i);
    i += 2;
    if (c == 0) break;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < value.size && unit(i) >= 0xDC00 && unit(i) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i) - 0xDC00);
      i += 2;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // a lone surrogate
    }
    char encoded[4];
    const size_t n = EncodeUtf8(c, encoded);
    if (length + n > kExtraTextBytes - 1) break;
    std::memcpy(out + length, encoded, n);
    length += n;
  }
  TrimBlanks(out, length);
  return length;
}

// The lens range as four numbers with a blank between; a part that cannot be read (an unknown
// end of the range is written 0/0) is "undef". Empty when the tag is absent.
size_t FinishLensInfo(const ExtraValues& raw, bool present, char* out) {
  out[0] = '\0';
  if (!present) return 0;
  size_t length = 0;
  for (int k = 0; k < 4; ++k) {
    if (k != 0) out[length++] = ' ';
    const double value = raw.doubles[kLensMinFocalLength + k];
    if (std::isnan(value)) {
      std::memcpy(out + length, "undef", 5);
      length += 5;
      continue;
    }
    // Ten significant digits: a rational's quotient, not the double's noise (1.539999962).
    const int n = std::snprintf(out + length, 32, "%.10g", value);
    length += n > 0 ? static_cast<size_t>(n) : 0;
  }
  out[length] = '\0';
  return length;
}

bool Digits(const char* text, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}
int Number(const char* text, size_t count) {
  int value = 0;
  for (size_t i = 0; i < count; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

// "YYYY:MM:DD" with a month 1..12 and a day 1..31.
bool ValidDate(const char* t) {
  return Digits(t, 4) && t[4] == ':' && Digits(t + 5, 2) && t[7] == ':' && Digits(t + 8, 2) &&
         Number(t + 5, 2) >= 1 && Number(t + 5, 2) <= 12 && Number(t + 8, 2) >= 1 && Number(t + 8, 2) <= 31;
}

// "YYYY:MM:DD HH:MM:SS", hours below 24, minutes below 60, seconds up to a leap second.
bool ValidDateTime(const char* t, size_t length) {
  return length == 19 && ValidDate(t) && t[10] == ' ' && Digits(t + 11, 2) && t[13] == ':' && Digits(t + 14, 2) &&
         t[16] == ':' && Digits(t + 17, 2) && Number(t + 11, 2) < 24 && Number(t + 14, 2) < 60 &&
         Number(t + 17, 2) <= 60;
}

// "+HH:MM" or "-HH:MM".
bool ValidOffset(const char* t, size_t length) {
  return length == 6 && (t[0] == '+' || t[0] == '-') && Digits(t + 1, 2) && t[3] == ':' && Digits(t + 4, 2) &&
         Number(t + 1, 2) <= 14 && Number(t + 4, 2) < 60;
}

// From the file's DateTimeOriginal, its first 19 characters (what follows a valid stamp, as the
// report's copy cuts it, is no part of it).
void FinishCaptureTime(const char* date, size_t dateLength, const FinishedExtras& f, char* out) {
  out[0] = '\0';
  if (dateLength < 19 || !ValidDateTime(date, 19)) return;
  char* at = out;
  std::memcpy(at, date, 19);
  at[4] = '-', at[7] = '-', at[10] = 'T';
  at += 19;
  const char* sub = f.texts[kSubSecTimeOriginal];
  const size_t subLength = f.textLengths[kSubSecTimeOriginal];
  if (subLength > 0 && subLength <= 9 && Digits(sub, subLength)) {
    *at++ = '.';
    std::memcpy(at, sub, subLength);
    at += subLength;
  }
  const char* zone = f.texts[kOffsetTimeOriginal];
  if (ValidOffset(zone, f.textLengths[kOffsetTimeOriginal])) {
    std::memcpy(at, zone, 6);
    at += 6;
  }
  *at = '\0';
}

void FinishGpsDateTime(const ExtraValues& raw, char* out) {
  out[0] = '\0';
  char date[11] = {};
  size_t n = 0;
  while (n < raw.gpsDateStamp.size && n < 10 && raw.gpsDateStamp.data[n] != 0) {
    date[n] = static_cast<char>(raw.gpsDateStamp.data[n]);
    ++n;
  }
  const bool dateEnds = n == 10 && (raw.gpsDateStamp.size == 10 || raw.gpsDateStamp.data[10] == 0);
  const double h = raw.gpsTime[0], m = raw.gpsTime[1], s = raw.gpsTime[2];
  // Whole hours and minutes; seconds may carry a fraction.
  if (!dateEnds || !ValidDate(date) || !(h >= 0 && h < 24 && h == std::floor(h)) ||
      !(m >= 0 && m < 60 && m == std::floor(m)) || !(s >= 0 && s < 61))
    return;
  char seconds[32];
  // The shortest fixed form that reads back: 11, or 11.42 for 1142/100.
  const auto r = std::to_chars(seconds, seconds + sizeof seconds, s, std::chars_format::fixed);
  if (r.ec != std::errc{}) return;  // a fraction of more digits than the text has room for
  const size_t secondsLength = static_cast<size_t>(r.ptr - seconds);
  const bool padded = s < 10;
  char* at = out;
  std::memcpy(at, date, 10);
  at[4] = '-', at[7] = '-', at[10] = 'T';
  at += 11;
  const int hours = static_cast<int>(h), minutes = static_cast<int>(m);
  *at++ = static_cast<char>('0' + hours / 10), *at++ = static_cast<char>('0' + hours % 10), *at++ = ':';
  *at++ = static_cast<char>('0' + minutes / 10), *at++ = static_cast<char>('0' + minutes % 10), *at++ = ':';
  if (padded) *at++ = '0';
  std::memcpy(at, seconds, secondsLength);
  at += secondsLength;
  *at++ = 'Z';
  *at = '\0';
}

// A movie header's time (seconds since 1904-01-01 UTC) as "YYYY:MM:DD HH:MM:SS", the way EXIF
// writes its times; `iso` writes "YYYY-MM-DDTHH:MM:SSZ" instead. False past the year 9999.
bool FormatMovieTime(uint64_t seconds, bool iso, char* out) {
  constexpr uint64_t kLastSecond = 255485145599;  // 9999-12-31 23:59:59 counted from 1904
  if (seconds == 0 || seconds > kLastSecond) return false;
  // Days since 0000-03-01 in the proleptic Gregorian calendar, years from March on, so that the
  // leap day ends a year: 1904-01-01 is day 695,361.
  const int64_t days = static_cast<int64_t>(seconds / 86400) + 695361;
  const int64_t era = days / 146097, dayOfEra = days % 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shifted = (5 * dayOfYear + 2) / 153;  // March is 0
  const int64_t day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  const int64_t month = shifted < 10 ? shifted + 3 : shifted - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  const uint64_t inDay = seconds % 86400;
  const int n = std::snprintf(out, 24, iso ? "%04d-%02d-%02dT%02d:%02d:%02dZ" : "%04d:%02d:%02d %02d:%02d:%02d",
                              static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                              static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60),
                              static_cast<int>(inDay % 60));
  return n > 0 && n < 24;
}

// A phone's capture time as ISO 8601 ("2019-07-24T11:25:40+03:00"): from "YYYY-MM-DDTHH:MM:SS"
// (dashes or colons in the date, T or a blank before the time), an optional fraction of at most
// nine digits, and an optional zone (Z, +HHMM, +HH:MM or +HH). False for any other text.
bool FinishCreationDate(ByteView value, char* out) {
  char t[64];
  size_t length = 0;
  while (length < value.size && length < sizeof t - 1 && value.data[length] != 0) {
    t[length] = static_cast<char>(value.data[length]);
    ++length;
  }
  t[length] = '\0';
  if (length < 19) return false;
  char date[20];
  std::memcpy(date, t, 19);
  date[4] = date[4] == '-' ? ':' : date[4];
  date[7] = date[7] == '-' ? ':' : date[7];
  date[10] = date[10] == 'T' ? ' ' : date[10];
  if (!ValidDateTime(date, 19)) return false;
  size_t at = 19, fraction = 0;
  if (at < length && t[at] == '.') {
    while (at + 1 + fraction < length && t[at + 1 + fraction] >= '0' && t[at + 1 + fraction] <= '9') ++fraction;
    if (fraction == 0 || fraction > 9) return false;
  }
  const size_t zoneAt = at + (fraction != 0 ? fraction + 1 : 0);
  const char* zone = t + zoneAt;
  const size_t zoneLength = length - zoneAt;
  char offset[7] = {};
  if (zoneLength == 1 && zone[0] == 'Z') {
    offset[0] = 'Z';
  } else if ((zoneLength == 3 || zoneLength == 5 || zoneLength == 6) && (zone[0] == '+' || zone[0] == '-')) {
    const bool colon = zoneLength == 6;
    if (colon && zone[3] != ':') return false;
    const char minutes[2] = {zoneLength == 3 ? '0' : zone[colon ? 4 : 3], zoneLength == 3 ? '0' : zone[colon ? 5 : 4]};
    const char candidate[7] = {zone[0], zone[1], zone[2], ':', minutes[0], minutes[1], '\0'};
    if (!ValidOffset(candidate, 6)) return false;
    std::memcpy(offset, candidate, 7);
  } else if (zoneLength != 0) {
    return false;
  }
  std::memcpy(out, t, 19);
  out[4] = '-', out[7] = '-', out[10] = 'T';
  size_t written = 19;
  if (fraction != 0) {
    std::memcpy(out + written, t + 19, fraction + 1);
    written += fraction + 1;
  }
  const size_t offsetLength = std::strlen(offset);
  std::memcpy(out + written, offset, offsetLength + 1);
  return true;
}

}  // namespace

ExtraValues::ExtraValues() {
  for (int32_t& i : ints) i = kAbsentInt;
  for (double& d : doubles) d = kNaN;
  for (double& t : gpsTime) t = kNaN;
}

namespace {

// The capture time XMP or IPTC give, as ISO 8601: a date and time (with its fraction and zone
// where written), or a date alone.
const char* FinishMetaCaptureTime(const MetaValues& meta, char* out) {
  char exifForm[kMetaDateBytes];
  const char* source = "";
  const size_t length = MetaCaptureTime(meta, exifForm, source);
  if (length == 0) return "";
  if (length == 10 && ValidDate(exifForm)) {
    std::memcpy(out, exifForm, 11);
    out[4] = '-', out[7] = '-';
    return source;
  }
  return FinishCreationDate(ByteView{reinterpret_cast<const uint8_t*>(exifForm), length}, out) ? source : "";
}

// XMP's position ("51,30.25N"), where EXIF gives none.
void FinishMetaGps(const MetaValues& meta, FinishedExtras& out) {
  double latitude = 0, longitude = 0, altitude = 0;
  if (!XmpCoordinate(meta.text(kXmpGpsLatitude), latitude) || !XmpCoordinate(meta.text(kXmpGpsLongitude), longitude) ||
      std::fabs(latitude) > 90 || std::fabs(longitude) > 180)
    return;
  out.doubles[kGpsLatitude] = latitude;
  out.doubles[kGpsLongitude] = longitude;
  out.hasGps = 1;
  if (std::isnan(out.doubles[kGpsAltitude]) && XmpNumber(meta.text(kXmpGpsAltitude), altitude)) {
    const ByteView ref = meta.text(kXmpGpsAltitudeRef);
    out.doubles[kGpsAltitude] = ref.size == 1 && ref.data[0] == '1' ? -altitude : altitude;
  }
}

}  // namespace

void FinishExtras(const ExtraValues& raw, const ImageInfo& info, FinishedExtras& out, const MetaValues* meta) {
  for (int k = 0; k < kExtraTextCount; ++k) {
    out.textLengths[k] = FinishText(raw.texts[k], out.texts[k]);
    out.textPresent[k] = raw.texts[k].data != nullptr;
  }
  out.textPresent[kLensInfo] = raw.lensInfo;
  out.textLengths[kUserComment] = FinishUserComment(raw, out.texts[kUserComment]);
  out.textLengths[kLensInfo] = FinishLensInfo(raw, raw.lensInfo, out.texts[kLensInfo]);
  for (int k = 0; k < kExtraIntCount; ++k) out.ints[k] = raw.ints[k];
  // A JPEG's frame header says its size, 0 included (a height the scan defines); a container's
  // frame is known when both are.
  if (out.ints[kImageWidth] == kAbsentInt && (info.Process != 0 || (info.Width > 0 && info.Height > 0))) {
    out.ints[kImageWidth] = info.Width;
    out.ints[kImageHeight] = info.Height;
  }
  if (out.ints[kExifRead] == kAbsentInt) out.ints[kExifRead] = 0;
  if (out.ints[kThumbnailLength] == kAbsentInt && info.ThumbnailStart != nullptr)
    out.ints[kThumbnailLength] = static_cast<int32_t>(info.ThumbnailLength);
  if ((out.ints[kIso] == kAbsentInt || out.ints[kIso] == kIsoUnknown) && raw.isoSpeed != kAbsentInt)
    out.ints[kIso] = raw.isoSpeed;
  for (int k = 0; k < kExtraDoubleCount; ++k) out.doubles[k] = raw.doubles[k];
  out.hasGps = !std::isnan(out.doubles[kGpsLatitude]) && !std::isnan(out.doubles[kGpsLongitude]) ? 1 : 0;
  // A video's movie header gives CreateDate and ModifyDate where no EXIF block does.
  const struct {
    uint64_t seconds;
    ExtraText text;
  } movieTimes[] = {{raw.movieCreated, kCreateDate}, {raw.movieModified, kModifyDate}};
  for (const auto& time : movieTimes) {
    if (out.textPresent[time.text] || !FormatMovieTime(time.seconds, false, out.texts[time.text])) continue;
    out.textPresent[time.text] = true;
    out.textLengths[time.text] = std::strlen(out.texts[time.text]);
  }
  // The capture time from the best source: EXIF's, a phone's own with its zone, else the movie
  // header's creation time, which is UTC by the format (though some cameras write local time).
  FinishCaptureTime(out.texts[kDateTimeOriginal], out.textLengths[kDateTimeOriginal], out, out.captureTime);
  out.captureTimeSource = "exif";
  if (out.captureTime[0] == '\0') {
    out.captureTimeSource = FinishCreationDate(raw.creationDate, out.captureTime) ? "quicktime" : "";
    if (out.captureTime[0] == '\0' && meta != nullptr) out.captureTimeSource = FinishMetaCaptureTime(*meta, out.captureTime);
    if (out.captureTime[0] == '\0') out.captureTimeSource = FormatMovieTime(raw.movieCreated, true, out.captureTime) ? "mvhd" : "";
  }
  if (meta != nullptr && out.hasGps == 0) FinishMetaGps(*meta, out);
  FinishGpsDateTime(raw, out.gpsDateTime);
}

}  // namespace exifinfo
