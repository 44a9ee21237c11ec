// SPDX-License-Identifier: MIT
// Photos in containers other than JPEG, through the C API: each container built around the same
// TIFF block gives the same camera values, its own frame and its own container, from a path, a
// descriptor, a pipe and memory alike; every prefix and every hostile variant ends cleanly.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "api_helpers.h"
#include "container_builders.h"
#include "test_files.h"
#include "tolvane_exif_info.h"

namespace {

using namespace testing_builders;

const Bytes kThumbnail = {0xFF, 0xD8, 0xFF, 0xDB, 1, 2, 3, 4, 5, 0xFF, 0xD9};

// IFD0 (make, model, orientation, its own size 111 x 222 and three samples a pixel), the EXIF
// directory, the GPS directory and IFD1 with a JPEG thumbnail.
Bytes CameraBlock(ByteOrder order, uint16_t magic = 42) {
  const auto build = [&](uint32_t thumbnailAt) {
    TiffBuilder t(order);
    t.Magic(magic);
    t.Directory().Short(0x0100, 111).Short(0x0101, 222).Short(0x0115, 3).Ascii(0x010F, "Tolvane").Ascii(0x0110, "Field 7")
        .Short(0x0112, 6).Link(0x8769, 1).Link(0x8825, 2).NextDirectory(3);
    t.Directory().Rational(0x829A, 1, 250).Rational(0x829D, 28, 10).Ascii(0x9003, "2024:05:06 07:08:09")
        .Short(0x8827, 400).Ascii(0x9011, "+02:00");
    t.Directory().Ascii(0x0001, "N").Rationals(0x0002, {{59, 1}, {19, 1}, {30, 1}}).Ascii(0x0003, "E")
        .Rationals(0x0004, {{18, 1}, {4, 1}, {0, 1}});
    t.Directory().Long(0x0201, thumbnailAt).Long(0x0202, static_cast<uint32_t>(kThumbnail.size()));
    t.Trailer(kThumbnail);
    return t.Build();
  };
  const Bytes sized = build(0);
  return build(static_cast<uint32_t>(sized.size() - kThumbnail.size()));
}

struct Case {
  std::string name;
  Bytes file;
  int container;
  int32_t width, height, isColor;
  int ending = EXIFINFO_END_OF_METADATA;
  int32_t process = 0;
  int32_t mainWidth = -2, mainHeight = -2;  // the record's main image; -2: the frame's
  bool thumbnail = true;  // a decoded block's thumbnail is not the file's bytes: none is given
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (const ByteOrder order : {ByteOrder::kLittle, ByteOrder::kBig}) {
    const std::string o = order == ByteOrder::kBig ? " MM" : " II";
    const Bytes block = CameraBlock(order);
    cases.push_back({"tiff" + o, block, EXIFINFO_CONTAINER_TIFF, 111, 222, 1});
    cases.push_back({"orf" + o, CameraBlock(order, 0x4F52), EXIFINFO_CONTAINER_TIFF, 111, 222, 1});
    cases.push_back({"heic" + o, HeifWith(block), EXIFINFO_CONTAINER_HEIF, 4032, 3024, 1});
    HeifOptions idat;
    idat.inIdat = true;
    idat.width = 640;
    cases.push_back({"heic idat" + o, HeifWith(block, idat), EXIFINFO_CONTAINER_HEIF, 640, 3024, 1});
    HeifOptions avif;
    avif.brand = "avif", avif.channels = 1, avif.width = 300, avif.height = 200;
    cases.push_back({"avif grey" + o, HeifWith(block, avif), EXIFINFO_CONTAINER_AVIF, 300, 200, 0});
    cases.push_back({"png" + o, PngWith(block), EXIFINFO_CONTAINER_PNG, 640, 480, 1});
    cases.push_back({"png grey, eXIf first" + o, PngWith(block, 64, 32, 0, false), EXIFINFO_CONTAINER_PNG, 64, 32, 0});
    for (const char* text : {"tEXt", "zTXt", "iTXt"})
      cases.push_back({std::string("png raw profile in ") + text + o, PngRawProfile(block, text), EXIFINFO_CONTAINER_PNG,
                       640, 480, 1, EXIFINFO_END_OF_METADATA, 0, -2, -2, false});
    cases.push_back({"webp" + o, WebpWith(block), EXIFINFO_CONTAINER_WEBP, 800, 600, 1});
    cases.push_back({"webp Exif header" + o, WebpWith(block, 17, 9, true), EXIFINFO_CONTAINER_WEBP, 17, 9, 1});
    cases.push_back({"jxl" + o, JxlWith(block), EXIFINFO_CONTAINER_JXL, 0, 0, 0, EXIFINFO_END_OF_METADATA, 0, 1920, 1080});
    cases.push_back({"jxl, codestream first" + o, JxlWith(block, true), EXIFINFO_CONTAINER_JXL, 0, 0, 0,
                     EXIFINFO_END_OF_METADATA, 0, 1920, 1080});
    const Bytes jpeg = JpegBuilder().Soi().App1Exif(block).BaselineFrame(90, 160).StartOfScan().Build();
    cases.push_back({"mrw" + o, MrwWith(block), EXIFINFO_CONTAINER_MRW, 3264, 2448, 1});
    cases.push_back({"raf" + o, RafWith(jpeg), EXIFINFO_CONTAINER_RAF, 160, 90, 1, EXIFINFO_START_OF_SCAN, 0xC0, 4256, 1424});
  }
  cases.push_back({"rw2", CameraBlock(ByteOrder::kLittle, 0x0055), EXIFINFO_CONTAINER_TIFF, 111, 222, 1});
  return cases;
}

// Reads `bytes` written into a pipe by a child process.
Photo FromPipe(const Bytes& bytes) {
  int ends[2];
  if (pipe(ends) != 0) return nullptr;
  const pid_t child = fork();
  if (child == 0) {
    close(ends[0]);
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(ends[1], bytes.data() + done, bytes.size() - done);
      if (n <= 0) _exit(1);
      done += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(ends[1]);
  exifinfo_photo* p = nullptr;
  EXPECT_EQ(exifinfo_read_fd(ends[0], &p), 0);
  close(ends[0]);
  waitpid(child, nullptr, 0);
  return Photo(p);
}

TEST(Containers, EachGivesTheBlocksValuesItsOwnFrameAndTheSameResultEveryWay) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const Photo p = FromMemory(c.file);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->container, c.container);
    EXPECT_EQ(p->ending, c.ending) << exifinfo_ending_name(p->ending) << " " << p->last_error;
    EXPECT_EQ(p->HasExif, 1);
    EXPECT_STREQ(p->CameraMake, "Tolvane");
    EXPECT_STREQ(p->CameraModel, "Field 7");
    EXPECT_STREQ(p->DateTime, "2024:05:06 07:08:09");
    EXPECT_STREQ(p->CaptureTime, "2024-05-06T07:08:09+02:00");
    EXPECT_EQ(p->Orientation, 6);
    EXPECT_EQ(p->ExposureTime, 1.0f / 250);
    EXPECT_EQ(p->ApertureFNumber, 2.8f);
    EXPECT_EQ(p->ISO, 400);
    EXPECT_EQ(p->HasGPS, 1);
    EXPECT_NEAR(p->GPSLatitude, 59.325, 1e-9);
    EXPECT_NEAR(p->GPSLongitude, 18.0666666667, 1e-9);
    EXPECT_EQ(p->Width, c.width);
    EXPECT_EQ(p->Height, c.height);
    EXPECT_EQ(p->IsColor, c.isColor);
    EXPECT_EQ(p->Process, c.process);
    EXPECT_EQ(p->file.ImageWidth, c.mainWidth == -2 ? c.width : c.mainWidth);
    EXPECT_EQ(p->file.ImageHeight, c.mainHeight == -2 ? c.height : c.mainHeight);
    EXPECT_EQ(p->file.HasExif, 1);
    EXPECT_STREQ(p->file.Make, "Tolvane");
    EXPECT_EQ(p->file.ExposureTime, 1.0 / 250);  // the rational as a double, not the report's float
    EXPECT_EQ(p->file.ThumbnailLength, static_cast<int32_t>(kThumbnail.size()));
    if (c.thumbnail) {
      ASSERT_NE(p->thumbnail, nullptr);
      EXPECT_EQ(Bytes(p->thumbnail, p->thumbnail + p->thumbnail_size), kThumbnail);
    } else {
      EXPECT_EQ(p->thumbnail, nullptr);
    }
    EXPECT_NE(std::string(p->report).find("Camera Make: Tolvane\r\n"), std::string::npos);
    const TempFile file(c.file);
    const std::string expected = Describe(p.get());
    EXPECT_EQ(Describe(FromPath(file.path()).get()), expected);
    EXPECT_EQ(Describe(FromDescriptor(file.path()).get()), expected);
    EXPECT_EQ(Describe(FromPipe(c.file).get()), expected);
  }
}

