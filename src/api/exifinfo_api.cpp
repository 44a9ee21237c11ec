// SPDX-License-Identifier: MIT
// The versioned C API over the reentrant core. Each result is one allocation: the public
// struct, then its texts, the report in UTF-8 and in wide characters, and the thumbnail copy.
#include "exifinfo.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "exif/extra_values.h"
#include "jpeg/errors.h"
#include "container/read_any.h"
#include "report/report_text.h"
#include "text/utf8.h"

#define EXIFINFO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using exifinfo::ImageInfo;

struct Field {
  const char* name;
  exifinfo_type type;
  size_t offset;
};

#define EXIFINFO_FIELD(member, type) {#member, type, offsetof(exifinfo_photo, member)}
constexpr Field kFields[] = {
    EXIFINFO_FIELD(Version, EXIFINFO_TYPE_TEXT),         EXIFINFO_FIELD(CameraMake, EXIFINFO_TYPE_TEXT),
    EXIFINFO_FIELD(CameraModel, EXIFINFO_TYPE_TEXT),     EXIFINFO_FIELD(DateTime, EXIFINFO_TYPE_TEXT),
    EXIFINFO_FIELD(Comments, EXIFINFO_TYPE_TEXT),        EXIFINFO_FIELD(Height, EXIFINFO_TYPE_INT32),
    EXIFINFO_FIELD(Width, EXIFINFO_TYPE_INT32),          EXIFINFO_FIELD(Orientation, EXIFINFO_TYPE_INT32),
    EXIFINFO_FIELD(IsColor, EXIFINFO_TYPE_INT32),        EXIFINFO_FIELD(Process, EXIFINFO_TYPE_INT32),
    EXIFINFO_FIELD(FlashUsed, EXIFINFO_TYPE_INT32),      EXIFINFO_FIELD(FocalLength, EXIFINFO_TYPE_FLOAT),
    EXIFINFO_FIELD(ExposureTime, EXIFINFO_TYPE_FLOAT),   EXIFINFO_FIELD(ApertureFNumber, EXIFINFO_TYPE_FLOAT),
    EXIFINFO_FIELD(Distance, EXIFINFO_TYPE_FLOAT),       EXIFINFO_FIELD(CCDWidth, EXIFINFO_TYPE_FLOAT),
    EXIFINFO_FIELD(ExposureBias, EXIFINFO_TYPE_FLOAT),   EXIFINFO_FIELD(Whitebalance, EXIFINFO_TYPE_INT32),
    EXIFINFO_FIELD(MeteringMode, EXIFINFO_TYPE_INT32),   EXIFINFO_FIELD(ExposureProgram, EXIFINFO_TYPE_INT32),
    EXIFINFO_FIELD(ISOequivalent, EXIFINFO_TYPE_INT32),  EXIFINFO_FIELD(CompressionLevel, EXIFINFO_TYPE_INT32),
    EXIFINFO_FIELD(FocalplaneXRes, EXIFINFO_TYPE_FLOAT), EXIFINFO_FIELD(FocalplaneYRes, EXIFINFO_TYPE_FLOAT),
    EXIFINFO_FIELD(FocalplaneUnits, EXIFINFO_TYPE_FLOAT), EXIFINFO_FIELD(Xresolution, EXIFINFO_TYPE_FLOAT),
    EXIFINFO_FIELD(Yresolution, EXIFINFO_TYPE_FLOAT),    EXIFINFO_FIELD(ResolutionUnit, EXIFINFO_TYPE_FLOAT),
    EXIFINFO_FIELD(Brightness, EXIFINFO_TYPE_FLOAT),
    // Since 1.1, in struct order.
    EXIFINFO_FIELD(ModifyDate, EXIFINFO_TYPE_TEXT), EXIFINFO_FIELD(CreateDate, EXIFINFO_TYPE_TEXT),
    EXIFINFO_FIELD(OffsetTime, EXIFINFO_TYPE_TEXT), EXIFINFO_FIELD(OffsetTimeOriginal, EXIFINFO_TYPE_TEXT),
    EXIFINFO_FIELD(OffsetTimeDigitized, EXIFINFO_TYPE_TEXT), EXIFINFO_FIELD(SubSecTime, EXIFINFO_TYPE_TEXT),
    EXIFINFO_FIELD(SubSecTimeOriginal, EXIFINFO_TYPE_TEXT), EXIFINFO_FIELD(SubSecTimeDigitized, EXIFINFO_TYPE_TEXT),
    EXIFINFO_FIELD(Software, EXIFINFO_TYPE_TEXT), EXIFINFO_FIELD(Artist, EXIFINFO_TYPE_TEXT),
    EXIFINFO_FIELD(Copyright, EXIFINFO_TYPE_TEXT), EXIFINFO_FIELD(ImageDescription, EXIFINFO_TYPE_TEXT),
    EXIFINFO_FIELD(ImageUniqueID, EXIFINFO_TYPE_TEXT), EXIFINFO_FIELD(CameraOwnerName, EXIFINFO_TYPE_TEXT),
    EXIFINFO_FIELD(BodySerialNumber, EXIFINFO_TYPE_TEXT), EXIFINFO_FIELD(LensMake, EXIFINFO_TYPE_TEXT),
    EXIFINFO_FIELD(LensModel, EXIFINFO_TYPE_TEXT), EXIFINFO_FIELD(LensSerialNumber, EXIFINFO_TYPE_TEXT),
    EXIFINFO_FIELD(CaptureTime, EXIFINFO_TYPE_TEXT), EXIFINFO_FIELD(GPSDateTime, EXIFINFO_TYPE_TEXT),
    EXIFINFO_FIELD(ISO, EXIFINFO_TYPE_INT32), EXIFINFO_FIELD(FocalLengthIn35mmFormat, EXIFINFO_TYPE_INT32),
    EXIFINFO_FIELD(ColorSpace, EXIFINFO_TYPE_INT32), EXIFINFO_FIELD(ExifImageWidth, EXIFINFO_TYPE_INT32),
    EXIFINFO_FIELD(ExifImageHeight, EXIFINFO_TYPE_INT32), EXIFINFO_FIELD(ExposureMode, EXIFINFO_TYPE_INT32),
    EXIFINFO_FIELD(SceneCaptureType, EXIFINFO_TYPE_INT32), EXIFINFO_FIELD(HasGPS, EXIFINFO_TYPE_INT32),
    EXIFINFO_FIELD(GPSLatitude, EXIFINFO_TYPE_DOUBLE), EXIFINFO_FIELD(GPSLongitude, EXIFINFO_TYPE_DOUBLE),
    EXIFINFO_FIELD(GPSAltitude, EXIFINFO_TYPE_DOUBLE), EXIFINFO_FIELD(GPSImgDirection, EXIFINFO_TYPE_DOUBLE),
    EXIFINFO_FIELD(LensMinFocalLength, EXIFINFO_TYPE_DOUBLE), EXIFINFO_FIELD(LensMaxFocalLength, EXIFINFO_TYPE_DOUBLE),
    EXIFINFO_FIELD(LensMinFNumber, EXIFINFO_TYPE_DOUBLE), EXIFINFO_FIELD(LensMaxFNumber, EXIFINFO_TYPE_DOUBLE),
};
#undef EXIFINFO_FIELD
constexpr size_t kFieldCount = sizeof kFields / sizeof kFields[0];
static_assert(kFieldCount == EXIFINFO_REPORT_FIELD_COUNT + 36, "the report's 29 values and 36 since 1.1");

