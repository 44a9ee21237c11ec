// SPDX-License-Identifier: MIT
#include "xmp/meta_record.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace exifinfo {
namespace {

bool Digits(const uint8_t* p, size_t n) {
  for (size_t k = 0; k < n; ++k)
    if (p[k] < '0' || p[k] > '9') return false;
  return true;
}

size_t Copy(const char* text, size_t length, char (&out)[kMetaDateBytes]) {
  if (length == 0 || length >= kMetaDateBytes) return 0;
  std::memcpy(out, text, length);
  out[length] = '\0';
  return length;
}

// IPTC's date "YYYYMMDD" and time "HHMMSS" with an optional "+HHMM" as
// "YYYY:MM:DD HH:MM:SS+HH:MM"; the date alone without a time.
size_t IptcDateTime(ByteView date, ByteView time, char (&out)[kMetaDateBytes]) {
  if (date.size != 8 || !Digits(date.data, 8)) return 0;
  char t[kMetaDateBytes];
  const uint8_t* d = date.data;
  size_t n = static_cast<size_t>(std::snprintf(t, sizeof t, "%.4s:%.2s:%.2s", reinterpret_cast<const char*>(d),
                                               reinterpret_cast<const char*>(d + 4), reinterpret_cast<const char*>(d + 6)));
  const uint8_t* h = time.data;
  if (time.size >= 6 && Digits(h, 6)) {
    n += static_cast<size_t>(std::snprintf(t + n, sizeof t - n, " %.2s:%.2s:%.2s", reinterpret_cast<const char*>(h),
                                           reinterpret_cast<const char*>(h + 2), reinterpret_cast<const char*>(h + 4)));
    if (time.size == 11 && (h[6] == '+' || h[6] == '-') && Digits(h + 7, 4))
      n += static_cast<size_t>(std::snprintf(t + n, sizeof t - n, "%c%.2s:%.2s", h[6], reinterpret_cast<const char*>(h + 7),
                                             reinterpret_cast<const char*>(h + 9)));
  }
  return Copy(t, n, out);
}

bool Number(const char* first, const char* last, double& out) {
  if (first != last && *first == '+') ++first;
  const auto r = std::from_chars(first, last, out);
  return r.ec == std::errc{} && r.ptr == last && std::isfinite(out);
}

}  // namespace

size_t XmpDateAsExif(ByteView value, char (&out)[kMetaDateBytes]) {
  const char* t = reinterpret_cast<const char*>(value.data);
  const size_t n = value.size;
  const uint8_t* u = value.data;
  const bool date = n >= 10 && Digits(u, 4) && u[4] == '-' && Digits(u + 5, 2) && u[7] == '-' && Digits(u + 8, 2);
  if (date && n >= 16 && u[10] == 'T' && Digits(u + 11, 2) && u[13] == ':' && Digits(u + 14, 2)) {
    char e[kMetaDateBytes];
    if (n + 3 >= sizeof e) return 0;
    std::memcpy(e, t, 16);
    e[4] = ':', e[7] = ':', e[10] = ' ';
    size_t at = 16, from = 16;
    if (n >= 19 && u[16] == ':' && Digits(u + 17, 2)) {
      std::memcpy(e + at, t + 16, 3);
      at += 3, from = 19;
    } else {
      std::memcpy(e + at, ":00", 3);
      at += 3;
    }
    std::memcpy(e + at, t + from, n - from);  // the fraction and the zone, as written
    return Copy(e, at + n - from, out);
  }
  // A year, a year and month, or a date alone.
  if ((n == 4 && Digits(u, 4)) || (n == 7 && Digits(u, 4) && u[4] == '-' && Digits(u + 5, 2)) || (date && n == 10)) {
    const size_t length = Copy(t, n, out);
    for (size_t k = 0; k < length; ++k)
      if (out[k] == '-') out[k] = ':';
    return length;
  }
  return Copy(t, n, out);
}

size_t MetaDateCreated(const MetaValues& meta, char (&out)[kMetaDateBytes]) {
  if (meta.has(kDateCreated)) return XmpDateAsExif(meta.text(kDateCreated), out);
  return IptcDateTime(meta.text(kIptcDateCreated), meta.text(kIptcTimeCreated), out);
}

size_t MetaCaptureTime(const MetaValues& meta, char (&out)[kMetaDateBytes], const char*& source) {
  for (MetaText slot : {kXmpDateTimeOriginal, kDateCreated, kXmpCreateDate}) {
    if (!meta.has(slot)) continue;
    source = "xmp";
    return XmpDateAsExif(meta.text(slot), out);
  }
  source = "iptc";
  return IptcDateTime(meta.text(kIptcDateCreated), meta.text(kIptcTimeCreated), out);
}

bool XmpNumber(ByteView value, double& out) {
  if (value.size == 0) return false;
  const char* first = reinterpret_cast<const char*>(value.data);
  const char* last = first + value.size;
  const char* slash = static_cast<const char*>(std::memchr(first, '/', value.size));
  if (slash == nullptr) return Number(first, last, out);
  double numerator = 0, denominator = 0;
  if (!Number(first, slash, numerator) || !Number(slash + 1, last, denominator) || denominator == 0) return false;
  out = numerator / denominator;
  return true;
}

bool XmpCoordinate(ByteView value, double& out) {
  if (value.size < 2) return false;
  const char* first = reinterpret_cast<const char*>(value.data);
  const char hemisphere = first[value.size - 1];
  const bool lettered = hemisphere == 'N' || hemisphere == 'S' || hemisphere == 'E' || hemisphere == 'W';
  if (!lettered) return Number(first, first + value.size, out);
  // Degrees, then minutes with a fraction or minutes and seconds, comma-separated.
  double parts[3] = {0, 0, 0};
  int count = 0;
  const char* at = first;
  const char* const end = first + value.size - 1;
  for (bool more = true; more;) {
    if (count == 3) return false;  // a fourth part
    const char* comma = static_cast<const char*>(std::memchr(at, ',', static_cast<size_t>(end - at)));
    more = comma != nullptr;
    const char* stop = more ? comma : end;
    if (!Number(at, stop, parts[count]) || parts[count] < 0) return false;
    ++count;
    at = stop + 1;
  }
  const double degrees = parts[0] + parts[1] / 60 + parts[2] / 3600;
  out = hemisphere == 'S' || hemisphere == 'W' ? -degrees : degrees;
  return true;
}

}  // namespace exifinfo
