// SPDX-License-Identifier: MIT
// The C API as a host uses it, through the shared libraries: a path, a descriptor and bytes in
// memory give the same result; the typed values are the report's; EXIFInfo returns the very
// same report; bad input gives a result of defaults or an errno; threads need no lock.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "api_helpers.h"
#include "builders.h"
#include "test_files.h"
#include "exifinfo.h"
#include "tolvane_exif_info.h"

#include <nlohmann/json.hpp>

namespace {

using testing_builders::Bytes;
using testing_builders::JpegBuilder;
using testing_builders::TiffBuilder;

// The values the report prints, from the typed ones: "%f" of each float, "%d" of each integer.
std::string ReportFromValues(const exifinfo_photo* p) {
  static const char* const kLabels[] = {"Version: ", "\r\nCamera Make: ", "\r\nCameraModel: ", "\r\nDateTime: ",
                                        "\r\nComments: "};
  std::string out;
  for (size_t i = 0; i < EXIFINFO_REPORT_FIELD_COUNT; ++i) {
    const char* at = reinterpret_cast<const char*>(p) + exifinfo_field_offset(i);
    char value[128];
    switch (exifinfo_field_type(i)) {
      case EXIFINFO_TYPE_TEXT: out += kLabels[i] + std::string(*reinterpret_cast<const char* const*>(at)); continue;
      case EXIFINFO_TYPE_INT32: std::snprintf(value, sizeof value, "%d", *reinterpret_cast<const int32_t*>(at)); break;
      default: std::snprintf(value, sizeof value, "%f", static_cast<double>(*reinterpret_cast<const float*>(at)));
    }
    out += (i == 5 ? "\r\nData:\r\n" : "\r\n") + std::string(exifinfo_field_name(i)) + "=" + value;
  }
  return out + "\r\n";
}

std::wstring ExifInfoReport(const std::string& path) {
  const std::wstring wide(path.begin(), path.end());  // ASCII temporary names
  return EXIFInfo(wide.c_str(), L"");
}

// The photos every test reads: the shipped sample, each shared corpus file, and the sample
// cut at every length and damaged at every header byte, which reach every ending.
std::vector<std::pair<std::string, Bytes>> Cases() {
  std::vector<std::pair<std::string, Bytes>> cases;
  const Bytes sample = testing_builders::ReadFileBytes(EXIFINFO_SAMPLE_JPEG);
  cases.emplace_back("sample", sample);
  if (DIR* dir = opendir(EXIFINFO_CORPUS_DIR)) {
    while (const dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0)
        cases.emplace_back(name, testing_builders::ReadFileBytes(std::string(EXIFINFO_CORPUS_DIR) + "/" + name));
    }
    closedir(dir);
  }
  for (size_t n = 0; n < sample.size(); n += 7) cases.emplace_back("cut " + std::to_string(n), Bytes(sample.begin(), sample.begin() + static_cast<long>(n)));
  for (size_t i = 0; i < 700; i += 3) {
    Bytes damaged = sample;
    damaged[i] ^= 0xFF;
    cases.emplace_back("flipped " + std::to_string(i), damaged);
  }
  cases.emplace_back("padding", Bytes{0xFF, 0xD8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  cases.emplace_back("end of image", JpegBuilder().Soi().Segment(0xD9, Bytes{}).Build());
  JpegBuilder many;
  many.Soi();
  for (int i = 0; i < 21; ++i) many.QuantTable();
  cases.emplace_back("too many sections", many.Build());
  TiffBuilder tiff(testing_builders::ByteOrder::kBig);
  tiff.Directory().Ascii(0x010F, "Caf\xE9 \xC3\xA9").Ascii(0x0110, "M");
  cases.emplace_back("latin-1 and utf-8", JpegBuilder().Soi().App1Exif(tiff.Build()).StartOfScan().Build());
  return cases;
}

TEST(Api, PathDescriptorAndMemoryGiveTheSameResultAndEXIFInfosReport) {
  for (const auto& [name, bytes] : Cases()) {
    const TempFile file(bytes);
    ASSERT_FALSE(file.path().empty());
    const Photo memory = FromMemory(bytes), path = FromPath(file.path()), fd = FromDescriptor(file.path());
    ASSERT_TRUE(memory && path && fd) << name;
    const std::string described = Describe(memory.get());
    EXPECT_EQ(Describe(path.get()), described) << name;
    EXPECT_EQ(Describe(fd.get()), described) << name;
    EXPECT_EQ(std::wstring(memory->report_wide, memory->report_wide_length), ExifInfoReport(file.path())) << name;
    EXPECT_EQ(std::wcslen(memory->report_wide), memory->report_wide_length) << name;
    EXPECT_EQ(std::strlen(memory->report), memory->report_length) << name;
  }
}

TEST(Api, TypedValuesAreTheReportsValues) {
  for (const auto& [name, bytes] : Cases()) {
    const Photo p = FromMemory(bytes);
    ASSERT_TRUE(p) << name;
    EXPECT_EQ(ReportFromValues(p.get()), std::string(p->report, p->report_length)) << name;
  }
}

TEST(Api, FloatsKeepEveryBit) {
  TiffBuilder tiff(testing_builders::ByteOrder::kLittle);
  tiff.Directory().Ascii(0x010F, "M").Link(0x8769, 1);
  tiff.Directory().Rational(0x829A, 1, 6400);  // 1/6400 s
  const Photo p = FromMemory(JpegBuilder().Soi().App1Exif(tiff.Build()).StartOfScan().Build());
  ASSERT_TRUE(p);
  EXPECT_EQ(p->ExposureTime, static_cast<float>(1.0 / 6400));
  EXPECT_NE(std::string(p->report).find("ExposureTime=0.000156\r\n"), std::string::npos);
}

// Blocks the report's walk gives up on, which the record reads past; and one both read. The
// report's members and text stay those of the report's walk alone.
TEST(Api, TheRecordReadsPastWhatStopsTheReportsWalk) {
  using testing_builders::ByteOrder;
  const auto ifd0 = [](TiffBuilder& t) { t.Directory().Ascii(0x010F, "Tlv").Short(0x0112, 6).Short(0x8827, 25); };
  TiffBuilder sound(ByteOrder::kLittle), badMagic(ByteOrder::kBig), badEntry(ByteOrder::kLittle);
  ifd0(sound);
  ifd0(badMagic.Magic(0x132A));
  badEntry.Directory().RawEntry(0x9999, 99, 1, 0).Ascii(0x010F, "Tlv").Short(0x0112, 6).Short(0x8827, 25);
  // IFD0 at 26: 18 bytes after the header, its values all inline, so the block moves as it is.
  Bytes far = sound.Build();
  far[4] = 26;
  far.insert(far.begin() + 8, 18, 0);
  const struct {
    const char* name;
    Bytes tiff;
    bool reportReads;
  } cases[] = {{"sound", sound.Build(), true},
               {"first directory at 26", far, false},
               {"TIFF magic 0x132A", badMagic.Build(), false},
               {"an entry of format 99 before the values", badEntry.Build(), false}};
  for (const auto& c : cases) {
    const Bytes jpeg = JpegBuilder().Soi().App1Exif(c.tiff).BaselineFrame(90, 160).StartOfScan().Build();
    const Photo p = FromMemory(jpeg);
    ASSERT_TRUE(p) << c.name;
    EXPECT_EQ(p->HasExif, c.reportReads ? 1 : 0) << c.name;
    EXPECT_EQ(std::string(p->CameraMake), c.reportReads ? "Tlv" : "") << c.name;
    EXPECT_EQ(p->ISOequivalent, c.reportReads ? 5000 : 0) << c.name;  // the report's factor for ISO 25
    EXPECT_EQ(ReportFromValues(p.get()), std::string(p->report, p->report_length)) << c.name;
    EXPECT_EQ(p->file.HasExif, 1) << c.name;
    EXPECT_EQ(std::string(p->file.Make), "Tlv") << c.name;
    EXPECT_EQ((std::vector<int32_t>{p->file.Orientation, p->ISO, p->file.ImageWidth, p->file.ImageHeight}),
              (std::vector<int32_t>{6, 25, 160, 90}))
        << c.name;
  }
}

TEST(Api, ThumbnailIsACopyOfTheBytesTheFileNames) {
  const Bytes sample = testing_builders::ReadFileBytes(EXIFINFO_SAMPLE_JPEG);
  const Photo p = FromMemory(sample);
  ASSERT_TRUE(p);
  ASSERT_NE(p->thumbnail, nullptr);
  ASSERT_GE(p->thumbnail_size, 4u);
  EXPECT_EQ(p->thumbnail[0], 0xFF);
  EXPECT_EQ(p->thumbnail[1], 0xD8);  // the sample's thumbnail is a JPEG
  // The TIFF header sits 10 bytes into the APP1 section's marker: FF E1, length, "Exif\0\0".
  const uint8_t exif[] = {'E', 'x', 'i', 'f', 0, 0};
  const auto at = std::search(sample.begin(), sample.end(), std::begin(exif), std::end(exif)) - sample.begin() + 6;
  EXPECT_EQ(std::memcmp(p->thumbnail, sample.data() + at + p->thumbnail_offset, p->thumbnail_size), 0);
  const Photo none = FromMemory(JpegBuilder().Soi().BaselineFrame(1, 1).StartOfScan().Build());
  EXPECT_EQ(none->thumbnail, nullptr);
  EXPECT_EQ(none->thumbnail_size, 0u);
}

TEST(Api, BadInputGivesAnErrnoOrAResultOfDefaults) {
  exifinfo_photo* p = reinterpret_cast<exifinfo_photo*>(1);
  EXPECT_EQ(exifinfo_read_path(nullptr, &p), EINVAL);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(exifinfo_read_memory(nullptr, 0, &p), EINVAL);
  EXPECT_EQ(exifinfo_read_path(EXIFINFO_SAMPLE_JPEG, nullptr), EINVAL);
  EXPECT_EQ(exifinfo_read_fd(0, nullptr), EINVAL);
  EXPECT_EQ(exifinfo_read_path("/nonexistent/photo.jpg", &p), ENOENT);
  EXPECT_EQ(exifinfo_read_path("/", &p), EISDIR);
  EXPECT_EQ(exifinfo_read_fd(-1, &p), EBADF);
  EXPECT_EQ(exifinfo_read_fd(999, &p), EBADF);  // closed
  const int writeOnly = open("/dev/null", O_WRONLY | O_CLOEXEC);
  EXPECT_EQ(exifinfo_read_fd(writeOnly, &p), EBADF);
  close(writeOnly);
  const int dir = open("/", O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(exifinfo_read_fd(dir, &p), EISDIR);
  close(dir);
  EXPECT_EQ(p, nullptr);
  exifinfo_free(nullptr);

  const Photo defaults = FromMemory({});
  const Bytes text = {'G', 'I', 'F', '8', '9', 'a'};
  for (const Photo& r : {FromMemory({}), FromMemory(text), FromPath("/dev/null")}) {
    ASSERT_TRUE(r);
    EXPECT_EQ(r->ending, EXIFINFO_NOT_A_JPEG);
    EXPECT_EQ(Describe(r.get()), Describe(defaults.get()));
    EXPECT_STREQ(r->last_error, "");
  }
  // A FIFO with no writer opens at once and reads as empty.
  const std::string fifo = "/tmp/exifinfo_api_fifo_" + std::to_string(getpid());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const Photo fromFifo = FromPath(fifo);
  unlink(fifo.c_str());
  ASSERT_TRUE(fromFifo);
  EXPECT_EQ(fromFifo->ending, EXIFINFO_NOT_A_JPEG);
}

TEST(Api, SocketAndPipeDescriptorsReadFromWhereTheyStand) {
  const Bytes sample = testing_builders::ReadFileBytes(EXIFINFO_SAMPLE_JPEG);
  const Photo expected = FromMemory(sample);
  int sockets[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets), 0);
  ASSERT_EQ(write(sockets[1], sample.data(), sample.size()), static_cast<ssize_t>(sample.size()));
  close(sockets[1]);
  exifinfo_photo* p = nullptr;
  ASSERT_EQ(exifinfo_read_fd(sockets[0], &p), 0);
  close(sockets[0]);
  const Photo fromSocket(p);
  EXPECT_EQ(Describe(fromSocket.get()), Describe(expected.get()));
}

// A writer that stays: a JPEG shorter than any container's signature is read as soon as its
// bytes are there, without waiting for more.
TEST(Api, AShortJpegFromAPipeWhoseWriterStaysIsReadAtOnce) {
  const Bytes jpeg = JpegBuilder().Soi().StartOfScan().Build();
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(write(ends[1], jpeg.data(), jpeg.size()), static_cast<ssize_t>(jpeg.size()));
  exifinfo_photo* p = nullptr;
  ASSERT_EQ(exifinfo_read_fd(ends[0], &p), 0);  // the write end is still open here
  const Photo photo(p);
  close(ends[0]);
  close(ends[1]);
  EXPECT_EQ(photo->ending, EXIFINFO_START_OF_SCAN);
  EXPECT_EQ(photo->container, EXIFINFO_CONTAINER_JPEG);
}

// Discarded sections without end: 16 MiB of them end the read as too many sections, from
// memory and from a stream that would flow for ever; the kept ones before still count.
TEST(Api, EndlessDiscardedSectionsEndTheRead) {
  const Bytes app0 = JpegBuilder().Segment(0xE0, Bytes(65533, 'J')).Build();  // 65,537 bytes
  Bytes many = JpegBuilder().Soi().Comment("kept").Build();
  for (int i = 0; i < 260; ++i) many.insert(many.end(), app0.begin(), app0.end());
  many.insert(many.end(), {0xFF, 0xDA, 0, 2});
  const Photo fromMemory = FromMemory(many);
  EXPECT_EQ(fromMemory->ending, EXIFINFO_TOO_MANY_SECTIONS);
  EXPECT_STREQ(fromMemory->Comments, "kept");
  int sockets[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets), 0);
  std::thread writer([&] {
    const Bytes soi = JpegBuilder().Soi().Build();
    bool open = send(sockets[1], soi.data(), soi.size(), MSG_NOSIGNAL) > 0;
    while (open) open = send(sockets[1], app0.data(), app0.size(), MSG_NOSIGNAL) > 0;
  });
  exifinfo_photo* p = nullptr;
  EXPECT_EQ(exifinfo_read_fd(sockets[0], &p), 0);
  const Photo fromStream(p);
  shutdown(sockets[0], SHUT_RDWR);
  writer.join();
  close(sockets[0]);
  close(sockets[1]);
  EXPECT_EQ(fromStream->ending, EXIFINFO_TOO_MANY_SECTIONS);
}

TEST(Api, AReadErrorAfterSomeBytesIsAResult) {
  // Past the end of the input a cut file reads as the end; a failed read needs a device whose
  // reads fail: /proc/self/mem fails at its first read, so it is an errno, not a result.
  exifinfo_photo* p = nullptr;
  EXPECT_EQ(exifinfo_read_path("/proc/self/mem", &p), EIO);
  EXPECT_EQ(p, nullptr);
}

TEST(Api, FieldTableNamesTheReportsKeysInOrder) {
  ASSERT_EQ(exifinfo_field_count(), EXIFINFO_REPORT_FIELD_COUNT + 36u);
  const Photo p = FromMemory(testing_builders::ReadFileBytes(EXIFINFO_SAMPLE_JPEG));
  const std::string report(p->report, p->report_length);
  size_t at = report.find("Data:\r\n");
  for (size_t i = 5; i < 29; ++i) {
    const std::string key = std::string("\r\n") + exifinfo_field_name(i) + "=";
    const size_t found = report.find(key, at);
    ASSERT_NE(found, std::string::npos) << exifinfo_field_name(i);
    EXPECT_LT(at, found);
    at = found;
  }
  const char* texts[] = {"Version", "CameraMake", "CameraModel", "DateTime", "Comments"};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_STREQ(exifinfo_field_name(i), texts[i]);
    EXPECT_EQ(exifinfo_field_type(i), EXIFINFO_TYPE_TEXT);
  }
  EXPECT_EQ(exifinfo_field_offset(0), offsetof(exifinfo_photo, Version));
  EXPECT_EQ(exifinfo_field_offset(28), offsetof(exifinfo_photo, Brightness));
  EXPECT_STREQ(exifinfo_field_name(29), "ModifyDate");
  EXPECT_EQ(exifinfo_field_offset(29), offsetof(exifinfo_photo, ModifyDate));
  EXPECT_EQ(exifinfo_field_type(64), EXIFINFO_TYPE_DOUBLE);
  EXPECT_EQ(exifinfo_field_offset(64), offsetof(exifinfo_photo, LensMaxFNumber));
  EXPECT_EQ(exifinfo_field_name(65), nullptr);
  EXPECT_EQ(exifinfo_field_type(65), -1);
  EXPECT_STREQ(exifinfo_field_name(49), "ISO");
  EXPECT_STREQ(exifinfo_field_meaning(49), "ISO as written (0x8827, else 0x8833)");
  EXPECT_EQ(exifinfo_field_meaning(65), nullptr);
  EXPECT_STREQ(exifinfo_ending_name(EXIFINFO_READ_ERROR), "read_error");
  EXPECT_STREQ(exifinfo_ending_name(EXIFINFO_END_OF_METADATA), "end_of_metadata");
  EXPECT_STREQ(exifinfo_ending_name(EXIFINFO_DAMAGED), "damaged");
  EXPECT_STREQ(exifinfo_ending_name(EXIFINFO_NEEDS_MORE), "needs_more");
  EXPECT_EQ(exifinfo_ending_name(EXIFINFO_NEEDS_MORE + 1), nullptr);
  EXPECT_STREQ(exifinfo_container_name(EXIFINFO_CONTAINER_UNKNOWN), "unknown");
  EXPECT_STREQ(exifinfo_container_name(EXIFINFO_CONTAINER_HEIF), "heif");
  EXPECT_STREQ(exifinfo_container_name(EXIFINFO_CONTAINER_JXL), "jxl");
  EXPECT_STREQ(exifinfo_container_name(EXIFINFO_CONTAINER_MP4), "mp4");
  EXPECT_STREQ(exifinfo_container_name(EXIFINFO_CONTAINER_MOV), "mov");
  EXPECT_STREQ(exifinfo_container_name(EXIFINFO_CONTAINER_XMP), "xmp");
  EXPECT_STREQ(exifinfo_container_name(EXIFINFO_CONTAINER_MRW), "mrw");
  EXPECT_EQ(exifinfo_container_name(EXIFINFO_CONTAINER_MRW + 1), nullptr);
  EXPECT_EQ(exifinfo_container_name(-1), nullptr);
  EXPECT_EQ(p->container, EXIFINFO_CONTAINER_JPEG);
  EXPECT_EQ(exifinfo_ending_name(-1), nullptr);
  EXPECT_TRUE(EXIFINFO_HAS(p.get(), report_wide_length));
  EXPECT_TRUE(EXIFINFO_HAS(p.get(), LensMaxFNumber));
  EXPECT_TRUE(EXIFINFO_HAS(p.get(), container));
  EXPECT_EQ(p->size, sizeof(exifinfo_photo));
}