// Indexed by exifinfo_ending; the core's ScanEnding has the same order.
constexpr const char* kEndingNames[] = {"start_of_scan",  "not_a_jpeg",    "too_many_padding",
                                        "end_of_image",   "invalid_marker", "premature_end",
                                        "too_many_sections", "out_of_memory", "read_error",
                                        "end_of_metadata", "damaged", "needs_more"};
static_assert(sizeof kEndingNames / sizeof kEndingNames[0] == EXIFINFO_NEEDS_MORE + 1, "every ending named");
// Indexed by exifinfo_container; the core's Container has the same numbering.
constexpr const char* kContainerNames[] = {"unknown", "jpeg", "tiff", "heif", "avif", "png", "webp", "raf", "cr3", "jxl"};
static_assert(sizeof kContainerNames / sizeof kContainerNames[0] == exifinfo::kContainerCount &&
                  static_cast<int>(exifinfo::Container::kJxl) == EXIFINFO_CONTAINER_JXL,
              "every container named, in the public numbering");
static_assert(static_cast<int>(exifinfo::ScanEnding::kReadError) == EXIFINFO_READ_ERROR &&
                  static_cast<int>(exifinfo::ScanEnding::kDamaged) == EXIFINFO_DAMAGED &&
                  static_cast<int>(exifinfo::ScanEnding::kOutOfMemory) == EXIFINFO_OUT_OF_MEMORY &&
                  static_cast<int>(exifinfo::ScanEnding::kStartOfScan) == EXIFINFO_START_OF_SCAN,
              "the public endings are the core's");