// A read that says it reached all the metadata has read all of it; any other prefix ends cut or
// damaged (or, before its container is known, as no photo).
TEST(Containers, EveryPrefixEndsCleanlyAndNeverClaimsMoreThanItRead) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const std::string whole = Describe(FromMemory(c.file).get());
    for (size_t n = 0; n < c.file.size(); ++n) {
      const Photo p = FromMemory(Bytes(c.file.begin(), c.file.begin() + static_cast<long>(n)));
      ASSERT_NE(p, nullptr) << n;
      if (p->ending == c.ending && p->HasExif == 1 && p->thumbnail != nullptr) {
        EXPECT_EQ(Describe(p.get()), whole) << n;
      }
      EXPECT_NE(p->ending, EXIFINFO_READ_ERROR) << n;
    }
  }
}

// Hostile structures: each ends as stated, with no sanitizer finding and in bounded time.
TEST(Containers, HostileStructuresEndCleanly) {
  const Bytes block = CameraBlock(ByteOrder::kBig);
  const Bytes heif = HeifWith(block);
  const Bytes ftyp(heif.begin(), heif.begin() + 20);  // "heic", version, "mif1"
  const auto withMeta = [&](const Bytes& children) { return Concat({ftyp, FullBox("meta", 0, children)}); };
  const Bytes iinfExif = FullBox("iinf", 0, Concat({Big16(1), FullBox("infe", 2, Concat({Big16(2), Big16(0), Bytes{'E', 'x', 'i', 'f', 0}}))}));
  // iloc version 2 with no offset or length bytes: 100,000 items of 65,535 empty extents each.
  Bytes manyItems = Concat({Bytes{2, 0, 0, 0}, Big16(0), Big32(100000)});
  for (int i = 0; i < 100000; ++i) Append(manyItems, Concat({Big32(static_cast<uint32_t>(i + 10)), Big16(0), Big16(0), Big16(0xFFFF)}));
  const auto exifAt = [&](uint32_t offset, uint32_t length) {
    return FullBox("iloc", 1, Concat({Big16(0x4400), Big16(1), Big16(2), Big16(0), Big16(0), Big16(1), Big32(offset), Big32(length)}));
  };
  Bytes pngHuge = PngWith(block);
  pngHuge[8 + 25] = 0x80;  // the IDAT chunk's length past 2^31
  Bytes webpPast = WebpWith(block);
  webpPast[4] = 40;  // a RIFF size that ends inside the VP8 chunk
  webpPast[5] = webpPast[6] = webpPast[7] = 0;
  TiffBuilder loop(ByteOrder::kLittle);
  loop.Directory().Ascii(0x010F, "Loop").NextDirectory(TiffBuilder::kSelf);
  // 2,000 Artist texts of a mebibyte each, two bytes apart: held apart, they would take 2 GiB.
  const auto manyTexts = [](uint32_t at) {
    TiffBuilder t(ByteOrder::kLittle);
    TiffBuilder::Dir& d = t.Directory();
    for (uint32_t k = 0; k < 2000; ++k) d.RawEntry(0x013B, 2, 1u << 20, at + 2 * k);
    t.Trailer(Bytes((1u << 20) + 8192, 'a'));
    return t.Build();
  };
  const Bytes textsFirst = manyTexts(0);
  const Bytes overlappingTexts = manyTexts(static_cast<uint32_t>(textsFirst.size() - (1u << 20) - 8192));
  const Bytes bigTiff = BigTiffWith(ByteOrder::kLittle, "Big", 10, 20);
  Bytes bigPast = bigTiff;
  bigPast[8] = 0xF0;  // IFD0 at 240, past the file

  const struct {
    const char* name;
    Bytes file;
    int ending;
  } cases[] = {
      {"64-bit box size past the end", Concat({ftyp, Big32(1), Bytes{'f', 'r', 'e', 'e'}, Big32(0), Big32(99999)}), EXIFINFO_PREMATURE_END},
      {"box size 0 runs to the end", Concat({ftyp, Big32(0), Bytes{'f', 'r', 'e', 'e', 1, 2, 3}}), EXIFINFO_END_OF_METADATA},
      {"box size below its header", Concat({ftyp, Big32(4), Bytes{'m', 'e', 't', 'a'}}), EXIFINFO_DAMAGED},
      {"meta claims more than the file", Concat({ftyp, Big32(5000), Bytes{'m', 'e', 't', 'a', 0, 0, 0, 0}}), EXIFINFO_PREMATURE_END},
      {"child claims more than meta", withMeta(Concat({Big32(900), Bytes{'p', 'i', 't', 'm'}})), EXIFINFO_DAMAGED},
      {"iloc with endless empty extents", withMeta(Concat({FullBox("pitm", 0, Big16(1)), iinfExif, Box("iloc", manyItems)})), EXIFINFO_END_OF_METADATA},
      {"Exif item past the end", withMeta(Concat({iinfExif, exifAt(100000, 500)})), EXIFINFO_PREMATURE_END},
      {"Exif item's offset outside it", withMeta(Concat({iinfExif, exifAt(0, 8)})), EXIFINFO_DAMAGED},
      {"PNG chunk length past 2^31", pngHuge, EXIFINFO_DAMAGED},
      {"WebP chunk past the RIFF size", webpPast, EXIFINFO_DAMAGED},
      {"TIFF directory that links to itself", loop.Build(), EXIFINFO_END_OF_METADATA},
      {"BigTIFF IFD0 past the file", bigPast, EXIFINFO_PREMATURE_END},
      {"thousands of long texts held apart", overlappingTexts, EXIFINFO_PREMATURE_END},
      {"no known container", Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0}, EXIFINFO_NOT_A_JPEG},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Photo p = FromMemory(c.file);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(exifinfo_ending_name(p->ending), exifinfo_ending_name(c.ending)) << p->last_error;
    EXPECT_EQ(p->container == EXIFINFO_CONTAINER_UNKNOWN, c.ending == EXIFINFO_NOT_A_JPEG);
  }
  const Photo looped = FromMemory(loop.Build());
  EXPECT_STREQ(looped->CameraMake, "Loop");
}

TEST(Containers, BigTiffInBothOrdersBecomesTheWalkersBlock) {
  for (const ByteOrder order : {ByteOrder::kLittle, ByteOrder::kBig}) {
    const Photo p = FromMemory(BigTiffWith(order, "Big7cam", 4000, 3000));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->container, EXIFINFO_CONTAINER_TIFF);
    EXPECT_EQ(p->ending, EXIFINFO_END_OF_METADATA) << p->last_error;
    EXPECT_STREQ(p->CameraMake, "Big7cam");
    EXPECT_EQ(p->Width, 4000);
    EXPECT_EQ(p->Height, 3000);
    EXPECT_EQ(p->ExposureTime, 1.0f / 250);
  }
}

