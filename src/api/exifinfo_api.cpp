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

#include "api/fields.h"
#include "api/result.h"
#include "exif/errors.h"
#include "container/read_any.h"

#define EXIFINFO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using exifinfo_api::Gathered;
using exifinfo_api::kFieldCount;
using exifinfo_api::kFields;
using exifinfo_api::kRecord;
using exifinfo_api::kRecordCount;
using exifinfo_api::MakeResult;

// Indexed by exifinfo_ending; the core's ScanEnding has the same order.
constexpr const char* kEndingNames[] = {"start_of_scan",  "not_a_jpeg",    "too_many_padding",
                                        "end_of_image",   "invalid_marker", "premature_end",
                                        "too_many_sections", "out_of_memory", "read_error",
                                        "end_of_metadata", "damaged", "needs_more"};
static_assert(sizeof kEndingNames / sizeof kEndingNames[0] == EXIFINFO_NEEDS_MORE + 1, "every ending named");
// Indexed by exifinfo_container; the core's Container has the same numbering.
constexpr const char* kContainerNames[] = {"unknown", "jpeg", "tiff", "heif", "avif", "png", "webp",
                                          "raf", "cr3", "jxl", "mp4", "mov", "xmp", "mrw"};
static_assert(sizeof kContainerNames / sizeof kContainerNames[0] == exifinfo::kContainerCount &&
                  static_cast<int>(exifinfo::Container::kMrw) == EXIFINFO_CONTAINER_MRW,
              "every container named, in the public numbering");
static_assert(static_cast<int>(exifinfo::ScanEnding::kReadError) == EXIFINFO_READ_ERROR &&
                  static_cast<int>(exifinfo::ScanEnding::kDamaged) == EXIFINFO_DAMAGED &&
                  static_cast<int>(exifinfo::ScanEnding::kOutOfMemory) == EXIFINFO_OUT_OF_MEMORY &&
                  static_cast<int>(exifinfo::ScanEnding::kStartOfScan) == EXIFINFO_START_OF_SCAN,
              "the public endings are the core's");

// Reads one stream into a result. A descriptor's first read that fails is the caller's error
// (a directory, a write-only descriptor), not a photo.
// `thumbnail`: whether the result keeps the thumbnail's copy (a record has no use for it).
int ReadInto(exifinfo::InputStream& stream, const exifinfo::PhotoInput& input, exifinfo_photo** out,
             const exifinfo::PiecesSource* pieces = nullptr, const exifinfo::BudgetSource* budget = nullptr,
             bool thumbnail = true) {
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
    g.packets = &reader.packets();
    g.read = read;
    g.pieces = pieces;
    g.container = read.ending == exifinfo::ScanEnding::kNotAJpeg ? exifinfo::Container::kUnknown : container;
    g.lastError = reader.lastError();
    if (pieces != nullptr && pieces->needsMore()) {  // MakeResult says what to fetch
      g.read.readError = 0;
      g.lastError = "";
    } else if (read.budgetSpent || (budget != nullptr && budget->spent())) {
      g.read.ending = exifinfo::ScanEnding::kPrematureEnd;
      g.read.readError = 0;
      g.lastError = exifinfo::errors::kReadBudgetSpent;
    }
    if (thumbnail && reader.info().ThumbnailStart != nullptr) {
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

// A read through `source` (a caller's callback or ranges) within the caller's budget, which the
// stream's first request counts too. `pieces`: the ranges behind `source`, when it is them.
int ReadBudgeted(exifinfo::RangeSource& source, const exifinfo_budget* budget, const exifinfo::PiecesSource* pieces,
                 exifinfo_photo** photo) {
  exifinfo::BudgetSource budgeted(source, BudgetOf(budget));
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kFirstSourceRequest]);
  if (buffer == nullptr) return ENOMEM;
  exifinfo::InputStream stream(budgeted, 0, buffer.get(), kFirstSourceRequest);
  exifinfo::PhotoInput input;
  input.source = &budgeted;
  return ReadInto(stream, input, photo, pieces, &budgeted);
}

}  // namespace