// Carves one allocation into the struct and the blocks it points to, in order.
class Layout {
 public:
  size_t Reserve(size_t bytes, size_t alignment) {
    used_ = (used_ + alignment - 1) / alignment * alignment;
    const size_t at = used_;
    used_ += bytes;
    return at;
  }
  size_t size() const { return used_; }

 private:
  size_t used_ = sizeof(exifinfo_photo);
};

// Everything a result holds, gathered while the reader lives (the thumbnail is in its copy).
struct Gathered {
  const ImageInfo* info = nullptr;
  const exifinfo::ExtraValues* extras = nullptr;
  exifinfo::ReadEnding read;
  exifinfo::Container container = exifinfo::Container::kUnknown;
  const exifinfo::PiecesSource* pieces = nullptr;  // exifinfo_read_ranges: what it lacked
  const char* lastError = "";
  const uint8_t* thumbnail = nullptr;
  uint32_t thumbnailLength = 0;
  uint32_t thumbnailOffset = 0;
};

// The number of characters in well-formed UTF-8: every byte but the continuation bytes.
size_t CodePoints(const char* text, size_t length) {
  if (exifinfo::IsAscii(text, length)) return length;
  size_t continuations = 0;
  for (size_t i = 0; i < length; ++i) continuations += (static_cast<uint8_t>(text[i]) & 0xC0) == 0x80;
  return length - continuations;
}

