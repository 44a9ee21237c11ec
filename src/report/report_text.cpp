// SPDX-License-Identifier: MIT
#include "report/report_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "text/utf8.h"

namespace exifinfo {
namespace {

size_t FixedOfFloat(float value, char* out, size_t capacity);

// An ASCII line builder over a caller's bytes: anything past `end` is dropped.
class AsciiWriter {
 public:
  AsciiWriter(char* begin, char* end) : next_(begin), end_(end) {}
  char* next() const { return next_; }
  void Put(const char* text, size_t count) {
    const size_t room = static_cast<size_t>(end_ - next_);
    const size_t n = count < room ? count : room;
    std::memcpy(next_, text, n);
    next_ += n;
  }
  // A label: a copy of known size, which the compiler writes out in place of a call.
  template <size_t N>
  void Put(const char (&literal)[N]) {
    if (static_cast<size_t>(end_ - next_) < N - 1) return Put(literal, N - 1);
    std::memcpy(next_, literal, N - 1);
    next_ += N - 1;
  }
  void Skip(size_t count) { next_ += count; }  // bytes written in place, up to `end`
  void Int(int value) { next_ = std::to_chars(next_, end_, value).ptr; }  // unchanged when it does not fit
  void Fixed(float value) {
    const size_t room = static_cast<size_t>(end_ - next_);
    next_ += std::isfinite(value) ? FixedOfFloat(value, next_, room) : FormatFixed6(static_cast<double>(value), next_, room);
  }

 private:
  char* next_;
  char* end_;
};

// The numeric lines as ASCII; at most about 1,070 bytes even for values no file can give.
size_t FormatDataBlock(const ImageInfo& i, char* begin, char* end) {
  AsciiWriter out(begin, end);
  out.Put("Height="), out.Int(i.Height);
  out.Put("\r\nWidth="), out.Int(i.Width);
  out.Put("\r\nOrientation="), out.Int(i.Orientation);
  out.Put("\r\nIsColor="), out.Int(i.IsColor);
  out.Put("\r\nProcess="), out.Int(i.Process);
  out.Put("\r\nFlashUsed="), out.Int(i.FlashUsed);
  out.Put("\r\nFocalLength="), out.Fixed(i.FocalLength);
  out.Put("\r\nExposureTime="), out.Fixed(i.ExposureTime);
  out.Put("\r\nApertureFNumber="), out.Fixed(i.ApertureFNumber);
  out.Put("\r\nDistance="), out.Fixed(i.Distance);
  out.Put("\r\nCCDWidth="), out.Fixed(i.CCDWidth);
  out.Put("\r\nExposureBias="), out.Fixed(i.ExposureBias);
  out.Put("\r\nWhitebalance="), out.Int(i.Whitebalance);
  out.Put("\r\nMeteringMode="), out.Int(i.MeteringMode);
  out.Put("\r\nExposureProgram="), out.Int(i.ExposureProgram);
  out.Put("\r\nISOequivalent="), out.Int(i.ISOequivalent);
  out.Put("\r\nCompressionLevel="), out.Int(i.CompressionLevel);
  out.Put("\r\nFocalplaneXRes="), out.Fixed(i.FocalplaneXRes);
  out.Put("\r\nFocalplaneYRes="), out.Fixed(i.FocalplaneYRes);
  out.Put("\r\nFocalplaneUnits="), out.Fixed(i.FocalplaneUnits);
  out.Put("\r\nXresolution="), out.Fixed(i.Xresolution);
  out.Put("\r\nYresolution="), out.Fixed(i.Yresolution);
  out.Put("\r\nResolutionUnit="), out.Fixed(i.ResolutionUnit);
  out.Put("\r\nBrightness="), out.Fixed(i.Brightness);  // no line end after the last line
  return static_cast<size_t>(out.next() - begin);
}

// Decimal digits of a value below 2^128, most significant first; returns the count.
size_t Digits128(unsigned __int128 value, char* out, size_t capacity) {
  char reversed[40];
  size_t n = 0;
  do {
    reversed[n++] = static_cast<char>('0' + static_cast<int>(value % 10));
    value /= 10;
  } while (value != 0);
  if (n > capacity) return 0;
  for (size_t k = 0; k < n; ++k) out[k] = reversed[n - 1 - k];
  return n;
}

// "%f" of a single-precision value, exactly: the value is m x 2^e, so its nearest multiple
// of 10^-6 (ties to even, as printf rounds) comes from integer arithmetic alone.
size_t FixedOfFloat(float value, char* out, size_t capacity) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  if (bits == 0) {  // most fields a photo leaves unset
    constexpr char kZero[] = "0.000000";
    if (capacity < sizeof kZero - 1) return 0;
    std::memcpy(out, kZero, sizeof kZero - 1);
    return sizeof kZero - 1;
  }
  const int exponentField = static_cast<int>(bits >> 23 & 0xFF);
  const uint64_t mantissa = exponentField == 0 ? (bits & 0x7FFFFF) : ((bits & 0x7FFFFF) | 0x800000);
  const int exponent = (exponentField == 0 ? 1 : exponentField) - 127 - 23;
  char digits[64];
  size_t n = 0;
  if ((bits >> 31) != 0) digits[n++] = '-';
  uint64_t integer = 0, fraction = 0;  // fraction in millionths
  if (exponent >= 0) {
    n += Digits128(static_cast<unsigned __int128>(mantissa) << exponent, digits + n, sizeof digits - n);
  } else {
    const int shift = -exponent;  // 1..149
    uint64_t scaled = 0;          // round(mantissa x 10^6 / 2^shift)
    if (shift < 64) {
      const uint64_t product = mantissa * 1000000u;  // below 2^44
      scaled = product >> shift;
      const uint64_t rest = product & ((uint64_t{1} << shift) - 1), half = uint64_t{1} << (shift - 1);
      if (rest > half || (rest == half && (scaled & 1) != 0)) ++scaled;
    }  // else the value is below half a millionth: 0
    integer = scaled / 1000000u, fraction = scaled % 1000000u;
    n += static_cast<size_t>(std::to_chars(digits + n, digits + sizeof digits, integer).ptr - (digits + n));
  }
  digits[n++] = '.';
  for (int k = 5; k >= 0; --k, fraction /= 10) digits[n + static_cast<size_t>(k)] = static_cast<char>('0' + fraction % 10);
  n += 6;
  if (n > capacity) return 0;
  std::memcpy(out, digits, n);
  return n;
}

}  // namespace