TEST(Containers, Cr3JoinsItsIfd0AndExifBlocks) {
  TiffBuilder ifd0(ByteOrder::kLittle), exif(ByteOrder::kLittle);
  ifd0.Directory().Short(0x0100, 6000).Short(0x0101, 4000).Ascii(0x010F, "Canon").Ascii(0x0110, "EOS M50");
  exif.Directory().Rational(0x829A, 1, 80).Short(0x8827, 12800).Ascii(0xA434, "EF-M15-45mm");
  // Its moov also has a movie header and tracks, whose size is no photo's: the length and the
  // rotation are the record's, the frame stays IFD0's.
  MovieOptions movie;
  movie.brand = "", movie.moovFirst = true, movie.a = movie.d = 0, movie.b = 0x10000, movie.c = -0x10000;
  const Bytes video = MovieWith(movie);
  const size_t moovSize = size_t{video[0]} << 24 | size_t{video[1]} << 16 | size_t{video[2]} << 8 | video[3];
  const Bytes moovBody(video.begin() + 8, video.begin() + static_cast<std::ptrdiff_t>(moovSize));
  for (const Bytes& more : {Bytes{}, moovBody}) {
    const Photo p = FromMemory(Cr3With(ifd0.Build(), exif.Build(), more));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->container, EXIFINFO_CONTAINER_CR3);
    EXPECT_EQ(p->ending, EXIFINFO_END_OF_METADATA) << p->last_error;
    EXPECT_STREQ(p->CameraModel, "EOS M50");
    EXPECT_EQ(p->ExposureTime, 1.0f / 80);
    EXPECT_EQ(p->ISO, 12800);
    EXPECT_STREQ(p->LensModel, "EF-M15-45mm");
    EXPECT_EQ(p->Width, 6000);
    EXPECT_EQ(p->file.ImageWidth, 6000);
    if (more.empty()) {
      EXPECT_TRUE(std::isnan(p->Duration));
      EXPECT_EQ(p->Rotation, -1);
    } else {
      EXPECT_DOUBLE_EQ(p->Duration, 2401.0 / 600);
      EXPECT_EQ(p->Rotation, 90);
      EXPECT_STREQ(p->CreateDate, "2025:01:02 03:04:05");  // EXIF has none: the movie header's
    }
  }
}

// A photo as the caller's ranges give it: `chunk` bytes at most a call, counted.
struct Ranges {
  const Bytes* bytes;
  size_t chunk = SIZE_MAX;
  int failAfter = -1;  // calls before one fails with EIO
  int calls = 0;
  uint64_t given = 0;
  static int64_t ReadAt(void* context, uint64_t offset, void* out, size_t length, int* error) {
    auto* self = static_cast<Ranges*>(context);
    if (self->failAfter >= 0 && self->calls >= self->failAfter) return *error = EIO, -1;
    ++self->calls;
    if (offset >= self->bytes->size()) return 0;
    const size_t n = std::min({length, self->chunk, self->bytes->size() - static_cast<size_t>(offset)});
    std::memcpy(out, self->bytes->data() + offset, n);
    self->given += n;
    return static_cast<int64_t>(n);
  }
};

Photo FromSource(Ranges& ranges, bool sizeKnown, int expectedStatus = 0) {
  const exifinfo_source source{&Ranges::ReadAt, &ranges, sizeKnown ? ranges.bytes->size() : EXIFINFO_SIZE_UNKNOWN};
  exifinfo_photo* p = nullptr;
  EXPECT_EQ(exifinfo_read_source(&source, &p), expectedStatus);
  return Photo(p);
}

// The caller's loop of exifinfo_read_ranges: fetch what the result asks for until it asks no
// more. `fetches` counts the rounds.
Photo Resumed(const Bytes& file, bool sizeKnown, int& fetches) {
  std::vector<Bytes> held;
  bool ended = false;
  for (fetches = 0; fetches < 100; ++fetches) {
    std::vector<exifinfo_range> ranges;
    for (const Bytes& piece : held) {
      uint64_t offset;
      std::memcpy(&offset, piece.data(), 8);  // each held piece starts with its offset
      ranges.push_back({offset, piece.data() + 8, piece.size() - 8});
    }
    exifinfo_photo* p = nullptr;
    EXPECT_EQ(exifinfo_read_ranges(ranges.data(), ranges.size(), sizeKnown || ended ? file.size() : EXIFINFO_SIZE_UNKNOWN, &p), 0);
    Photo photo(p);
    if (photo == nullptr || photo->ending != EXIFINFO_NEEDS_MORE) return photo;
    const uint64_t offset = photo->next_offset;
    const size_t length = static_cast<size_t>(std::min<uint64_t>(photo->next_length, offset < file.size() ? file.size() - offset : 0));
    if (length < photo->next_length) ended = true;  // a short fetch: the photo ends there
    Bytes piece(8);
    std::memcpy(piece.data(), &offset, 8);
    piece.insert(piece.end(), file.begin() + static_cast<long>(std::min<uint64_t>(offset, file.size())),
                 file.begin() + static_cast<long>(std::min<uint64_t>(offset, file.size()) + length));
    held.push_back(piece);
  }
  return nullptr;
}

// A TIFF is walked where it lies: a megabyte of ICC profile between its directories and its thumbnail
// is neither fetched nor copied, and IFD0's own 0x0201 (an old-style JPEG TIFF's image) is no
// thumbnail; IFD1's is, in either byte order and through every way of reading.
TEST(Containers, TiffIsWalkedInPlaceFetchingOnlyWhatTheWalkReads) {
  for (const ByteOrder order : {ByteOrder::kLittle, ByteOrder::kBig}) {
    const auto build = [&](uint32_t thumbnailAt) {
      TiffBuilder t(order);
      t.Directory().Short(0x0100, 4000).Short(0x0101, 3000).Ascii(0x010F, "Tolvane").Long(0x0201, 8).Long(0x0202, 64)
          .Undefined(0x8773, Bytes(1 << 20, '<')).NextDirectory(1);
      t.Directory().Long(0x0201, thumbnailAt).Long(0x0202, static_cast<uint32_t>(kThumbnail.size()));
      t.Trailer(kThumbnail);
      return t.Build();
    };
    const Bytes file = build(static_cast<uint32_t>(build(0).size() - kThumbnail.size()));
    Ranges ranges{&file};
    const Photo p = FromSource(ranges, true);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->ending, EXIFINFO_END_OF_METADATA) << p->last_error;
    EXPECT_STREQ(p->CameraMake, "Tolvane");
    EXPECT_EQ(p->Width, 4000);
    ASSERT_NE(p->thumbnail, nullptr);
    EXPECT_EQ(Bytes(p->thumbnail, p->thumbnail + p->thumbnail_size), kThumbnail);
    EXPECT_LT(ranges.given, file.size() / 4) << ranges.calls << " calls";
    EXPECT_EQ(Describe(FromMemory(file).get()), Describe(p.get()));
  }
}

// Every way of giving the bytes reads the same photo: a source of known or unknown size giving
// them whole or 1,000 at a time, and the resumed reads.
TEST(Ranges, SourcesAndResumedReadsGiveTheMemoryReadsPhoto) {
  std::vector<Case> cases = Cases();
  cases.push_back({"sample", testing_builders::ReadFileBytes(EXIFINFO_SAMPLE_JPEG), EXIFINFO_CONTAINER_JPEG, 0, 0, 0});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string expected = Describe(FromMemory(c.file).get());
    for (const size_t chunk : {SIZE_MAX, size_t{1000}}) {
      for (const bool sizeKnown : {true, false}) {
        Ranges ranges{&c.file, chunk};
        const Photo p = FromSource(ranges, sizeKnown);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(Describe(p.get()), expected) << chunk << " " << sizeKnown;
        EXPECT_EQ(p->requests, static_cast<uint64_t>(ranges.calls));
        EXPECT_LE(p->bytes_read, c.file.size());
      }
    }
    for (const bool sizeKnown : {true, false}) {
      int fetches = 0;
      const Photo p = Resumed(c.file, sizeKnown, fetches);
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(Describe(p.get()), expected) << sizeKnown;
      EXPECT_LE(fetches, 8) << sizeKnown;  // a few ranges, not the bytes one page at a time
    }
  }
}