int MakeResult(const Gathered& g, exifinfo_photo** out) {
  const ImageInfo& i = *g.info;
  // Each text decoded once; the report is formatted from the same bytes.
  exifinfo::RecordTexts texts;
  exifinfo::DecodeRecordTexts(i, texts);
  char report[exifinfo::kReportUtf8Capacity];
  const size_t utf8Length = exifinfo::FormatReportUtf8(i, texts, report, sizeof report);
  const size_t wideLength = CodePoints(report, utf8Length);
  const size_t lastErrorLength = std::strlen(g.lastError);
  exifinfo::FinishedExtras extras;  // 19 KiB of stack beside the report's 8: well within any thread's
  exifinfo::FinishExtras(*g.extras, i.DateTime, extras);
  const char* exifinfo_photo::*const extraTexts[exifinfo::kExtraTextCount] = {
      &exifinfo_photo::ModifyDate, &exifinfo_photo::CreateDate, &exifinfo_photo::OffsetTime,
      &exifinfo_photo::OffsetTimeOriginal, &exifinfo_photo::OffsetTimeDigitized, &exifinfo_photo::SubSecTime,
      &exifinfo_photo::SubSecTimeOriginal, &exifinfo_photo::SubSecTimeDigitized, &exifinfo_photo::Software,
      &exifinfo_photo::Artist, &exifinfo_photo::Copyright, &exifinfo_photo::ImageDescription,
      &exifinfo_photo::ImageUniqueID, &exifinfo_photo::CameraOwnerName, &exifinfo_photo::BodySerialNumber,
      &exifinfo_photo::LensMake, &exifinfo_photo::LensModel, &exifinfo_photo::LensSerialNumber};
  int32_t exifinfo_photo::*const extraInts[exifinfo::kExtraIntCount] = {
      &exifinfo_photo::ISO, &exifinfo_photo::FocalLengthIn35mmFormat, &exifinfo_photo::ColorSpace,
      &exifinfo_photo::ExifImageWidth, &exifinfo_photo::ExifImageHeight, &exifinfo_photo::ExposureMode,
      &exifinfo_photo::SceneCaptureType};
  double exifinfo_photo::*const extraDoubles[exifinfo::kExtraDoubleCount] = {
      &exifinfo_photo::GPSLatitude, &exifinfo_photo::GPSLongitude, &exifinfo_photo::GPSAltitude,
      &exifinfo_photo::GPSImgDirection, &exifinfo_photo::LensMinFocalLength, &exifinfo_photo::LensMaxFocalLength,
      &exifinfo_photo::LensMinFNumber, &exifinfo_photo::LensMaxFNumber};
  size_t extraBytes = std::strlen(extras.captureTime) + std::strlen(extras.gpsDateTime) + 2;
  for (int k = 0; k < exifinfo::kExtraTextCount; ++k) extraBytes += extras.textLengths[k] + 1;
  const char* exifinfo_photo::*const textMembers[exifinfo::RecordTexts::kCount] = {
      &exifinfo_photo::Version, &exifinfo_photo::CameraMake, &exifinfo_photo::CameraModel, &exifinfo_photo::DateTime,
      &exifinfo_photo::Comments};

  // The values' texts lie one after another, in member order (Version to Comments, then
  // ModifyDate to GPSDateTime), then last_error and the report: a binding copies the struct and
  // its texts in one piece, up to the report's end.
  constexpr int kLastText = exifinfo::RecordTexts::kCount - 1;
  const size_t textsBytes = texts.at[kLastText] + texts.length[kLastText] + 1;
  Layout layout;
  const size_t textsAt = layout.Reserve(textsBytes, 1);
  const size_t extrasAt = layout.Reserve(extraBytes, 1);
  const size_t lastErrorAt = layout.Reserve(lastErrorLength + 1, 1);
  const size_t reportAt = layout.Reserve(utf8Length + 1, 1);
  const size_t wideAt = layout.Reserve((wideLength + 1) * sizeof(wchar_t), alignof(wchar_t));
  const size_t thumbnailAt = layout.Reserve(g.thumbnailLength, 1);

  auto* base = static_cast<char*>(std::malloc(layout.size()));
  if (base == nullptr) return ENOMEM;
  auto* photo = new (base) exifinfo_photo{};
  photo->size = sizeof(exifinfo_photo);
  std::memcpy(base + textsAt, texts.bytes, textsBytes);
  for (int k = 0; k < exifinfo::RecordTexts::kCount; ++k) photo->*textMembers[k] = base + textsAt + texts.at[k];
  photo->Height = i.Height, photo->Width = i.Width, photo->Orientation = i.Orientation;
  photo->IsColor = i.IsColor, photo->Process = i.Process, photo->FlashUsed = i.FlashUsed;
  photo->FocalLength = i.FocalLength, photo->ExposureTime = i.ExposureTime;
  photo->ApertureFNumber = i.ApertureFNumber, photo->Distance = i.Distance, photo->CCDWidth = i.CCDWidth;
  photo->ExposureBias = i.ExposureBias, photo->Whitebalance = i.Whitebalance, photo->MeteringMode = i.MeteringMode;
  photo->ExposureProgram = i.ExposureProgram, photo->ISOequivalent = i.ISOequivalent;
  photo->CompressionLevel = i.CompressionLevel, photo->FocalplaneXRes = i.FocalplaneXRes;
  photo->FocalplaneYRes = i.FocalplaneYRes, photo->FocalplaneUnits = i.FocalplaneUnits;
  photo->Xresolution = i.Xresolution, photo->Yresolution = i.Yresolution;
  photo->ResolutionUnit = i.ResolutionUnit, photo->Brightness = i.Brightness;
  photo->HasExif = i.HasExif ? 1 : 0;
  photo->ending = static_cast<int32_t>(g.read.ending);
  photo->read_errno = g.read.readError;
  photo->container = static_cast<int32_t>(g.container);
  photo->requests = g.read.requests;
  photo->bytes_read = g.read.bytesRead;
  if (g.pieces != nullptr && g.pieces->needsMore()) {
    photo->ending = EXIFINFO_NEEDS_MORE;
    photo->read_errno = 0;
    photo->next_offset = g.pieces->neededOffset();
    photo->next_length = g.pieces->neededLength();
  }

  std::memcpy(base + lastErrorAt, g.lastError, lastErrorLength + 1);
  photo->last_error = base + lastErrorAt;
  std::memcpy(base + reportAt, report, utf8Length);
  base[reportAt + utf8Length] = '\0';
  photo->report = base + reportAt;
  photo->report_length = utf8Length;
  auto* reportWide = reinterpret_cast<wchar_t*>(base + wideAt);
  exifinfo::Utf8ToWide(report, utf8Length, reportWide, wideLength);  // well-formed: wideLength characters
  reportWide[wideLength] = L'\0';
  photo->report_wide = reportWide;
  photo->report_wide_length = wideLength;
  if (g.thumbnail != nullptr) {
    std::memcpy(base + thumbnailAt, g.thumbnail, g.thumbnailLength);
    photo->thumbnail = reinterpret_cast<const unsigned char*>(base + thumbnailAt);
    photo->thumbnail_size = g.thumbnailLength;
    photo->thumbnail_offset = g.thumbnailOffset;
  }
  char* next = base + extrasAt;
  const auto put = [&](const char* text, size_t length) {
    std::memcpy(next, text, length);
    next[length] = '\0';
    const char* at = next;
    next += length + 1;
    return at;
  };
  for (int k = 0; k < exifinfo::kExtraTextCount; ++k)
    photo->*extraTexts[k] = put(extras.texts[k], extras.textLengths[k]);
  photo->CaptureTime = put(extras.captureTime, std::strlen(extras.captureTime));
  photo->GPSDateTime = put(extras.gpsDateTime, std::strlen(extras.gpsDateTime));
  for (int k = 0; k < exifinfo::kExtraIntCount; ++k) photo->*extraInts[k] = extras.ints[k];
  for (int k = 0; k < exifinfo::kExtraDoubleCount; ++k) photo->*extraDoubles[k] = extras.doubles[k];
  photo->HasGPS = extras.hasGps;
  *out = photo;
  return 0;
}