std::string RecordLine(const exifinfo_photo* photo, const char* path, const char* error, const std::vector<size_t>& keys = {}) {
  const size_t* chosen = keys.empty() ? nullptr : keys.data();
  const size_t length = exifinfo_record_json(photo, path, error, chosen, keys.size(), nullptr, 0);
  std::string line(length, '\0');
  EXPECT_EQ(exifinfo_record_json(photo, path, error, chosen, keys.size(), &line[0], length + 1), length);
  return line;
}

// Each photo's line is JSON whose every value is the library's value of that key; the caller's
// path and error are written as given.
TEST(Api, RecordLineHoldsTheRecordsValues) {
  for (const auto& [name, bytes] : Cases()) {
    const Photo p = FromMemory(bytes);
    const nlohmann::json line = nlohmann::json::parse(RecordLine(p.get(), name.c_str(), "why"));
    ASSERT_EQ(line.size(), exifinfo_record_count()) << name;
    for (size_t i = 0; i < exifinfo_record_count(); ++i) {
      const nlohmann::json& json = line.at(exifinfo_record_key(i));
      exifinfo_value value{};
      ASSERT_EQ(exifinfo_record_value(p.get(), i, &value), 0);
      const std::string at = name + " " + exifinfo_record_key(i);
      if (exifinfo_record_type(i) == EXIFINFO_TYPE_CALLER) {
        EXPECT_EQ(json, std::string(i == 0 ? name : "why")) << at;
      } else if (value.kind == EXIFINFO_VALUE_NULL) {
        EXPECT_TRUE(json.is_null()) << at;
      } else if (value.kind == EXIFINFO_VALUE_TEXT) {
        EXPECT_EQ(json, std::string(value.text)) << at;
      } else if (value.kind == EXIFINFO_VALUE_REAL) {
        EXPECT_EQ(json.get<double>(), value.real) << at;
      } else if (value.kind == EXIFINFO_VALUE_LIST) {
        // The array the value gives, the member's items and the line's all agree.
        EXPECT_EQ(json, nlohmann::json::parse(value.text)) << at;
        const char* const* items;
        std::memcpy(&items, reinterpret_cast<const char*>(p.get()) + exifinfo_record_offset(i), sizeof items);
        ASSERT_EQ(json.size(), static_cast<size_t>(value.integer)) << at;
        for (size_t k = 0; k < json.size(); ++k) EXPECT_EQ(json[k], std::string(items[k])) << at;
        EXPECT_EQ(items[json.size()], nullptr) << at;
      } else if (exifinfo_record_type(i) == EXIFINFO_TYPE_FLAG) {
        EXPECT_EQ(json, value.integer != 0) << at;
      } else {
        EXPECT_EQ(json, value.integer) << at;
      }
    }
  }
}