// A batch on the library's threads gives each input what its own read gives, in order.
TEST(Ranges, ReadManyGivesEachInputsOwnRead) {
  const std::vector<Case> cases = Cases();
  std::vector<std::unique_ptr<TempFile>> files;
  std::vector<exifinfo_input> inputs;
  std::vector<int> fds;
  for (const Case& c : cases) {
    files.push_back(std::make_unique<TempFile>(c.file));
    inputs.push_back({files.back()->path().c_str(), nullptr, 0, -1});
    inputs.push_back({nullptr, c.file.data(), c.file.size(), -1});
    fds.push_back(open(files.back()->path().c_str(), O_RDONLY | O_CLOEXEC));
    inputs.push_back({nullptr, nullptr, 0, fds.back()});
  }
  inputs.push_back({"/nonexistent/photo.jpg", nullptr, 0, -1});
  for (const int threads : {1, 4}) {
    std::vector<exifinfo_photo*> photos(inputs.size(), nullptr);
    std::vector<int> errors(inputs.size(), -1);
    exifinfo_read_many(inputs.data(), inputs.size(), threads, photos.data(), errors.data());
    for (size_t i = 0; i + 1 < inputs.size(); ++i) {
      const Photo p(photos[i]);
      EXPECT_EQ(errors[i], 0);
      EXPECT_EQ(Describe(p.get()), Describe(FromMemory(cases[i / 3].file).get())) << cases[i / 3].name << " " << i % 3;
    }
    EXPECT_EQ(errors.back(), ENOENT);
    EXPECT_EQ(photos.back(), nullptr);
  }
  for (const int fd : fds) close(fd);
}

TEST(Ranges, FailingAndLyingSourcesEndCleanly) {
  const Bytes sample = testing_builders::ReadFileBytes(EXIFINFO_SAMPLE_JPEG);
  Ranges first{&sample, SIZE_MAX, 0};
  EXPECT_EQ(FromSource(first, true, EIO), nullptr);  // the first read fails: the caller's error
  Ranges later{&sample, 100, 3};
  const Photo cut = FromSource(later, true);
  EXPECT_EQ(cut->ending, EXIFINFO_READ_ERROR);
  EXPECT_EQ(cut->read_errno, EIO);
  const Bytes empty;
  Ranges none{&empty};
  EXPECT_EQ(FromSource(none, true)->ending, EXIFINFO_NOT_A_JPEG);
  // A size that is not the data's: nothing past the size is asked for, and a source that ends
  // before it ends the photo; either way the photo is the memory read of what it gave.
  for (const uint64_t claimed : {uint64_t{0}, uint64_t{1000}, uint64_t{sample.size() + 5000}}) {
    Ranges ranges{&sample};
    const exifinfo_source source{&Ranges::ReadAt, &ranges, claimed};
    exifinfo_photo* p = nullptr;
    ASSERT_EQ(exifinfo_read_source(&source, &p), 0);
    const Photo photo(p);
    const Bytes given(sample.begin(), sample.begin() + static_cast<long>(std::min<uint64_t>(claimed, sample.size())));
    EXPECT_EQ(Describe(photo.get()), Describe(FromMemory(given).get())) << claimed;
    EXPECT_LE(photo->bytes_read, std::min<uint64_t>(claimed, sample.size()));
  }
  // More than asked: a source that writes past the length is refused.
  const exifinfo_source liar{[](void*, uint64_t, void* out, size_t length, int*) -> int64_t {
                               std::memset(out, 0xFF, length);
                               return static_cast<int64_t>(length) + 1;
                             },
                             nullptr, EXIFINFO_SIZE_UNKNOWN};
  exifinfo_photo* p = nullptr;
  EXPECT_EQ(exifinfo_read_source(&liar, &p), EIO);
  EXPECT_EQ(exifinfo_read_source(nullptr, &p), EINVAL);
  EXPECT_EQ(exifinfo_read_ranges(nullptr, 1, 0, &p), EINVAL);
  // No ranges yet: the first range to fetch is the first 128 KiB.
  ASSERT_EQ(exifinfo_read_ranges(nullptr, 0, EXIFINFO_SIZE_UNKNOWN, &p), 0);
  const Photo start(p);
  EXPECT_EQ(start->ending, EXIFINFO_NEEDS_MORE);
  EXPECT_EQ(start->next_offset, 0u);
  EXPECT_EQ(start->next_length, 131072u);
  EXPECT_STREQ(exifinfo_ending_name(EXIFINFO_NEEDS_MORE), "needs_more");
}

// A file of `size` bytes, zeros but for its parts (sorted, apart): hostile layouts of gigabytes
// without the memory. Its requests and the bytes they gave are counted.
struct Sparse {
  uint64_t size = 0;
  std::vector<std::pair<uint64_t, Bytes>> parts;
  int calls = 0;  // requests: a call for the rest of a short answer is none
  uint64_t continuesAt = UINT64_MAX;
  uint64_t given = 0;
  void Put(uint64_t at, const Bytes& bytes) { parts.emplace_back(at, bytes), size = std::max(size, at + bytes.size()); }
  void Fill(uint64_t offset, uint8_t* out, size_t n) const {
    std::memset(out, 0, n);
    auto part = std::upper_bound(parts.begin(), parts.end(), offset, [](uint64_t a, const auto& p) { return a < p.first; });
    if (part != parts.begin()) --part;
    for (; part != parts.end() && part->first < offset + n; ++part) {
      const uint64_t from = std::max(offset, part->first), to = std::min(offset + n, part->first + part->second.size());
      if (from < to) std::memcpy(out + (from - offset), part->second.data() + (from - part->first), to - from);
    }
  }
  static int64_t ReadAt(void* context, uint64_t offset, void* out, size_t length, int*) {
    auto* self = static_cast<Sparse*>(context);
    self->calls += offset != self->continuesAt;  // the rest of a short answer is the same request
    const size_t n = static_cast<size_t>(offset >= self->size ? 0 : std::min<uint64_t>(length, self->size - offset));
    self->continuesAt = n < length ? offset + n : UINT64_MAX;
    self->Fill(offset, static_cast<uint8_t*>(out), n);
    self->given += n;
    return static_cast<int64_t>(n);
  }
};

