// SPDX-License-Identifier: MIT
// The exported entry point, called through the shared library as a host would.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "builders.h"
#include "test_files.h"
#include "tolvane_exif_info.h"

using namespace testing_builders;

namespace {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/exifinfo-test-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() {
    std::error_code ignored;  // a test that left something unremovable has said so already
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

const wchar_t kDefaultsStart[] = L"Version: \r\nCamera Make: \r\nCameraModel: \r\nDateTime: \r\nComments: \r\nData:\r\nHeight=0\r\n";

Bytes Photo(uint16_t height, uint16_t width, const std::string& comment) {
  TiffBuilder tiff(ByteOrder::kBig);
  tiff.Directory().Ascii(0x010F, "Caf\xC3\xA9 Optics").Short(0x0112, 1);
  return JpegBuilder().Soi().App1Exif(tiff.Build()).Comment(comment).BaselineFrame(height, width).StartOfScan().Build();
}

TEST(Export, ReturnsTheReportAtTheSameAddressEveryCall) {
  TempDir dir;
  WriteFile(dir.File("a.jpg"), Photo(480, 640, "first"));
  WriteFile(dir.File("b.jpg"), Photo(100, 200, "second"));
  const wchar_t* first = EXIFInfo(Wide(dir.File("a.jpg")).c_str(), L"");
  ASSERT_NE(first, nullptr);
  EXPECT_NE(std::wstring(first).find(L"\r\nWidth=640\r\n"), std::wstring::npos);
  const wchar_t* second = EXIFInfo(Wide(dir.File("b.jpg")).c_str(), L"");
  EXPECT_EQ(second, first);
  EXPECT_NE(std::wstring(second).find(L"\r\nWidth=200\r\n"), std::wstring::npos);
  EXPECT_EQ(std::wstring(second).find(L"Width=640"), std::wstring::npos);
}

TEST(Export, OutputFileHoldsTheReportAsUtf8AndIsReplaced) {
  TempDir dir;
  WriteFile(dir.File("photo.jpg"), Photo(480, 640, "caf\xE9 \xE2\x82"));  // not UTF-8: Windows-1252
  const std::string out = dir.File("report.txt");
  WriteFile(out, Bytes(5000, 'x'));  // longer than the report: must be replaced, not appended
  const std::wstring report = EXIFInfo(Wide(dir.File("photo.jpg")).c_str(), Wide(out).c_str());
  EXPECT_NE(report.find(L"Camera Make: Caf\u00E9 Optics\r\n"), std::wstring::npos);
  EXPECT_NE(report.find(L"Comments: caf\u00E9 \u00E2\u201A\r\n"), std::wstring::npos);
  EXPECT_EQ(ReadFileText(out), Utf8Of(report));  // CR LF kept, no byte-order mark, nothing added
  EXPECT_EQ(ReadFileText(out).substr(0, 9), "Version: ");
}

TEST(Export, EmptyOrNullOutputPathWritesNoFile) {
  TempDir dir;
  WriteFile(dir.File("photo.jpg"), Photo(48, 64, "c"));
  const std::wstring input = Wide(dir.File("photo.jpg"));
  EXPECT_NE(std::wstring(EXIFInfo(input.c_str(), L"")).find(L"Height=48"), std::wstring::npos);
  EXPECT_NE(std::wstring(EXIFInfo(input.c_str(), nullptr)).find(L"Height=48"), std::wstring::npos);
  EXPECT_EQ(std::system(("test -z \"$(ls -A '" + dir.path() + "' | grep -v photo.jpg)\"").c_str()), 0);
}

TEST(Export, UnopenableInputGivesDefaultsAndStillWritesTheOutput) {
  TempDir dir;
  const std::string out = dir.File("report.txt");
  for (const wchar_t* input : {L"/nonexistent/photo.jpg", L"", static_cast<const wchar_t*>(nullptr)}) {
    std::remove(out.c_str());
    const std::wstring report = EXIFInfo(input, Wide(out).c_str());
    EXPECT_EQ(report.rfind(kDefaultsStart, 0), 0u);
    EXPECT_EQ(ReadFileText(out), Utf8Of(report));
  }
}

TEST(Export, OutputIsCreatedBeforeTheInputIsRead) {
  TempDir dir;
  WriteFile(dir.File("not-a-jpeg"), {'G', 'I', 'F', '8', '9', 'a'});
  const std::string out = dir.File("report.txt");
  const std::wstring report = EXIFInfo(Wide(dir.File("not-a-jpeg")).c_str(), Wide(out).c_str());
  ASSERT_TRUE(Exists(out));
  EXPECT_EQ(ReadFileText(out), Utf8Of(report));
}

TEST(Export, UnopenableOutputStillReturnsTheReport) {
  TempDir dir;
  WriteFile(dir.File("photo.jpg"), Photo(48, 64, "c"));
  const std::wstring input = Wide(dir.File("photo.jpg"));
  mkdir(dir.File("ro").c_str(), 0555);
  const bool root = geteuid() == 0;  // root writes into read-only directories
  std::vector<std::string> outputs = {dir.File("missing/dir/report.txt"), dir.path()};
  if (!root) outputs.push_back(dir.File("ro/report.txt"));
  for (const std::string& out : outputs) {
    const std::wstring report = EXIFInfo(input.c_str(), Wide(out).c_str());
    EXPECT_NE(report.find(L"Height=48"), std::wstring::npos) << out;
    EXPECT_FALSE(Exists(dir.File("missing")));
  }
}

TEST(Export, OutputNamingThePhotoItselfLeavesThePhotoUntouched) {
  TempDir dir;
  const Bytes photo = Photo(48, 64, "keep me");
  WriteFile(dir.File("photo.jpg"), photo);
  ASSERT_EQ(link(dir.File("photo.jpg").c_str(), dir.File("hard.jpg").c_str()), 0);
  ASSERT_EQ(symlink(dir.File("photo.jpg").c_str(), dir.File("soft.jpg").c_str()), 0);
  const std::string original(photo.begin(), photo.end());
  for (const std::string& out : {dir.File("photo.jpg"), dir.File("hard.jpg"), dir.File("soft.jpg"),
                                 dir.path() + "/./photo.jpg", dir.path() + "//photo.jpg"}) {
    const std::wstring report = EXIFInfo(Wide(dir.File("photo.jpg")).c_str(), Wide(out).c_str());
    EXPECT_NE(report.find(L"Comments: keep me\r\n"), std::wstring::npos) << out;
    EXPECT_EQ(ReadFileText(dir.File("photo.jpg")), original) << out;
  }
}

TEST(Export, DirectoriesAndDevicesAsInputGiveDefaults) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  for (const std::string& input : {dir.path(), std::string("/dev/null"), dir.File("fifo")}) {
    const std::wstring report = EXIFInfo(Wide(input).c_str(), L"");
    EXPECT_EQ(report.rfind(kDefaultsStart, 0), 0u) << input;
  }
}

TEST(Export, PathsAreUtf8EncodedAndUnencodablePathsCannotBeOpened) {
  TempDir dir;
  const std::string name = dir.File("caf\xC3\xA9-\xF0\x9F\x93\xB7.jpg");
  WriteFile(name, Photo(48, 64, "utf8 name"));
  const std::wstring wideName = Wide(dir.path()) + L"/caf\u00E9-\U0001F4F7.jpg";
  EXPECT_NE(std::wstring(EXIFInfo(wideName.c_str(), L"")).find(L"utf8 name"), std::wstring::npos);
  const std::wstring surrogate = Wide(dir.path()) + L"/\xD800.jpg";
  const std::wstring tooHigh = Wide(dir.path()) + L"/" + std::wstring(1, static_cast<wchar_t>(0x110000)) + L".jpg";
  for (const std::wstring& bad : {surrogate, tooHigh}) {
    const std::wstring report = EXIFInfo(bad.c_str(), bad.c_str());
    EXPECT_EQ(report.rfind(kDefaultsStart, 0), 0u);
  }
  EXPECT_EQ(std::system(("test $(ls '" + dir.path() + "' | wc -l) -eq 1").c_str()), 0);  // nothing written
}

}  // namespace