// Reads one stream into a result. A descriptor's first read that fails is the caller's error
// (a directory, a write-only descriptor), not a photo.
int ReadInto(exifinfo::InputStream& stream, const exifinfo::PhotoInput& input, exifinfo_photo** out,
             const exifinfo::PiecesSource* pieces = nullptr, const exifinfo::BudgetSource* budget = nullptr) {
  const bool fromDescriptor = (input.fd >= 0 || input.source != nullptr) && pieces == nullptr;
  int status = 0;
  exifinfo::ReadAnyPhoto(stream, input, true, [&](const exifinfo::ExifReader& reader, exifinfo::ReadEnding read,
                                                exifinfo::Container container) {
    if (read.ending == exifinfo::ScanEnding::kOutOfMemory) {
      status = ENOMEM;
      return;
    }
    if (fromDescriptor && read.ending == exifinfo::ScanEnding::kReadError && stream.nothingRead()) {
      status = read.readError;
      return;
    }
    Gathered g;
    g.info = &reader.info();
    g.extras = &reader.extras();
    g.read = read;
    g.pieces = pieces;
    if (pieces != nullptr && pieces->needsMore()) g.read.readError = 0;
    const bool cut = read.budgetSpent || (budget != nullptr && budget->spent());
    g.container = read.ending == exifinfo::ScanEnding::kNotAJpeg ? exifinfo::Container::kUnknown : container;
    g.lastError = pieces != nullptr && pieces->needsMore() ? "" : reader.lastError();
    if (cut && !(pieces != nullptr && pieces->needsMore())) {
      g.read.ending = exifinfo::ScanEnding::kPrematureEnd;
      g.read.readError = 0;
      g.lastError = exifinfo::errors::kReadBudgetSpent;
    }
    if (reader.info().ThumbnailStart != nullptr) {
      g.thumbnail = reader.info().ThumbnailStart;
      g.thumbnailLength = reader.info().ThumbnailLength;
      g.thumbnailOffset = reader.thumbnailOffset();
    }
    status = MakeResult(g, out);
  });
  return status;
}

// A read through ranges starts with one request of 128 KiB: against a store that takes 20 ms a
// request and 100 MB/s, it beat 4, 16 and 64 KiB over the corpora (25.3 ms a photo, against
// 40.5, 31.4 and 26.1: requests cost more than bytes there). A file read locally starts with 16 KiB.
constexpr size_t kFirstSourceRequest = 128 * 1024;