// Layouts that make a walk ask for one place after another far apart: each would cost thousands
// of requests and gigabytes; a read stays within its budget (16 requests and 2 MiB by default),
// resumed reads too, and ends as cut with what it read.
TEST(Ranges, HostileLayoutsCostAtMostTheBudget) {
  constexpr uint64_t kGap = 73728;  // more than one request's 64 KiB: every box or chunk a miss
  const auto boxHeader = [](const std::string& type, uint64_t size) {
    return size <= UINT32_MAX ? Concat({Big32(static_cast<uint32_t>(size)), Bytes(type.begin(), type.end())})
                              : Concat({Big32(1), Bytes(type.begin(), type.end()), Big32(static_cast<uint32_t>(size >> 32)),
                                        Big32(static_cast<uint32_t>(size))});
  };
  std::vector<std::pair<std::string, Sparse>> layouts;
  {  // HEIF: 4,094 top-level boxes 72 KiB apart, no meta among them.
    Sparse f;
    const Bytes ftyp = Box("ftyp", Concat({Bytes{'h', 'e', 'i', 'c'}, Big32(0), Bytes{'m', 'i', 'f', '1'}}));
    f.Put(0, ftyp);
    for (uint64_t k = 0; k < 4093; ++k) f.Put(ftyp.size() + k * kGap, boxHeader("free", kGap));
    layouts.emplace_back("heif", f);
  }
  {  // CR3: a moov of 65,536 children 72 KiB apart (4.8 GB).
    Sparse f;
    const Bytes ftyp = Box("ftyp", Concat({Bytes{'c', 'r', 'x', ' '}, Big32(1), Bytes{'c', 'r', 'x', ' '}}));
    f.Put(0, Concat({ftyp, boxHeader("moov", 16 + 65536 * kGap)}));
    for (uint64_t k = 0; k < 65536; ++k) f.Put(ftyp.size() + 16 + k * kGap, boxHeader("free", kGap));
    layouts.emplace_back("cr3", f);
  }
  {  // PNG: 60,000 IDAT chunks 72 KiB apart before any metadata (4.4 GB).
    Sparse f;
    Bytes head = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Append(head, PngChunk("IHDR", Concat({Big32(640), Big32(480), Bytes{8, 2, 0, 0, 0}})));
    f.Put(0, head);
    for (uint64_t k = 0; k < 60000; ++k) f.Put(head.size() + k * (kGap + 12), Concat({Big32(kGap), Bytes{'I', 'D', 'A', 'T'}}));
    layouts.emplace_back("png", f);
  }
  {  // TIFF: IFD0's 700 texts round-robin in five places 1.25 MiB apart, so that four windows thrash.
    Sparse f;
    const uint16_t tags[] = {0x010E, 0x010F, 0x0110, 0x0131, 0x0132, 0x013B, 0x8298};
    constexpr uint16_t kEntries = 700;
    Bytes ifd = Concat({Bytes{'I', 'I', 42, 0}, Little32(8), Bytes{kEntries & 0xFF, kEntries >> 8}});
    for (uint32_t i = 0; i < kEntries; ++i) {
      const uint32_t at = 0x100000 + (i % 5) * 0x140000 + (i / 5) * 16;
      Append(ifd, Concat({Bytes{static_cast<uint8_t>(tags[i % 7]), static_cast<uint8_t>(tags[i % 7] >> 8), 2, 0},
                          Little32(12), Little32(at)}));
      f.Put(at, Bytes{'T', 'o', 'l', 'v', 'a', 'n', 'e', ' ', 'f', 'a', 'r', 0});
    }
    Append(ifd, Little32(0));
    f.parts.insert(f.parts.begin(), {0, ifd});
    std::sort(f.parts.begin(), f.parts.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    layouts.emplace_back("tiff", f);
  }
  for (auto& [name, file] : layouts) {
    SCOPED_TRACE(name);
    // Allowed four times the default, the walk takes it all: the layout is hostile indeed.
    Sparse wider = file;
    const exifinfo_source source{&Sparse::ReadAt, &wider, wider.size};
    const exifinfo_budget fourfold{64, 8 << 20};
    exifinfo_photo* p = nullptr;
    ASSERT_EQ(exifinfo_read_source_within(&source, &fourfold, &p), 0);
    Photo(p).reset();
    EXPECT_GT(wider.calls, 16);
    for (const bool sizeKnown : {true, false}) {
      Sparse budgeted = file;
      const exifinfo_source within{&Sparse::ReadAt, &budgeted, sizeKnown ? budgeted.size : EXIFINFO_SIZE_UNKNOWN};
      ASSERT_EQ(exifinfo_read_source(&within, &p), 0);
      const Photo photo(p);
      EXPECT_LE(budgeted.calls, 16) << sizeKnown;
      EXPECT_LE(budgeted.given, uint64_t{2} << 20) << sizeKnown;
      EXPECT_EQ(photo->ending, EXIFINFO_PREMATURE_END) << sizeKnown;
      EXPECT_NE(std::string(photo->last_error).find("Read cut"), std::string::npos) << photo->last_error;
    }
    // The resume loop: each round gives what was fetched so far; it ends, cut, within the budget.
    std::vector<Bytes> held;
    std::vector<exifinfo_range> ranges;
    int rounds = 0;
    for (;; ++rounds) {
      ASSERT_LE(rounds, 17);
      ASSERT_EQ(exifinfo_read_ranges(ranges.data(), ranges.size(), file.size, &p), 0);
      const Photo photo(p);
      if (photo->ending != EXIFINFO_NEEDS_MORE) {
        EXPECT_EQ(photo->ending, EXIFINFO_PREMATURE_END);
        break;
      }
      ASSERT_LE(photo->next_offset + photo->next_length, file.size);
      held.emplace_back(static_cast<size_t>(photo->next_length));
      file.Fill(photo->next_offset, held.back().data(), held.back().size());
      ranges.push_back({photo->next_offset, nullptr, held.back().size()});
      for (size_t k = 0; k < held.size(); ++k) ranges[k].data = held[k].data();  // held may have moved
    }
  }
}

// A box whose 64-bit size points next to 2^64: with the size unknown, no range asked for runs
// past 2^64 (it once wrapped to a range at the photo's start).
TEST(Ranges, NoRangeRunsPast2To64) {
  const Bytes ftyp = Box("ftyp", Concat({Bytes{'h', 'e', 'i', 'c'}, Big32(0), Bytes{'m', 'i', 'f', '1'}}));
  const uint64_t size = UINT64_MAX - 4095 - ftyp.size();
  const Bytes head = Concat({ftyp, Big32(1), Bytes{'f', 'r', 'e', 'e'}, Big32(static_cast<uint32_t>(size >> 32)),
                             Big32(static_cast<uint32_t>(size)), Bytes(4096, 0)});
  const exifinfo_range range{0, head.data(), head.size()};
  exifinfo_photo* p = nullptr;
  ASSERT_EQ(exifinfo_read_ranges(&range, 1, EXIFINFO_SIZE_UNKNOWN, &p), 0);
  const Photo photo(p);
  if (photo->ending == EXIFINFO_NEEDS_MORE) {
    EXPECT_LE(photo->next_offset, UINT64_MAX - photo->next_length);
  }
  EXPECT_EQ(photo->container, EXIFINFO_CONTAINER_HEIF);
}

// EXIFInfo stays a JPEG reader: another container gives the report of a file that is no JPEG.
TEST(Containers, ExifInfoStillReadsJpegOnly) {
  const TempFile heic(HeifWith(CameraBlock(ByteOrder::kLittle)));
  const TempFile none(Bytes{'n', 'o'});
  const std::wstring heicPath(heic.path().begin(), heic.path().end()), nonePath(none.path().begin(), none.path().end());
  const std::wstring fromHeic = EXIFInfo(heicPath.c_str(), L"");
  EXPECT_EQ(fromHeic, std::wstring(EXIFInfo(nonePath.c_str(), L"")));
}

// A video's record line: every record key, so that two reads compare in one assertion.
std::string RecordLine(const exifinfo_photo* p) {
  char line[8192];
  exifinfo_record_json(p, nullptr, nullptr, nullptr, 0, line, sizeof line);
  return line;
}

const char* const kMake = "com.apple.quicktime.make";
const char* const kCreationDate = "com.apple.quicktime.creationdate";
const char* const kLocation = "com.apple.quicktime.location.ISO6709";
const std::string kMakeType = "\xA9mak", kModelType = "\xA9mod", kSoftwareType = "\xA9swr", kPlaceType = "\xA9xyz";

struct MovieCase {
  std::string name;
  MovieOptions o;
  int container;
  const char* make;  // null: absent
  const char* captureTime;
  const char* source;
  double latitude, longitude, altitude;  // NaN: absent
  int32_t rotation;
  int32_t isColor = 1;
};

std::vector<MovieCase> MovieCases() {
  const double none = NAN;
  std::vector<MovieCase> cases;
  MovieOptions phone;
  phone.a = 0, phone.b = 0x10000, phone.c = -0x10000, phone.d = 0;
  phone.keyed = {{kMake, "Apple"}, {"com.apple.quicktime.model", "iPhone 6"}, {"com.apple.quicktime.software", "12.3"},
                 {kCreationDate, "2025-01-02T04:04:05+0100"}, {kLocation, "+59.3250+018.0667+012.500/"}};
  cases.push_back({"phone's mov, moov last", phone, EXIFINFO_CONTAINER_MOV, "Apple", "2025-01-02T04:04:05+01:00",
                   "quicktime", 59.325, 18.0667, 12.5, 90});
  MovieOptions camera;
  camera.brand = "isom", camera.moovFirst = true, camera.a = camera.d = -0x10000;
  camera.userData = {{kMakeType, "Tolvane"}, {kModelType, "Field 7"}, {kSoftwareType, "1.2"}, {kPlaceType, "-33.8568+151.2153/"}};
  cases.push_back({"camera's mp4, moov first, user data", camera, EXIFINFO_CONTAINER_MP4, "Tolvane",
                   "2025-01-02T03:04:05Z", "mvhd", -33.8568, 151.2153, none, 180});
  MovieOptions threeGp;
  threeGp.brand = "3gp5", threeGp.mvhdVersion = 1, threeGp.a = threeGp.d = 0, threeGp.b = -0x10000, threeGp.c = 0x10000;
  threeGp.userData = {{kPlaceType, "+1.5-2.25/"}};  // degrees without their leading zeros
  cases.push_back({"3gp, 64-bit movie header, a place of short degrees", threeGp, EXIFINFO_CONTAINER_MP4, nullptr,
                   "2025-01-02T03:04:05Z", "mvhd", 1.5, -2.25, none, 270});
  MovieOptions old;
  old.brand = "", old.depth = 40, old.created = 0;
  cases.push_back({"QuickTime without ftyp, grey, no creation time", old, EXIFINFO_CONTAINER_MOV, nullptr, nullptr, nullptr,
                   none, none, none, 0, 0});
  MovieOptions both;
  both.brand = "M4V ";
  both.keyed = {{kMake, "Apple"}, {kCreationDate, "2025-01-02 04:04:05.250+01:00"}, {kLocation, "+5919.50+01804.00/"}};
  both.userData = {{kMakeType, "Other"}, {kPlaceType, "+10.0000+010.0000/"}};
  cases.push_back({"m4v with keyed values and user data: keyed wins", both, EXIFINFO_CONTAINER_MP4, "Apple",
                   "2025-01-02T04:04:05.250+01:00", "quicktime", 59.325, 18.0666666666667, none, 0});
  return cases;
}

TEST(Movies, EachGivesItsValuesTheSameEveryWay) {
  for (const MovieCase& c : MovieCases()) {
    SCOPED_TRACE(c.name);
    const Bytes file = MovieWith(c.o);
    const Photo p = FromMemory(file);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->container, c.container);
    EXPECT_EQ(p->ending, EXIFINFO_END_OF_METADATA) << p->last_error;
    EXPECT_EQ(p->file.HasExif, 0);
    EXPECT_STREQ(p->file.Make, c.make != nullptr ? c.make : "");
    EXPECT_STREQ(p->CaptureTime, c.captureTime != nullptr ? c.captureTime : "");
    EXPECT_STREQ(p->CaptureTimeSource, c.source != nullptr ? c.source : "");
    EXPECT_STREQ(p->CreateDate, c.o.created != 0 ? "2025:01:02 03:04:05" : "");
    EXPECT_STREQ(p->ModifyDate, "2025:01:02 03:09:00");
    EXPECT_DOUBLE_EQ(p->Duration, 2401.0 / 600);
    EXPECT_EQ(p->Rotation, c.rotation);
    EXPECT_EQ(p->file.ImageWidth, 1920);
    EXPECT_EQ(p->file.ImageHeight, 1080);
    EXPECT_EQ(p->Width, 1920);
    EXPECT_EQ(p->IsColor, c.isColor);
    EXPECT_EQ(p->HasGPS, std::isnan(c.latitude) ? 0 : 1);
    for (const auto& [got, want] : {std::pair{p->GPSLatitude, c.latitude}, {p->GPSLongitude, c.longitude}, {p->GPSAltitude, c.altitude}}) {
      if (std::isnan(want)) EXPECT_TRUE(std::isnan(got)) << got;
      else EXPECT_NEAR(got, want, 1e-9);
    }
    EXPECT_EQ(p->thumbnail, nullptr);
    EXPECT_EQ(p->bytes_read, 0u);
    const std::string line = RecordLine(p.get());
    const TempFile temp(file);
    EXPECT_EQ(RecordLine(FromPath(temp.path()).get()), line);
    EXPECT_EQ(RecordLine(FromDescriptor(temp.path()).get()), line);
    EXPECT_EQ(RecordLine(FromPipe(file).get()), line);
    // The media is never read: a file's read fetches the head and the movie box alone.
    EXPECT_LT(FromPath(temp.path())->bytes_read, file.size() - c.o.mdatBytes + 8192);
    // Every prefix ends cut (or, before its container is known, as no photo); one that ends
    // having read all the metadata gives the whole file's record.
    for (size_t n = 0; n < file.size(); n += 7) {
      const Photo cut = FromMemory(Bytes(file.begin(), file.begin() + static_cast<long>(n)));
      ASSERT_NE(cut, nullptr);
      if (cut->ending == EXIFINFO_END_OF_METADATA) EXPECT_EQ(RecordLine(cut.get()), line) << n;
      else EXPECT_TRUE(cut->ending == EXIFINFO_PREMATURE_END || cut->ending == EXIFINFO_NOT_A_JPEG) << n << " " << exifinfo_ending_name(cut->ending);
    }
  }
}