TEST(Api, RecordTextsOfFailuresPathsAndKeys) {
  const struct {
    int error;
    const char* text;
  } failures[] = {{0, ""}, {ENOENT, "cannot open: No such file or directory"}, {EACCES, "cannot open: Permission denied"},
                  {EISDIR, "Is a directory"}, {EIO, "read error: Input/output error"}, {EBADF, "read error: Bad file descriptor"}};
  for (const auto& f : failures) {
    char text[64];
    EXPECT_EQ(exifinfo_failure_text(f.error, nullptr, text, sizeof text), std::strlen(f.text));
    EXPECT_STREQ(text, f.text);
    EXPECT_EQ(exifinfo_failure_text(f.error, nullptr, text, 5), std::strlen(f.text));  // cut, as snprintf does
    EXPECT_EQ(std::string(text), std::string(f.text).substr(0, 4));
  }
  // A file name's every byte comes back through Python's "surrogateescape".
  const struct {
    std::string bytes, json;
  } paths[] = {
      {"plain.jpg", "\"plain.jpg\""},
      {"caf\xC3\xA9.jpg", "\"caf\xC3\xA9.jpg\""},              // UTF-8 stays as it is
      {"caf\xE9.jpg", "\"caf\\udce9.jpg\""},                     // Latin-1: a lone surrogate
      {"\xC3", "\"\\udcc3\""},                                   // a sequence cut short
      {"\xED\xA0\x80", "\"\\udced\\udca0\\udc80\""},            // an encoded surrogate
      {"a\"b\\c\n\x01", "\"a\\\"b\\\\c\\u000a\\u0001\""},       // JSON's own escapes
  };
  const std::vector<size_t> errorThenPath{3, 0};
  for (const auto& p : paths)
    EXPECT_EQ(RecordLine(nullptr, p.bytes.c_str(), "cannot open: x", errorThenPath), "{\"error\":\"cannot open: x\",\"path\":" + p.json + "}");
  EXPECT_EQ(RecordLine(nullptr, nullptr, "", errorThenPath), "{\"error\":null,\"path\":null}");
  const size_t pastTheTable = exifinfo_record_count();
  exifinfo_value value{};
  EXPECT_EQ(exifinfo_record_value(nullptr, pastTheTable, &value), EINVAL);
  EXPECT_EQ(exifinfo_record_json(nullptr, "x", nullptr, &pastTheTable, 1, nullptr, 0), 0u);
  EXPECT_EQ(exifinfo_records_json(nullptr, 0, nullptr, -1, nullptr, nullptr, nullptr), 0);
}