// The caller's read_at as a source: it may give fewer bytes than asked, never more, and nothing
// past a size it gave.
class CallbackSource final : public exifinfo::RangeSource {
 public:
  explicit CallbackSource(const exifinfo_source& source) : source_(source) {}
  int64_t ReadAt(uint64_t offset, uint8_t* out, size_t count, int& error) override {
    if (source_.size != EXIFINFO_SIZE_UNKNOWN) {
      if (offset >= source_.size) return 0;
      if (count > source_.size - offset) count = static_cast<size_t>(source_.size - offset);
    }
    int failure = 0;
    const int64_t n = source_.read_at(source_.context, offset, out, count, &failure);
    if (n < 0 || static_cast<uint64_t>(n) > count) {  // more than asked is as wrong as an error
      error = n < 0 && failure != 0 ? failure : EIO;
      return -1;
    }
    return n;
  }
  uint64_t size() const override { return source_.size; }
  size_t leastRequestBytes() const override { return exifinfo::kRemoteRequestBytes; }

 private:
  const exifinfo_source& source_;
};

// The caller's budget, with 0 (or a null budget) for the default of each bound.
exifinfo::ReadBudget BudgetOf(const exifinfo_budget* budget) {
  exifinfo::ReadBudget chosen = exifinfo::kReadBudget;
  if (budget != nullptr && budget->requests != 0) chosen.requests = budget->requests;
  if (budget != nullptr && budget->bytes != 0) chosen.bytes = budget->bytes;
  return chosen;
}

}  // namespace

EXIFINFO_EXPORT int exifinfo_read_source_within(const exifinfo_source* source, const exifinfo_budget* budget,
                                                exifinfo_photo** photo) {
  if (photo == nullptr) return EINVAL;
  *photo = nullptr;
  if (source == nullptr || source->read_at == nullptr) return EINVAL;
  CallbackSource callbacks(*source);
  exifinfo::BudgetSource budgeted(callbacks, BudgetOf(budget));
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kFirstSourceRequest]);
  if (buffer == nullptr) return ENOMEM;
  exifinfo::InputStream stream(budgeted, 0, buffer.get(), kFirstSourceRequest);
  exifinfo::PhotoInput input;
  input.source = &budgeted;
  return ReadInto(stream, input, photo, nullptr, &budgeted);
}

EXIFINFO_EXPORT int exifinfo_read_source(const exifinfo_source* source, exifinfo_photo** photo) {
  return exifinfo_read_source_within(source, nullptr, photo);
}

EXIFINFO_EXPORT int exifinfo_read_ranges_within(const exifinfo_range* ranges, size_t count, uint64_t total_size,
                                                const exifinfo_budget* budget, exifinfo_photo** photo) {
  if (photo == nullptr) return EINVAL;
  *photo = nullptr;
  if (ranges == nullptr && count != 0) return EINVAL;
  for (size_t i = 0; i < count; ++i)
    if (ranges[i].data == nullptr && ranges[i].size != 0) return EINVAL;
  std::unique_ptr<exifinfo::PiecesSource::Piece[]> pieces(new (std::nothrow) exifinfo::PiecesSource::Piece[count + 1]);
  if (pieces == nullptr) return ENOMEM;
  for (size_t i = 0; i < count; ++i)
    pieces[i] = {ranges[i].offset, exifinfo::ByteView{static_cast<const uint8_t*>(ranges[i].data), ranges[i].size}};
  exifinfo::PiecesSource source(pieces.get(), count, total_size);
  if (!source.valid()) return ENOMEM;
  // The ranges held count as the requests that fetched them: a resume loop ends within the
  // same budget as one read through a source.
  exifinfo::BudgetSource budgeted(source, BudgetOf(budget));
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kFirstSourceRequest]);
  if (buffer == nullptr) return ENOMEM;
  exifinfo::InputStream stream(budgeted, 0, buffer.get(), kFirstSourceRequest);
  exifinfo::PhotoInput input;
  input.source = &budgeted;
  const int status = ReadInto(stream, input, photo, &source, &budgeted);
  if (status == 0 && *photo != nullptr) (*photo)->requests = 0, (*photo)->bytes_read = 0;  // nothing was fetched here
  return status;
}

EXIFINFO_EXPORT int exifinfo_read_ranges(const exifinfo_range* ranges, size_t count, uint64_t total_size,
                                         exifinfo_photo** photo) {
  return exifinfo_read_ranges_within(ranges, count, total_size, nullptr, photo);
}

EXIFINFO_EXPORT int exifinfo_read_path(const char* path, exifinfo_photo** photo) {
  if (photo == nullptr) return EINVAL;
  *photo = nullptr;
  int error = 0;
  const int fd = exifinfo::OpenForReading(path, error);
  if (fd < 0) return error;
  uint8_t buffer[exifinfo::kFirstReadBytes];
  exifinfo::InputStream stream(fd, 0, buffer, sizeof buffer);
  exifinfo::PhotoInput input;
  input.fd = fd;
  input.base = 0;
  const int status = ReadInto(stream, input, photo);
  close(fd);
  return status;
}