// Hostile structure: each ends as stated, within its bytes (the sanitizers watch) and at once.
TEST(Movies, HostileStructuresEndDamagedOrCut) {
  const Bytes ftyp = Box("ftyp", Concat({Bytes{'q', 't', ' ', ' '}, Big32(0), Bytes{'q', 't', ' ', ' '}}));
  const Bytes mvhd = FullBox("mvhd", 0, Concat({Big32(3818631845u), Big32(3818632140u), Big32(600), Big32(2401), Bytes(80, 0)}));
  const auto movie = [&](const Bytes& children) { return Concat({ftyp, Box("moov", Concat({mvhd, children}))}); };
  // A movie keyed with its make, its bytes from `at` (an offset from the first `marker`) changed.
  const auto keyedMakeWith = [](const std::string& marker, long at, const Bytes& patch) {
    MovieOptions o;
    o.keyed = {{kMake, "Apple"}};
    Bytes file = MovieWith(o);
    const auto found = std::search(file.begin(), file.end(), marker.begin(), marker.end());
    std::copy(patch.begin(), patch.end(), found + at);
    return file;
  };
  Bytes nested = Box("tkhd", Bytes(84, 0));
  for (int k = 0; k < 1000; ++k) nested = Box("trak", nested);
  MovieOptions farTimes;
  farTimes.mvhdVersion = 1, farTimes.created = UINT64_MAX - 1, farTimes.modified = UINT64_MAX, farTimes.duration = UINT64_MAX;
  MovieOptions garbage;
  garbage.keyed = {{kLocation, "+9x.1+abc/"}, {kCreationDate, "2025-13-02T04:04:05+0100"}};
  const struct {
    const char* name;
    Bytes file;
    int ending;
    const char* make = "";  // what a sound part of a broken table still gives
  } cases[] = {
      {"mdat of size 0 to the end, no moov", Concat({ftyp, Big32(0), Bytes{'m', 'd', 'a', 't', 1, 2, 3}}), EXIFINFO_PREMATURE_END},
      {"64-bit mdat size past the end", Concat({ftyp, Big32(1), Bytes{'m', 'd', 'a', 't'}, Big32(1), Big32(0)}), EXIFINFO_PREMATURE_END},
      {"a child past its parent", movie(Concat({Big32(5000), Bytes{'t', 'r', 'a', 'k'}})), EXIFINFO_DAMAGED},
      {"moov that claims 4 GiB", Concat({ftyp, Big32(1), Bytes{'m', 'o', 'o', 'v'}, Big32(1), Big32(16), mvhd}), EXIFINFO_DAMAGED},
      {"a box below its header's size", movie(Concat({Big32(3), Bytes{'u', 'd', 't', 'a'}})), EXIFINFO_DAMAGED},
      {"keys index past its entries", keyedMakeWith("data", -8, Big32(7)), EXIFINFO_END_OF_METADATA},
      {"keys that claim a billion entries", keyedMakeWith("keys", 8, Big32(1000000000)), EXIFINFO_END_OF_METADATA, "Apple"},
      {"ilst item without data", keyedMakeWith("data", 0, Bytes{'f', 'r', 'e', 'e'}), EXIFINFO_END_OF_METADATA},
      {"ISO 6709 and creation date of garbage", MovieWith(garbage), EXIFINFO_END_OF_METADATA},
      {"64-bit times near the limit", MovieWith(farTimes), EXIFINFO_END_OF_METADATA},
      {"trak nested 1,000 deep", movie(nested), EXIFINFO_DAMAGED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Photo p = FromMemory(c.file);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(exifinfo_ending_name(p->ending), exifinfo_ending_name(c.ending)) << p->last_error;
    EXPECT_EQ(p->container, EXIFINFO_CONTAINER_MOV);
    // Nothing is taken from what does not read: no make past the keys, no place or time of garbage.
    EXPECT_STREQ(p->file.Make, c.make);
    EXPECT_EQ(p->HasGPS, 0);
    EXPECT_TRUE(std::string(p->CaptureTimeSource).empty() || std::string(p->CaptureTimeSource) == "mvhd") << p->CaptureTimeSource;
  }
  // Real files that once crashed or hung a reader.
  for (const char* name : {"exiv2-ghsa_g9xm_poc.mov", "exiv2-issue_2340_poc.mp4", "exiv2-issue_2377_poc.mp4"}) {
    const std::string path = std::string(EXIFINFO_MEDIA_DIR) + "/" + name;
    if (access(path.c_str(), R_OK) != 0) continue;  // the shared media are not here
    SCOPED_TRACE(name);
    const Photo p = FromPath(path);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->ending == EXIFINFO_PREMATURE_END || p->ending == EXIFINFO_DAMAGED) << exifinfo_ending_name(p->ending);
  }
  const Photo far = FromMemory(MovieWith(farTimes));
  EXPECT_STREQ(far->CreateDate, "");
  EXPECT_STREQ(far->CaptureTime, "");
  EXPECT_DOUBLE_EQ(far->Duration, static_cast<double>(UINT64_MAX) / 600);
}