// A batch gives each input's line, in input order, as one read and exifinfo_record_json give it:
// over several windows, on one thread and on three, into a buffer and into a file, with the
// inputs in no known container and the directories left out when asked.
TEST(Api, RecordsBatchIsEachReadsLineInOrder) {
  const auto cases = Cases();
  const std::string missing = "/nonexistent/photo.jpg", directory = "/tmp";
  const uint8_t none = 0;
  std::vector<exifinfo_input> inputs;
  std::vector<std::string> names;
  for (size_t i = 0; i < 5000; ++i) {
    const Bytes& bytes = cases[i % cases.size()].second;
    inputs.push_back({nullptr, bytes.empty() ? &none : bytes.data(), bytes.size(), -1});
    names.push_back(cases[i % cases.size()].first);
    if (i % 997 == 0) inputs.push_back({missing.c_str(), nullptr, 0, -1}), names.push_back(missing);
    if (i % 1999 == 0) inputs.push_back({directory.c_str(), nullptr, 0, -1}), names.push_back(directory);
  }
  std::vector<const char*> nameOf;
  for (const std::string& n : names) nameOf.push_back(n.c_str());
  for (const bool skip : {false, true}) {
    std::string expected;
    size_t expectedLines = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
      exifinfo_photo* raw = nullptr;
      const int error = inputs[i].path != nullptr ? exifinfo_read_path(inputs[i].path, &raw)
                                                  : exifinfo_read_memory(inputs[i].data, inputs[i].size, &raw);
      const Photo p(raw);
      if (skip && (error == EISDIR || (p && p->ending == EXIFINFO_NOT_A_JPEG))) continue;
      char why[128];
      exifinfo_failure_text(error, p.get(), why, sizeof why);
      expected += RecordLine(p.get(), nameOf[i], why) + "\n";
      ++expectedLines;
    }
    for (const int threads : {1, 3, 17}) {  // 17: a window of more lines than one writev takes
      exifinfo_records_options options{};
      options.size = sizeof options;
      options.threads = threads;
      options.skip_unknown = skip ? 1 : 0;
      options.names = nameOf.data();
      char* text = nullptr;
      size_t length = 0, lines = 0;
      ASSERT_EQ(exifinfo_records_json(inputs.data(), inputs.size(), &options, -1, &text, &length, &lines), 0);
      const std::string made(text, length);
      exifinfo_free_text(text);
      EXPECT_TRUE(made == expected) << "skip " << skip << ", threads " << threads;
      EXPECT_EQ(lines, expectedLines);
      FILE* file = std::tmpfile();
      ASSERT_EQ(exifinfo_records_json(inputs.data(), inputs.size(), &options, fileno(file), nullptr, &length, &lines), 0);
      EXPECT_EQ(length, expected.size());
      std::string written(expected.size() + 1, '\0');
      std::rewind(file);
      written.resize(std::fread(&written[0], 1, written.size(), file));
      std::fclose(file);
      EXPECT_TRUE(written == expected) << "written, skip " << skip << ", threads " << threads;
    }
  }
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);  // a full disk: its errno, not success
  EXPECT_EQ(exifinfo_records_json(inputs.data(), 3, nullptr, full, nullptr, nullptr, nullptr), ENOSPC);
  close(full);
}

