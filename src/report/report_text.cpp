#include "report/report_text.h"

#include <charconv>
#include <cstring>

#include "report/text_encoding.h"

namespace exifinfo {
namespace {

// Appends to a caller's buffer; anything that does not fit is dropped, and the text stays
// terminated at every step.
class WideWriter {
 public:
  explicit WideWriter(WideBuffer buffer) : buffer_(buffer) {
    if (buffer_.capacity != 0) buffer_.data[0] = L'\0';
  }
  size_t length() const { return length_; }

  void Ascii(const char* text, size_t count) {
    for (size_t i = 0; i < count && Room() != 0; ++i) buffer_.data[length_++] = static_cast<unsigned char>(text[i]);
    Terminate();
  }
  void Ascii(const char* text) { Ascii(text, std::strlen(text)); }
  void Text(const char* text, size_t fieldBytes) {
    length_ += WidenText(text, strnlen(text, fieldBytes), buffer_.data + length_, Room());
    Terminate();
  }
  void Wide(const wchar_t* text, size_t count) {
    for (size_t i = 0; i < count && Room() != 0; ++i) buffer_.data[length_++] = text[i];
    Terminate();
  }

 private:
  size_t Room() const { return buffer_.capacity == 0 ? 0 : buffer_.capacity - 1 - length_; }
  void Terminate() {
    if (buffer_.capacity != 0) buffer_.data[length_] = L'\0';
  }
  WideBuffer buffer_;
  size_t length_ = 0;
};

constexpr char kLineEnd[] = "\r\n";

void IntLine(WideWriter& out, const char* key, int value) {
  char digits[16];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.Ascii(key);
  out.Ascii("=");
  out.Ascii(digits, static_cast<size_t>(result.ptr - digits));
}

void FixedLine(WideWriter& out, const char* key, float value) {
  char digits[64];  // the largest float has 39 integer digits
  out.Ascii(key);
  out.Ascii("=");
  out.Ascii(digits, FormatFixed6(static_cast<double>(value), digits, sizeof digits));
}

void FormatDataBlock(const ImageInfo& info, WideWriter& out) {
  IntLine(out, "Height", info.Height), out.Ascii(kLineEnd);
  IntLine(out, "Width", info.Width), out.Ascii(kLineEnd);
  IntLine(out, "Orientation", info.Orientation), out.Ascii(kLineEnd);
  IntLine(out, "IsColor", info.IsColor), out.Ascii(kLineEnd);
  IntLine(out, "Process", info.Process), out.Ascii(kLineEnd);
  IntLine(out, "FlashUsed", info.FlashUsed), out.Ascii(kLineEnd);
  FixedLine(out, "FocalLength", info.FocalLength), out.Ascii(kLineEnd);
  FixedLine(out, "ExposureTime", info.ExposureTime), out.Ascii(kLineEnd);
  FixedLine(out, "ApertureFNumber", info.ApertureFNumber), out.Ascii(kLineEnd);
  FixedLine(out, "Distance", info.Distance), out.Ascii(kLineEnd);
  FixedLine(out, "CCDWidth", info.CCDWidth), out.Ascii(kLineEnd);
  FixedLine(out, "ExposureBias", info.ExposureBias), out.Ascii(kLineEnd);
  IntLine(out, "Whitebalance", info.Whitebalance), out.Ascii(kLineEnd);
  IntLine(out, "MeteringMode", info.MeteringMode), out.Ascii(kLineEnd);
  IntLine(out, "ExposureProgram", info.ExposureProgram), out.Ascii(kLineEnd);
  IntLine(out, "ISOequivalent", info.ISOequivalent), out.Ascii(kLineEnd);
  IntLine(out, "CompressionLevel", info.CompressionLevel), out.Ascii(kLineEnd);
  FixedLine(out, "FocalplaneXRes", info.FocalplaneXRes), out.Ascii(kLineEnd);
  FixedLine(out, "FocalplaneYRes", info.FocalplaneYRes), out.Ascii(kLineEnd);
  FixedLine(out, "FocalplaneUnits", info.FocalplaneUnits), out.Ascii(kLineEnd);
  FixedLine(out, "Xresolution", info.Xresolution), out.Ascii(kLineEnd);
  FixedLine(out, "Yresolution", info.Yresolution), out.Ascii(kLineEnd);
  FixedLine(out, "ResolutionUnit", info.ResolutionUnit), out.Ascii(kLineEnd);
  FixedLine(out, "Brightness", info.Brightness);  // no line end after the last line
}

void TextLine(WideWriter& out, const char* label, const char* text, size_t fieldBytes) {
  out.Ascii(label);
  out.Text(text, fieldBytes);
  out.Ascii(kLineEnd);
}

}  // namespace

size_t FormatFixed6(double value, char* out, size_t capacity) {
  const auto result = std::to_chars(out, out + capacity, value, std::chars_format::fixed, 6);
  if (result.ec != std::errc{}) return 0;
  return static_cast<size_t>(result.ptr - out);
}

size_t FormatReport(const ImageInfo& info, WideBuffer report, WideBuffer dataBlock) {
  WideWriter data(dataBlock);
  FormatDataBlock(info, data);

  WideWriter out(report);
  TextLine(out, "Version: ", info.Version, sizeof info.Version);
  TextLine(out, "Camera Make: ", info.CameraMake, sizeof info.CameraMake);
  TextLine(out, "CameraModel: ", info.CameraModel, sizeof info.CameraModel);
  TextLine(out, "DateTime: ", info.DateTime, sizeof info.DateTime);
  TextLine(out, "Comments: ", info.Comments, sizeof info.Comments);
  out.Ascii("Data:");
  out.Ascii(kLineEnd);
  out.Wide(dataBlock.data, data.length());
  out.Ascii(kLineEnd);
  return out.length();
}

}  // namespace exifinfo