EXIFINFO_EXPORT int exifinfo_read_source_within(const exifinfo_source* source, const exifinfo_budget* budget,
                                                exifinfo_photo** photo) {
  if (photo == nullptr) return EINVAL;
  *photo = nullptr;
  if (source == nullptr || source->read_at == nullptr) return EINVAL;
  CallbackSource callbacks(*source);
  return ReadBudgeted(callbacks, budget, nullptr, photo);
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
  const int status = ReadBudgeted(source, budget, &source, photo);
  if (status == 0 && *photo != nullptr) (*photo)->requests = 0, (*photo)->bytes_read = 0;  // nothing was fetched here
  return status;
}

EXIFINFO_EXPORT int exifinfo_read_ranges(const exifinfo_range* ranges, size_t count, uint64_t total_size,
                                         exifinfo_photo** photo) {
  return exifinfo_read_ranges_within(ranges, count, total_size, nullptr, photo);
}

namespace {

// Inlined into each caller, so that an export's frame holds the first read's buffer itself.
__attribute__((always_inline)) inline int ReadPath(const char* path, bool thumbnail, exifinfo_photo** photo) {
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
  const int status = ReadInto(stream, input, photo, nullptr, nullptr, thumbnail);
  close(fd);
  return status;
}

__attribute__((always_inline)) inline int ReadDescriptor(int fd, bool thumbnail, exifinfo_photo** photo) {
  if (photo == nullptr) return EINVAL;
  *photo = nullptr;
  if (fd < 0) return EBADF;
  uint8_t buffer[exifinfo::kFirstReadBytes];
  // A descriptor that cannot seek (a pipe, a socket) reads on from where it stands.
  exifinfo::PhotoInput input;
  input.fd = fd;
  input.base = lseek(fd, 0, SEEK_CUR);
  exifinfo::InputStream stream(fd, input.base, buffer, sizeof buffer);
  return ReadInto(stream, input, photo, nullptr, nullptr, thumbnail);
}

int ReadMemory(const void* data, size_t size, bool thumbnail, exifinfo_photo** photo) {
  if (photo == nullptr) return EINVAL;
  *photo = nullptr;
  if (data == nullptr) return EINVAL;
  exifinfo::InputStream stream(static_cast<const uint8_t*>(data), size);
  exifinfo::PhotoInput input;
  input.memory = exifinfo::ByteView{static_cast<const uint8_t*>(data), size};
  return ReadInto(stream, input, photo, nullptr, nullptr, thumbnail);
}

}  // namespace

EXIFINFO_EXPORT int exifinfo_read_path(const char* path, exifinfo_photo** photo) { return ReadPath(path, true, photo); }

EXIFINFO_EXPORT int exifinfo_read_fd(int fd, exifinfo_photo** photo) { return ReadDescriptor(fd, true, photo); }

EXIFINFO_EXPORT int exifinfo_read_memory(const void* data, size_t size, exifinfo_photo** photo) {
  return ReadMemory(data, size, true, photo);
}

int exifinfo_api::ReadInput(const exifinfo_input& input, bool thumbnail, exifinfo_photo** photo) {
  static const uint8_t kNothing = 0;
  if (input.path != nullptr) return ReadPath(input.path, thumbnail, photo);
  if (input.data != nullptr || input.fd < 0)
    return ReadMemory(input.data != nullptr ? input.data : &kNothing, input.data != nullptr ? input.size : 0, thumbnail,
                      photo);
  return ReadDescriptor(input.fd, thumbnail, photo);
}

namespace {

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
    batch->errors[i] = exifinfo_api::ReadInput(batch->inputs[i], true, &batch->photos[i]);
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

EXIFINFO_EXPORT const char* exifinfo_field_meaning(size_t index) {
  return index < kFieldCount ? kFields[index].meaning : nullptr;
}

EXIFINFO_EXPORT size_t exifinfo_record_count(void) { return kRecordCount; }

EXIFINFO_EXPORT const char* exifinfo_record_key(size_t index) { return index < kRecordCount ? kRecord[index].key : nullptr; }

EXIFINFO_EXPORT int exifinfo_record_type(size_t index) { return index < kRecordCount ? kRecord[index].type : -1; }

EXIFINFO_EXPORT size_t exifinfo_record_offset(size_t index) { return index < kRecordCount ? kRecord[index].offset : 0; }

EXIFINFO_EXPORT const char* exifinfo_record_meaning(size_t index) {
  return index < kRecordCount ? kRecord[index].meaning : nullptr;
}

EXIFINFO_EXPORT const char* exifinfo_version(void) { return EXIFINFO_VERSION_STRING; }
