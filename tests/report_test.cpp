// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>

#include "read_helpers.h"

using namespace testing_builders;

namespace {

const char kDefaultsReport[] =
    "Version: \r\nCamera Make: \r\nCameraModel: \r\nDateTime: \r\nComments: \r\nData:\r\n"
    "Height=0\r\nWidth=0\r\nOrientation=0\r\nIsColor=0\r\nProcess=0\r\nFlashUsed=0\r\n"
    "FocalLength=0.000000\r\nExposureTime=0.000000\r\nApertureFNumber=0.000000\r\nDistance=0.000000\r\n"
    "CCDWidth=0.000000\r\nExposureBias=0.000000\r\nWhitebalance=0\r\nMeteringMode=0\r\nExposureProgram=0\r\n"
    "ISOequivalent=0\r\nCompressionLevel=0\r\nFocalplaneXRes=0.000000\r\nFocalplaneYRes=0.000000\r\n"
    "FocalplaneUnits=0.000000\r\nXresolution=0.000000\r\nYresolution=0.000000\r\nResolutionUnit=0.000000\r\n"
    "Brightness=0.000000\r\n";

std::string ReportOfBytes(const Bytes& bytes) { return Utf8Of(WideReportOfBytes(bytes)); }

TEST(Report, NotAJpegGivesTheReportOfDefaults) {
  EXPECT_EQ(ReportOfBytes({'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'}), kDefaultsReport);
  EXPECT_EQ(ReportOfBytes({}), kDefaultsReport);
}

TEST(Report, BaselineColourJpegWithoutExif) {
  const std::string report = ReportOfBytes(JpegBuilder().Soi().Segment(0xE0, "JFIF").QuantTable().BaselineFrame(480, 640).StartOfScan().Build());
  std::string expected = kDefaultsReport;
  expected.replace(expected.find("Height=0"), 8, "Height=480");
  expected.replace(expected.find("Width=0"), 7, "Width=640");
  expected.replace(expected.find("IsColor=0"), 9, "IsColor=1");
  expected.replace(expected.find("Process=0"), 9, "Process=192");
  EXPECT_EQ(report, expected);
}

TEST(Report, PrintsEveryFieldUnderItsKeyInOrder) {
  exifinfo::ImageInfo info{};
  std::strcpy(info.Version, "0230");
  std::strcpy(info.CameraMake, "Make");
  std::strcpy(info.CameraModel, "Model");
  std::strcpy(info.DateTime, "2024:01:02 03:04:05");
  std::strcpy(info.Comments, "line one\nline two");
  info.Height = 1, info.Width = 2, info.Orientation = 3, info.IsColor = 4, info.Process = 5, info.FlashUsed = 6;
  info.FocalLength = 7.5f, info.ExposureTime = 0.00390625f, info.ApertureFNumber = 2.8f, info.Distance = -1.0f;
  info.CCDWidth = 0.31496063f, info.ExposureBias = -0.333333f;
  info.Whitebalance = -7, info.MeteringMode = 8, info.ExposureProgram = 9, info.ISOequivalent = 6400;
  info.CompressionLevel = std::numeric_limits<int32_t>::min();
  info.FocalplaneXRes = 2000.0f, info.FocalplaneYRes = 1e-7f, info.FocalplaneUnits = 0.3937008f;
  info.Xresolution = 72.0f, info.Yresolution = std::numeric_limits<float>::infinity();
  info.ResolutionUnit = 1.0f, info.Brightness = -std::numeric_limits<float>::infinity();
  EXPECT_EQ(ReportText(info),
            "Version: 0230\r\nCamera Make: Make\r\nCameraModel: Model\r\nDateTime: 2024:01:02 03:04:05\r\n"
            "Comments: line one\nline two\r\nData:\r\n"
            "Height=1\r\nWidth=2\r\nOrientation=3\r\nIsColor=4\r\nProcess=5\r\nFlashUsed=6\r\n"
            "FocalLength=7.500000\r\nExposureTime=0.003906\r\nApertureFNumber=2.800000\r\nDistance=-1.000000\r\n"
            "CCDWidth=0.314961\r\nExposureBias=-0.333333\r\nWhitebalance=-7\r\nMeteringMode=8\r\nExposureProgram=9\r\n"
            "ISOequivalent=6400\r\nCompressionLevel=-2147483648\r\nFocalplaneXRes=2000.000000\r\n"
            "FocalplaneYRes=0.000000\r\nFocalplaneUnits=0.393701\r\nXresolution=72.000000\r\nYresolution=inf\r\n"
            "ResolutionUnit=1.000000\r\nBrightness=-inf\r\n");
}

// The widest values each field can reach: 16-bit frame sizes, small codes, unit factors,
// and any int or float elsewhere.
TEST(Report, LongestPossibleReportIsNeverCut) {
  exifinfo::ImageInfo info{};
  std::memset(info.Version, 'v', sizeof info.Version - 1);
  std::memset(info.CameraMake, 'm', sizeof info.CameraMake - 1);
  std::memset(info.CameraModel, 'o', sizeof info.CameraModel - 1);
  std::memset(info.DateTime, 'd', sizeof info.DateTime - 1);
  std::memset(info.Comments, 'c', 998);
  info.Height = info.Width = 65535;
  info.Orientation = 8, info.IsColor = 1, info.Process = 207, info.FlashUsed = 1;
  for (int32_t* field : {&info.Whitebalance, &info.MeteringMode, &info.ExposureProgram, &info.ISOequivalent,
                         &info.CompressionLevel})
    *field = std::numeric_limits<int32_t>::min();
  for (float* field : {&info.FocalLength, &info.ExposureTime, &info.ApertureFNumber, &info.Distance, &info.CCDWidth,
                       &info.ExposureBias, &info.FocalplaneXRes, &info.FocalplaneYRes, &info.Xresolution,
                       &info.Yresolution, &info.Brightness})
    *field = -FLT_MAX;
  info.FocalplaneUnits = info.ResolutionUnit = static_cast<float>(1.0 / 25400.0);
  wchar_t report[exifinfo::kReportCapacity];
  wchar_t data[exifinfo::kDataBlockCapacity];
  const size_t length = exifinfo::FormatReport(info, {report, exifinfo::kReportCapacity}, {data, exifinfo::kDataBlockCapacity});
  EXPECT_LT(std::wcslen(data), exifinfo::kDataBlockCapacity - 1);
  EXPECT_EQ(std::wcslen(report), length);
  const std::wstring tail = L"\r\nBrightness=-340282346638528859811704183484516925440.000000\r\n";
  EXPECT_EQ(std::wstring(report).substr(length - tail.size()), tail);
  EXPECT_EQ(length, ReportText(info).size());  // all ASCII: one byte a character
}

TEST(Report, TinyBuffersStayTerminatedAndInBounds) {
  exifinfo::ImageInfo info{};
  std::strcpy(info.CameraMake, "Maker");
  for (size_t capacity : {size_t{1}, size_t{2}, size_t{10}, size_t{100}}) {
    std::vector<wchar_t> report(capacity, L'#'), data(capacity, L'#');
    const size_t length = exifinfo::FormatReport(info, {report.data(), capacity}, {data.data(), capacity});
    EXPECT_EQ(length, capacity - 1);
    EXPECT_EQ(report[capacity - 1], L'\0');
    EXPECT_EQ(data[capacity - 1], L'\0');
  }
}

struct WideningCase {
  const char* name;
  std::string bytes;
  std::wstring wide;
};
// Test names and failures show the case by name (and never the padding bytes).
void PrintTo(const WideningCase& c, std::ostream* os) { *os << c.name; }

class Widening : public ::testing::TestWithParam<WideningCase> {};

TEST_P(Widening, DecodesUtf8OrElseWindows1252) {
  const std::string& text = GetParam().bytes;
  char utf8[3 * 64];
  const size_t bytes = exifinfo::RecordTextToUtf8(text.data(), text.size(), utf8, sizeof utf8);
  wchar_t out[64];
  const size_t n = exifinfo::Utf8ToWide(utf8, bytes, out, 64);
  ASSERT_NE(n, SIZE_MAX);  // the decoded text is always well-formed
  EXPECT_EQ(std::wstring(out, n), GetParam().wide);
}

INSTANTIATE_TEST_SUITE_P(
    Text, Widening,
    ::testing::Values(WideningCase{"Ascii", "Canon EOS", L"Canon EOS"},
                      WideningCase{"Utf8TwoBytes", "caf\xC3\xA9", L"caf\u00E9"},
                      WideningCase{"Utf8ThreeAndFourBytes", "\xE2\x82\xAC\xF0\x9F\x93\xB7", L"\u20AC\U0001F4F7"},
                      WideningCase{"Latin1Byte", "caf\xE9", L"caf\u00E9"},
                      WideningCase{"Cp1252Punctuation", "\x80\x93\x99\x9F", L"\u20AC\u201C\u2122\u0178"},
                      WideningCase{"Cp1252UndefinedBytesKeepTheirValue", "\x81\x8D\x8F\x90\x9D", L"\u0081\u008D\u008F\u0090\u009D"},
                      WideningCase{"OverlongIsNotUtf8", "\xC0\xAF", L"\u00C0\u00AF"},
                      WideningCase{"SurrogateIsNotUtf8", "\xED\xA0\x80", L"\u00ED\u00A0\u20AC"},
                      WideningCase{"PastMaximumIsNotUtf8", "\xF4\x90\x80\x80", L"\u00F4\u0090\u20AC\u20AC"},
                      WideningCase{"TruncatedSequenceIsNotUtf8", "ab\xE2\x82", L"ab\u00E2\u201A"},
                      // One bad sequence makes the whole text Windows-1252, the valid part too.
                      WideningCase{"MixedFallsBackWhole", "\xC3\xA9\xE9", L"\u00C3\u00A9\u00E9"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Report, EachTextFieldIsWidenedOnItsOwn) {
  exifinfo::ImageInfo info{};
  std::strcpy(info.CameraMake, "\xC3\xA9");  // UTF-8
  std::strcpy(info.CameraModel, "\xE9");     // not UTF-8
  const std::string report = ReportText(info);
  EXPECT_NE(report.find("Camera Make: \xC3\xA9\r\n"), std::string::npos);
  EXPECT_NE(report.find("CameraModel: \xC3\xA9\r\n"), std::string::npos);
}

// The fixed-point lines must read as "%f" does, digit for digit.
TEST(FixedPoint, MatchesPrintfOverManyFloats) {
  std::vector<float> values = {0.0f, -0.0f, 1.0f, 0.5f, 0.0000005f, 0.0000015f, 0.0000025f, 0.393701f, 0.00390625f,
                               FLT_MAX, -FLT_MAX, FLT_MIN, FLT_TRUE_MIN, 16777216.0f, 1e10f, 123456.789f,
                               std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                               std::nextafter(FLT_MAX, 0.0f)};
  std::mt19937 random(12345);
  for (int i = 0; i < 20000; ++i) {
    uint32_t bits = static_cast<uint32_t>(random());
    float f;
    std::memcpy(&f, &bits, 4);
    if (!std::isnan(f)) values.push_back(f);
    values.push_back(static_cast<float>(random() % 100000) / 1000.0f);
  }
  // Values that are no float take the general path; they must agree as well.
  std::vector<double> doubles = {0.1, -1e-7, 5e-7, 1.0000005, 123456789.1234565, 1e300, -2.5e-7};
  for (int i = 0; i < 2000; ++i) doubles.push_back(static_cast<double>(random()) / 4096.0 + 1e-9);
  for (const double d : doubles) {
    char expected[400], actual[400];
    std::snprintf(expected, sizeof expected, "%f", d);
    const size_t n = exifinfo::FormatFixed6(d, actual, sizeof actual);
    ASSERT_EQ(std::string(actual, n), expected) << std::hexfloat << d;
  }
  for (const float f : values) {
    char expected[128], actual[128];
    std::snprintf(expected, sizeof expected, "%f", static_cast<double>(f));
    const size_t n = exifinfo::FormatFixed6(static_cast<double>(f), actual, sizeof actual);
    ASSERT_EQ(std::string(actual, n), expected) << std::hexfloat << f;
  }
}

}  // namespace