size_t FormatFixed6(double value, char* out, size_t capacity) {
  const float single = static_cast<float>(value);
  if (std::isfinite(value) && static_cast<double>(single) == value) return FixedOfFloat(single, out, capacity);
  const auto result = std::to_chars(out, out + capacity, value, std::chars_format::fixed, 6);
  if (result.ec != std::errc{}) return 0;
  return static_cast<size_t>(result.ptr - out);
}

void DecodeRecordTexts(const ImageInfo& info, RecordTexts& texts) {
  const struct {
    const char* field;
    size_t bytes;
  } fields[RecordTexts::kCount] = {{info.Version, sizeof info.Version},
                                   {info.CameraMake, sizeof info.CameraMake},
                                   {info.CameraModel, sizeof info.CameraModel},
                                   {info.DateTime, sizeof info.DateTime},
                                   {info.Comments, sizeof info.Comments}};
  size_t used = 0;
  for (int k = 0; k < RecordTexts::kCount; ++k) {
    texts.at[k] = used;
    texts.length[k] = RecordTextToUtf8(fields[k].field, strnlen(fields[k].field, fields[k].bytes),
                                       texts.bytes + used, RecordTexts::kCapacity - 1 - used);
    used += texts.length[k];
    texts.bytes[used++] = '\0';
  }
}

namespace {

// The report, and where its numeric lines start and how long they are.
size_t FormatReportAt(const ImageInfo& info, const RecordTexts& texts, char* begin, size_t capacity,
                      size_t& dataAt, size_t& dataLength) {
  AsciiWriter out(begin, begin + capacity);
  const auto text = [&](int k) { out.Put(texts.Text(k), texts.length[k]); };
  out.Put("Version: "), text(0);
  out.Put("\r\nCamera Make: "), text(1);
  out.Put("\r\nCameraModel: "), text(2);
  out.Put("\r\nDateTime: "), text(3);
  out.Put("\r\nComments: "), text(4);
  out.Put("\r\nData:\r\n");
  char* const data = out.next();
  dataAt = static_cast<size_t>(data - begin);
  dataLength = FormatDataBlock(info, data, begin + capacity);
  out.Skip(dataLength);
  out.Put("\r\n");
  return static_cast<size_t>(out.next() - begin);
}

}  // namespace

size_t FormatReportUtf8(const ImageInfo& info, const RecordTexts& texts, char* begin, size_t capacity) {
  size_t dataAt = 0, dataLength = 0;
  return FormatReportAt(info, texts, begin, capacity, dataAt, dataLength);
}

size_t FormatReport(const ImageInfo& info, WideBuffer report, WideBuffer dataBlock, char* utf8, size_t* utf8Length) {
  RecordTexts texts;
  DecodeRecordTexts(info, texts);
  char local[kReportUtf8Capacity];
  char* const bytes = utf8 != nullptr ? utf8 : local;
  size_t dataAt = 0, dataLength = 0;
  const size_t length = FormatReportAt(info, texts, bytes, kReportUtf8Capacity, dataAt, dataLength);
  if (utf8Length != nullptr) *utf8Length = length;
  // The report is well-formed: every text in it was decoded or encoded above.
  size_t n = 0;
  if (report.capacity != 0) {
    n = Utf8ToWide(bytes, length, report.data, report.capacity - 1);
    report.data[n] = L'\0';
  }
  if (dataBlock.capacity != 0) {
    // The numeric lines and the final line end are ASCII, one character a byte. When the whole
    // report fit (it has no more characters than bytes), they are its last characters.
    const size_t want = dataLength < dataBlock.capacity - 1 ? dataLength : dataBlock.capacity - 1;
    const size_t tail = length - dataAt;  // the lines and the final CR LF
    if (report.capacity > length) {
      std::memcpy(dataBlock.data, report.data + (n - tail), want * sizeof(wchar_t));
    } else {
      Utf8ToWide(bytes + dataAt, want, dataBlock.data, want);
    }
    dataBlock.data[want] = L'\0';
  }
  return n;
}

}  // namespace exifinfo