// A 2 GiB video whose movie box is at its end: the head and the tail, never the media.
TEST(Movies, MoovAtTheEndOfTwoGigabytesTakesTheHeadAndTheTail) {
  constexpr uint64_t kSize = uint64_t{2} << 30;
  MovieOptions phone = MovieCases()[0].o;
  phone.mdatBytes = 0;
  const Bytes small = MovieWith(phone);  // ftyp, wide, an empty mdat, moov
  const Bytes ftyp(small.begin(), small.begin() + 20);
  const Bytes moov(small.begin() + 36, small.end());
  Sparse f;
  const uint64_t mdatSize = kSize - moov.size() - ftyp.size();
  f.Put(0, Concat({ftyp, Big32(1), Bytes{'m', 'd', 'a', 't'}, Big32(static_cast<uint32_t>(mdatSize >> 32)),
                   Big32(static_cast<uint32_t>(mdatSize))}));
  f.Put(kSize - moov.size(), moov);
  const exifinfo_source source{&Sparse::ReadAt, &f, f.size};
  exifinfo_photo* raw = nullptr;
  ASSERT_EQ(exifinfo_read_source(&source, &raw), 0);
  const Photo p(raw);
  EXPECT_EQ(p->ending, EXIFINFO_END_OF_METADATA);
  EXPECT_STREQ(p->file.Make, "Apple");
  EXPECT_EQ(p->Rotation, 90);
  EXPECT_LE(f.calls, 3);
  EXPECT_LT(f.given, uint64_t{1} << 20);
  // The same from a sparse file on disk, by path.
  const TempFile file(Bytes{});
  {
    const int fd = open(file.path().c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    for (const auto& [at, bytes] : f.parts) ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at)), static_cast<ssize_t>(bytes.size()));
    close(fd);
  }
  const Photo fromFile = FromPath(file.path());
  EXPECT_EQ(RecordLine(fromFile.get()), RecordLine(p.get()));
  EXPECT_LE(fromFile->requests, 3u);
  EXPECT_LT(fromFile->bytes_read, uint64_t{1} << 20);
}