TEST(Api, EightThreadsReadWhatOneThreadReads) {
  const auto cases = Cases();
  std::vector<std::string> expected;
  for (const auto& c : cases) expected.push_back(Describe(FromMemory(c.second).get()));
  std::vector<TempFile> files;
  files.reserve(cases.size());
  for (const auto& c : cases) files.emplace_back(c.second);
  std::vector<std::string> mismatches[8];
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (size_t round = 0; round < 2; ++round) {
        for (size_t k = static_cast<size_t>(t); k < cases.size() + static_cast<size_t>(t); ++k) {
          const size_t i = k % cases.size();
          exifinfo_photo* p = nullptr;
          const uint8_t none = 0;  // an empty vector's data() may be null, which is EINVAL
          const Bytes& bytes = cases[i].second;
          const int status = (k + round) % 2 == 0 ? exifinfo_read_memory(bytes.empty() ? &none : bytes.data(), bytes.size(), &p)
                                                  : exifinfo_read_path(files[i].path().c_str(), &p);
          const Photo photo(p);
          if (status != 0 || Describe(photo.get()) != expected[i]) mismatches[t].push_back(cases[i].first);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const auto& m : mismatches) EXPECT_TRUE(m.empty()) << m.size() << " mismatches, first: " << m.front();
}

}  // namespace
