// SPDX-License-Identifier: MIT
#include "exif/extra_values.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "text/utf8.h"

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

}  // namespace

ExtraValues::ExtraValues() {
  for (int32_t& i : ints) i = kAbsentInt;
  for (double& d : doubles) d = kNaN;
  for (double& t : gpsTime) t = kNaN;
}

void FinishExtras(const ExtraValues& raw, const ImageInfo& info, FinishedExtras& out) {
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
  FinishCaptureTime(out.texts[kDateTimeOriginal], out.textLengths[kDateTimeOriginal], out, out.captureTime);
  FinishGpsDateTime(raw, out.gpsDateTime);
}

}  // namespace exifinfo