// XMP and IPTC found in every container they are kept in, through the record, and a JPEG's
// Extended XMP joined, or passed over when its parts do not make one packet.
Bytes Of(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string PacketWith(const std::string& properties) {
  return "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
         "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
         "xmlns:dc='http://purl.org/dc/elements/1.1/' xmlns:xmpNote='http://ns.adobe.com/xmp/note/' "
         "xmlns:xmp='http://ns.adobe.com/xap/1.0/' " +
         properties + "</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
}
const std::string kPacket = PacketWith("xmp:Rating='4'><dc:subject><rdf:Bag><rdf:li>found</rdf:li></rdf:Bag></dc:subject>");

nlohmann::json Record(const Bytes& file) {
  const Photo p = FromMemory(file);
  const size_t length = exifinfo_record_json(p.get(), "", nullptr, nullptr, 0, nullptr, 0);
  std::string line(length, '\0');
  exifinfo_record_json(p.get(), "", nullptr, nullptr, 0, &line[0], length + 1);
  return nlohmann::json::parse(line);
}

Bytes Jpeg(std::initializer_list<std::pair<uint8_t, Bytes>> segments) {
  JpegBuilder j;
  j.Soi();
  for (const auto& [marker, contents] : segments) j.Segment(marker, contents);
  return j.BaselineFrame(8, 8).StartOfScan().Build();
}

std::pair<uint8_t, Bytes> Xmp(const std::string& packet) {
  return {0xE1, Concat({Of("http://ns.adobe.com/xap/1.0/"), Bytes{0}, Of(packet)})};
}
// An Extended XMP part: GUID, the whole packet's length, this part's offset in it, its bytes.
std::pair<uint8_t, Bytes> Part(const std::string& guid, uint32_t total, uint32_t offset, const std::string& bytes) {
  return {0xE1, Concat({Of("http://ns.adobe.com/xmp/extension/"), Bytes{0}, Of(guid), Big32(total), Big32(offset), Of(bytes)})};
}

// IPTC in Photoshop's resources: record 2's keywords.
std::pair<uint8_t, Bytes> Iptc() {
  const Bytes iim = {0x1C, 2, 25, 0, 5, 'f', 'o', 'u', 'n', 'd'};
  return {0xED, Concat({Of("Photoshop 3.0"), Bytes{0}, Of("8BIM"), Bytes{4, 4, 0, 0}, Big32(static_cast<uint32_t>(iim.size())),
                        iim})};
}

Bytes WithRiffChunk(Bytes webp, const Bytes& chunk) {
  Append(webp, chunk);
  const Bytes size = Little32(static_cast<uint32_t>(webp.size() - 8));
  std::copy(size.begin(), size.end(), webp.begin() + 4);
  return webp;
}

TEST(Meta, PacketsAreFoundInEveryContainer) {
  const std::string guid(32, 'A');
  const std::string main = PacketWith("xmpNote:HasExtendedXMP='" + guid + "'>");
  const std::string extended = PacketWith("><dc:subject><rdf:Bag><rdf:li>found</rdf:li></rdf:Bag></dc:subject>");
  const auto total = static_cast<uint32_t>(extended.size());
  const std::string head = extended.substr(0, 100), tail = extended.substr(100);
  TiffBuilder tiff(ByteOrder::kLittle);
  tiff.Directory().Short(0x0100, 8).Short(0x0101, 8).Undefined(0x02BC, Of(kPacket));
  const Bytes itxt = Concat({Of("XML:com.adobe.xmp"), Bytes{0, 0, 0, 0, 0}, Of(kPacket)});
  const Bytes png = Concat({Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'},
                            PngChunk("IHDR", Concat({Big32(8), Big32(8), Bytes{8, 2, 0, 0, 0}})), PngChunk("iTXt", itxt),
                            PngChunk("IDAT", Bytes(30, 0x55)), PngChunk("IEND", {})});
  const Bytes jxl = Concat({Bytes{0, 0, 0, 12, 'J', 'X', 'L', ' ', '\r', '\n', 0x87, '\n'},
                            Box("ftyp", Concat({Of("jxl "), Big32(0), Of("jxl ")})), Box("xml ", Of(kPacket)),
                            Box("jxlc", Bytes{0xFF, 0x0A, 0xBA, 0x21, 0x05, 0x09, 0xC5, 0x85})});
  const struct {
    const char* name;
    Bytes file;
    const char* subject;  // the one keyword (Subject or, from IPTC, Keywords); null: none
    const char* warning;
  } cases[] = {
      {"JPEG", Jpeg({Xmp(kPacket)}), "found", nullptr},
      {"JPEG, IPTC", Jpeg({Iptc()}), "found", nullptr},
      {"JPEG, extended in order", Jpeg({Xmp(main), Part(guid, total, 0, head), Part(guid, total, 100, tail)}), "found", nullptr},
      {"JPEG, extended out of order", Jpeg({Part(guid, total, 100, tail), Xmp(main), Part(guid, total, 0, head)}), "found",
       nullptr},
      {"JPEG, extended parts overlap", Jpeg({Xmp(main), Part(guid, total, 0, head), Part(guid, total, 90, extended.substr(90))}),
       nullptr, "Extended XMP parts overlap: passed over"},
      {"JPEG, extended lies about its length",
       Jpeg({Xmp(main), Part(guid, total, 0, head), Part(guid, total + 7, 100, tail)}), nullptr,
       "Extended XMP parts disagree on its length: passed over"},
      {"JPEG, extended never completes", Jpeg({Xmp(main), Part(guid, total, 100, tail)}), nullptr,
       "Extended XMP incomplete: passed over"},
      {"JPEG, extended of another packet", Jpeg({Xmp(main), Part(std::string(32, 'B'), total, 0, extended)}), nullptr,
       "Extended XMP incomplete: passed over"},
      {"TIFF", tiff.Build(), "found", nullptr},
      {"PNG", png, "found", nullptr},
      {"WebP", WithRiffChunk(WebpWith(tiff.Build()), RiffChunk("XMP ", Of(kPacket))), "found", nullptr},
      {"JPEG XL", jxl, "found", nullptr},
      {"sidecar", Of(kPacket), "found", nullptr},
      {"sidecar declaring a document type", Of("<?xml version='1.0'?><!DOCTYPE x:xmpmeta [" + std::string(300, ' ') +
                                               "<!ENTITY a 'b'>]>" + kPacket),
       nullptr, "XMP packet declares a document type: passed over"},
  };
  for (const auto& c : cases) {
    const nlohmann::json r = Record(c.file);
    const nlohmann::json& list = r.at(std::string(c.name).find("IPTC") != std::string::npos ? "Keywords" : "Subject");
    EXPECT_EQ(list, c.subject != nullptr ? nlohmann::json::array({c.subject}) : nlohmann::json()) << c.name;
    EXPECT_EQ(r.at("warning"), c.warning != nullptr ? nlohmann::json(c.warning) : nlohmann::json()) << c.name;
    EXPECT_NE(r.at("ending"), "damaged") << c.name;
  }
}


// A sidecar's XMP wins over the photo's embedded XMP; the photo's IPTC, EXIF capture time and
// report stay; its time and position fill what the photo lacks. The result outlives both.
TEST(Meta, ASidecarIsAppliedToAPhotosResult) {
  const Photo sidecar = FromMemory(Of(PacketWith(
      "xmp:Rating='5' xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/' photoshop:DateCreated='2020-01-02T03:04:05Z' "
      "xmlns:exif='http://ns.adobe.com/exif/1.0/' exif:GPSLatitude='10,30N' exif:GPSLongitude='20,15W'><dc:subject>"
      "<rdf:Bag><rdf:li>from the sidecar</rdf:li></rdf:Bag></dc:subject>")));
  ASSERT_NE(sidecar, nullptr);
  EXPECT_EQ(sidecar->container, EXIFINFO_CONTAINER_XMP);
  const struct {
    const char* name;
    Bytes photo;
    const char* captureTime;
  } cases[] = {
      {"no time of its own", Jpeg({Xmp(PacketWith("xmp:Rating='1' xmp:Label='Red'>")), Iptc()}), "2020-01-02T03:04:05Z"},
      {"an EXIF time", testing_builders::ReadFileBytes(EXIFINFO_SAMPLE_JPEG), "2024-06-21T19:42:10"},
  };
  for (const auto& c : cases) {
    Photo photo = FromMemory(c.photo);
    const std::string report = photo->report;
    const nlohmann::json before = Record(c.photo);
    exifinfo_photo* raw = nullptr;
    ASSERT_EQ(exifinfo_apply_sidecar(photo.get(), sidecar.get(), "IMG_1.JPG.xmp", &raw), 0) << c.name;
    photo.reset();  // the result holds its own copies
    const Photo merged(raw);
    const size_t length = exifinfo_record_json(merged.get(), "", nullptr, nullptr, 0, nullptr, 0);
    std::string line(length, '\0');
    exifinfo_record_json(merged.get(), "", nullptr, nullptr, 0, &line[0], length + 1);
    nlohmann::json after = nlohmann::json::parse(line);
    EXPECT_EQ(after["Rating"], 5.0) << c.name;
    EXPECT_EQ(after["Subject"], nlohmann::json::array({"from the sidecar"})) << c.name;
    EXPECT_EQ(after["CaptureTime"], c.captureTime) << c.name;
    EXPECT_EQ(after["GPSLatitude"], 10.5) << c.name;
    EXPECT_EQ(after["GPSLongitude"], -20.25) << c.name;
    EXPECT_EQ(after["sidecar"], "IMG_1.JPG.xmp") << c.name;
    EXPECT_EQ(std::string(merged->report), report) << c.name;
    // Everything else is the photo's.
    for (const char* key : {"Rating", "Subject", "CaptureTime", "CaptureTimeSource", "GPSLatitude", "GPSLongitude",
                            "GPSAltitude", "HasGPS", "sidecar", "DateCreated"})
      after.erase(key);
    nlohmann::json expected = before;
    for (const auto& [key, value] : after.items()) EXPECT_EQ(value, expected[key]) << c.name << " " << key;
  }
  exifinfo_photo* none = nullptr;
  EXPECT_EQ(exifinfo_apply_sidecar(nullptr, sidecar.get(), "x", &none), EINVAL);
  EXPECT_EQ(none, nullptr);
}

// Past the report's 20th section, or past stray bytes where a marker should be (the next marker
// found as decoders find it), the record reads on to the start of scan: the frame's size, the
// first comment and XMP come from there; the report and the ending stay the report's.
TEST(Meta, TheRecordReadsPastTheReportsLastSection) {
  const Bytes stray = {0x27, 0, 0, 0, 0xFF, 0, 0xFF, 0xD3, 0x23};  // a stuffed zero and a restart are no markers
  const struct {
    const char* name;
    Bytes head;  // after SOI
    int ending;
    uint16_t lateWidth;  // of the frame after the head
    int32_t reportWidth;
  } cases[] = {
      {"20 kept sections", {}, EXIFINFO_TOO_MANY_SECTIONS, 50, 0},
      {"stray bytes", Concat({Bytes{0xFF, 0xE0, 0, 6, 'J', 'F', 'I', 'F'}, stray}), EXIFINFO_INVALID_MARKER, 50, 0},
      // A frame the report read stays the record's: a later one is no second image's size.
      {"stray bytes after the frame", Concat({JpegBuilder().BaselineFrame(100, 50).Build(), stray}),
       EXIFINFO_INVALID_MARKER, 77, 50},
  };
  for (const auto& c : cases) {
    JpegBuilder j;
    j.Soi().Raw(c.head);
    for (int k = 0; c.head.empty() && k < 20; ++k) j.Segment(0xE2, std::string("ICC_PROFILE"));
    j.Comment("late").Segment(0xE1, Xmp(kPacket).second).BaselineFrame(100, c.lateWidth).StartOfScan();
    const Bytes file = j.Build();
    const Photo p = FromMemory(file);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->ending, c.ending) << c.name;
    EXPECT_EQ(p->Width, c.reportWidth) << c.name;  // the report's frame, if its scan reached one
    const nlohmann::json r = Record(file);
    EXPECT_EQ(r["ImageWidth"], 50) << c.name;
    EXPECT_EQ(r["ImageHeight"], 100) << c.name;
    EXPECT_EQ(r["Comment"], "late") << c.name;
    EXPECT_EQ(r["Subject"], nlohmann::json::array({"found"})) << c.name;
    // Cut anywhere in the rest, the record keeps what came before and the ending is the same.
    for (size_t cut = c.head.empty() ? 2 + 20 * 15 : 2 + c.head.size(); cut < file.size(); cut += 7)
      EXPECT_EQ(FromMemory(Bytes(file.begin(), file.begin() + static_cast<long>(cut)))->ending, c.ending) << c.name << cut;
  }
}
}  // namespace