EXIFINFO_EXPORT int exifinfo_read_fd(int fd, exifinfo_photo** photo) {
  if (photo == nullptr) return EINVAL;
  *photo = nullptr;
  if (fd < 0) return EBADF;
  uint8_t buffer[exifinfo::kFirstReadBytes];
  // A descriptor that cannot seek (a pipe, a socket) reads on from where it stands.
  exifinfo::PhotoInput input;
  input.fd = fd;
  input.base = lseek(fd, 0, SEEK_CUR);
  exifinfo::InputStream stream(fd, input.base, buffer, sizeof buffer);
  return ReadInto(stream, input, photo);
}

EXIFINFO_EXPORT int exifinfo_read_memory(const void* data, size_t size, exifinfo_photo** photo) {
  if (photo == nullptr) return EINVAL;
  *photo = nullptr;
  if (data == nullptr) return EINVAL;
  exifinfo::InputStream stream(static_cast<const uint8_t*>(data), size);
  exifinfo::PhotoInput input;
  input.memory = exifinfo::ByteView{static_cast<const uint8_t*>(data), size};
  return ReadInto(stream, input, photo);
}

namespace {

int ReadOne(const exifinfo_input& input, exifinfo_photo** photo) {
  static const uint8_t kNothing = 0;
  if (input.path != nullptr) return exifinfo_read_path(input.path, photo);
  if (input.data != nullptr || input.fd < 0)
    return exifinfo_read_memory(input.data != nullptr ? input.data : &kNothing, input.data != nullptr ? input.size : 0, photo);
  return exifinfo_read_fd(input.fd, photo);
}

struct Batch {
  const exifinfo_input* inputs;
  size_t count;
  exifinfo_photo** photos;
  int* errors;
  std::atomic<size_t> next{0};
};

void* ReadBatch(void* context) {
  auto* batch = static_cast<Batch*>(context);
  for (size_t i; (i = batch->next.fetch_add(1)) < batch->count;)
    batch->errors[i] = ReadOne(batch->inputs[i], &batch->photos[i]);
  return nullptr;
}

}  // namespace

EXIFINFO_EXPORT void exifinfo_read_many(const exifinfo_input* inputs, size_t count, int threads,
                                        exifinfo_photo** photos, int* errors) {
  if (inputs == nullptr || photos == nullptr || errors == nullptr) return;
  Batch batch{inputs, count, photos, errors};
  constexpr int kMaxThreads = 64;
  pthread_t started[kMaxThreads];
  int running = 0;
  for (int t = 1; t < threads && t < kMaxThreads && static_cast<size_t>(t) < count; ++t)
    if (pthread_create(&started[running], nullptr, ReadBatch, &batch) == 0) ++running;
  ReadBatch(&batch);  // the calling thread reads too
  for (int t = 0; t < running; ++t) pthread_join(started[t], nullptr);
}

EXIFINFO_EXPORT void exifinfo_free(exifinfo_photo* photo) { std::free(photo); }

EXIFINFO_EXPORT const char* exifinfo_ending_name(int ending) {
  if (ending < 0 || static_cast<size_t>(ending) >= sizeof kEndingNames / sizeof kEndingNames[0]) return nullptr;
  return kEndingNames[ending];
}

EXIFINFO_EXPORT const char* exifinfo_container_name(int container) {
  if (container < 0 || container >= exifinfo::kContainerCount) return nullptr;
  return kContainerNames[container];
}

EXIFINFO_EXPORT size_t exifinfo_field_count(void) { return kFieldCount; }

EXIFINFO_EXPORT const char* exifinfo_field_name(size_t index) {
  return index < kFieldCount ? kFields[index].name : nullptr;
}

EXIFINFO_EXPORT int exifinfo_field_type(size_t index) { return index < kFieldCount ? kFields[index].type : -1; }

EXIFINFO_EXPORT size_t exifinfo_field_offset(size_t index) {
  return index < kFieldCount ? kFields[index].offset : 0;
}

EXIFINFO_EXPORT const char* exifinfo_version(void) { return EXIFINFO_VERSION_STRING; }
