// SPDX-License-Identifier: MIT
// The record as values and as JSON lines, from the record's one table (fields.h), and batches of
// lines made on the library's threads: the tool prints these bytes, the Python binding hands them
// out, and neither spells a key, a layout or an error text again.
#include <limits.h>
#include <pthread.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "api/fields.h"
#include "api/result.h"
#include "exifinfo.h"
#include "text/json_text.h"

#define EXIFINFO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using exifinfo::TextBuffer;
using exifinfo_api::kRecord;
using exifinfo_api::kRecordCount;

bool Present(const exifinfo_photo& photo, size_t index) {
  return EXIFINFO_HAS(&photo, record_present) && ((photo.record_present[index / 64] >> (index % 64)) & 1) != 0;
}

template <typename T>
T MemberAt(const exifinfo_photo& photo, size_t offset) {
  T value;
  std::memcpy(&value, reinterpret_cast<const char*>(&photo) + offset, sizeof value);
  return value;
}

exifinfo_value ValueOf(const exifinfo_photo* photo, size_t index) {
  exifinfo_value value{EXIFINFO_VALUE_NULL, 0, 0.0, nullptr};
  const exifinfo_api::RecordKey& key = kRecord[index];
  if (photo == nullptr || key.type == EXIFINFO_TYPE_CALLER || !Present(*photo, index)) return value;
  switch (key.type) {
    case EXIFINFO_TYPE_TEXT:
      value.text = MemberAt<const char*>(*photo, key.offset);
      break;
    case EXIFINFO_TYPE_INT32:
      value.integer = MemberAt<int32_t>(*photo, key.offset);
      break;
    case EXIFINFO_TYPE_FLAG:
      value.integer = MemberAt<int32_t>(*photo, key.offset) != 0 ? 1 : 0;
      break;
    case EXIFINFO_TYPE_DOUBLE:
      value.real = MemberAt<double>(*photo, key.offset);
      if (!(value.real - value.real == 0)) return value;  // NaN or an infinity: no value
      break;
    case EXIFINFO_TYPE_ENDING:
      value.text = exifinfo_ending_name(MemberAt<int32_t>(*photo, key.offset));
      break;
    case EXIFINFO_TYPE_CONTAINER:
      value.text = exifinfo_container_name(MemberAt<int32_t>(*photo, key.offset));
      break;
    case EXIFINFO_TYPE_LIST: {
      // The items, a null, then the items as a JSON array.
      const char* const* items = MemberAt<const char* const*>(*photo, key.offset);
      size_t count = 0;
      while (items[count] != nullptr) ++count;
      value.kind = EXIFINFO_VALUE_LIST;
      value.integer = static_cast<int64_t>(count);
      value.text = items[count + 1];
      return value;
    }
    default:
      return value;
  }
  if ((key.type == EXIFINFO_TYPE_TEXT || key.type == EXIFINFO_TYPE_ENDING || key.type == EXIFINFO_TYPE_CONTAINER) &&
      value.text == nullptr)
    return value;
  value.kind = value.text != nullptr ? EXIFINFO_VALUE_TEXT
               : key.type == EXIFINFO_TYPE_DOUBLE ? EXIFINFO_VALUE_REAL
                                                  : EXIFINFO_VALUE_INTEGER;
  return value;
}

// glibc's untranslated text of an errno value (what strerror gives in the C locale), from static
// storage: no buffer, safe on any thread.
const char* ErrorName(int error, char (&unknown)[32]) {
  const char* name = strerrordesc_np(error);
  if (name != nullptr) return name;
  std::snprintf(unknown, sizeof unknown, "Unknown error %d", error);
  return unknown;
}

// The record's error of a read into `buffer`, as snprintf writes (no allocation: it is made for
// every line of a batch); the text's length.
size_t FormatFailure(int error, const exifinfo_photo* photo, char* buffer, size_t capacity) {
  char unknown[32];
  const char* prefix = "";
  const char* name = "";
  if (error == EISDIR) {
    name = ErrorName(error, unknown);
  } else if (error != 0) {
    // A first read that fails gives one of these; any other error came from the open.
    prefix = error == EIO || error == EBADF || error == EINVAL ? "read error: " : "cannot open: ";
    name = ErrorName(error, unknown);
  } else if (photo != nullptr && photo->ending == EXIFINFO_READ_ERROR) {
    prefix = "read error: ";
    name = ErrorName(photo->read_errno, unknown);
  }
  const int length = std::snprintf(buffer, capacity, "%s%s", prefix, name);
  return length < 0 ? 0 : static_cast<size_t>(length);
}

bool KeysValid(const size_t* keys, size_t keyCount) {
  for (size_t k = 0; keys != nullptr && k < keyCount; ++k)
    if (keys[k] >= kRecordCount) return false;
  return true;
}

void AppendRecordJson(TextBuffer& out, const exifinfo_photo* photo, const char* path, const char* error,
                      const size_t* keys, size_t keyCount) {
  if (keys == nullptr) keyCount = kRecordCount;
  out.Append('{');
  for (size_t k = 0; k < keyCount; ++k) {
    const size_t index = keys != nullptr ? keys[k] : k;
    const exifinfo_api::RecordKey& key = kRecord[index];
    if (k != 0) out.Append(',');
    out.Append('"');
    out.Append(key.key);  // keys are tag names: letters and digits only
    out.Append("\":", 2);
    if (key.type == EXIFINFO_TYPE_CALLER) {
      const bool isPath = exifinfo_api::SameName(key.key, "path");
      const char* text = isPath ? path : error;
      if (text == nullptr || (!isPath && *text == '\0')) out.Append("null", 4);
      else if (isPath) exifinfo::AppendJsonPath(out, text, std::strlen(text));
      else exifinfo::AppendJsonString(out, text, std::strlen(text));
      continue;
    }
    const exifinfo_value value = ValueOf(photo, index);
    switch (value.kind) {
      case EXIFINFO_VALUE_TEXT: exifinfo::AppendJsonString(out, value.text, std::strlen(value.text)); break;
      case EXIFINFO_VALUE_REAL: exifinfo::AppendJsonNumber(out, value.real); break;
      case EXIFINFO_VALUE_LIST: out.Append(value.text); break;
      case EXIFINFO_VALUE_INTEGER:
        if (key.type == EXIFINFO_TYPE_FLAG) out.Append(value.integer != 0 ? "true" : "false");
        else exifinfo::AppendJsonInteger(out, value.integer);
        break;
      default: out.Append("null", 4); break;
    }
  }
  out.Append('}');
}

// What snprintf does with a made text: as much as fits, terminated; the full length returned.
size_t CopyOut(const TextBuffer& text, char* buffer, size_t capacity) {
  if (buffer != nullptr && capacity > 0) {
    const size_t copied = text.size() < capacity ? text.size() : capacity - 1;
    if (copied > 0) std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
  }
  return text.size();
}

}  // namespace

EXIFINFO_EXPORT int exifinfo_record_value(const exifinfo_photo* photo, size_t index, exifinfo_value* value) {
  if (value == nullptr || index >= kRecordCount) return EINVAL;
  *value = ValueOf(photo, index);
  return 0;
}

EXIFINFO_EXPORT size_t exifinfo_failure_text(int error, const exifinfo_photo* photo, char* buffer, size_t capacity) {
  return FormatFailure(error, photo, buffer, capacity);
}

EXIFINFO_EXPORT size_t exifinfo_record_json(const exifinfo_photo* photo, const char* path, const char* error,
                                            const size_t* keys, size_t key_count, char* buffer, size_t capacity) {
  if (!KeysValid(keys, key_count)) return CopyOut(TextBuffer(), buffer, capacity);
  TextBuffer line;
  AppendRecordJson(line, photo, path, error, keys, key_count);
  if (line.failed()) return CopyOut(TextBuffer(), buffer, capacity);
  return CopyOut(line, buffer, capacity);
}

EXIFINFO_EXPORT void exifinfo_free_text(char* text) { exifinfo::FreeText(text); }

namespace {

// Inputs are read a window at a time: every thread takes inputs of the window until none is
// left, then all meet, and the calling thread hands the window's lines on in input order while
// the others read the next window. So the lines held at once are at most two windows', however
// long the batch, and a meeting costs little beside a window's reads.
// A thread's lines of a window (about 100 KB) stay below the allocator's mapping threshold, so
// their buffers are memory touched before: a page's first touch costs more than the meetings.
// So a window is 64 inputs a thread: the meetings a file grow fewer with the threads.
constexpr size_t kInputsPerThread = 64;
constexpr int kMaxThreads = 64;

// Where an input's line lies: in the buffer of the thread that read it.
struct LineAt {
  int thread = -1;  // -1: no line
  size_t offset = 0, length = 0;
};

// A meeting point for a number of threads set once they have all started.
class Meeting {
 public:
  Meeting() { pthread_mutex_init(&mutex_, nullptr), pthread_cond_init(&met_, nullptr); }
  ~Meeting() { pthread_cond_destroy(&met_), pthread_mutex_destroy(&mutex_); }
  void Hold() { pthread_mutex_lock(&mutex_); }  // before the threads start: they wait at Meet
  void Release(int parties) { parties_ = parties, pthread_mutex_unlock(&mutex_); }
  void Meet() {
    pthread_mutex_lock(&mutex_);
    const uint64_t round = round_;
    if (++arrived_ == parties_) {
      arrived_ = 0, ++round_;
      pthread_cond_broadcast(&met_);
    } else {
      while (round == round_) pthread_cond_wait(&met_, &mutex_);
    }
    pthread_mutex_unlock(&mutex_);
  }

 private:
  pthread_mutex_t mutex_;
  pthread_cond_t met_;
  int parties_ = 1, arrived_ = 0;
  uint64_t round_ = 0;
};

struct RecordsBatch {
  const exifinfo_input* inputs = nullptr;
  size_t count = 0;
  const size_t* keys = nullptr;
  size_t keyCount = 0;
  bool skipUnknown = false;
  const char* const* names = nullptr;
  const char* const* sidecars = nullptr;
  size_t windows = 0;
  Meeting meeting;
  std::atomic<size_t> next[2] = {{0}, {0}};  // the next input to take in each half of the window pair
  size_t window = 0;                          // inputs a window
  LineAt* at[2] = {nullptr, nullptr};         // `window` entries each
  TextBuffer lines[2][kMaxThreads];           // each thread's lines of the window
  std::atomic<int> failure{0};  // ENOMEM once any read or line ran out of memory, or a write's errno
};

// The photo with the sidecar at `path` laid over it, as the tool does; as it was when the sidecar
// cannot be read. False only when memory ran out.
bool ApplySidecar(const char* path, exifinfo_photo*& photo) {
  exifinfo_input input{path, nullptr, 0, -1};
  exifinfo_photo* sidecar = nullptr;
  const int error = exifinfo_api::ReadInput(input, false, &sidecar);
  if (error == ENOMEM) return false;
  if (error != 0) return true;
  exifinfo_photo* merged = nullptr;
  const int applied = exifinfo_apply_sidecar(photo, sidecar, path, &merged);
  exifinfo_free(sidecar);
  if (applied != 0) return false;
  exifinfo_free(photo);
  photo = merged;
  return true;
}

void MakeLine(RecordsBatch& batch, size_t i, TextBuffer& out, LineAt& at, int thread) {
  exifinfo_photo* photo = nullptr;
  const int error = exifinfo_api::ReadInput(batch.inputs[i], false, &photo);  // a line needs no thumbnail
  if (error == ENOMEM || (error == 0 && photo == nullptr)) return batch.failure.store(ENOMEM), exifinfo_free(photo);
  if (error == 0 && batch.sidecars != nullptr && batch.sidecars[i] != nullptr && !ApplySidecar(batch.sidecars[i], photo))
    return batch.failure.store(ENOMEM), exifinfo_free(photo);
  const bool unknown = error == EISDIR || (error == 0 && photo->ending == EXIFINFO_NOT_A_JPEG);
  if (!(batch.skipUnknown && unknown)) {
    char failure[128];  // the longest errno text is under 60 bytes
    FormatFailure(error, photo, failure, sizeof failure);
    const char* name = batch.names != nullptr && batch.names[i] != nullptr ? batch.names[i] : batch.inputs[i].path;
    at.thread = thread, at.offset = out.size();
    AppendRecordJson(out, photo, name, failure, batch.keys, batch.keyCount);
    out.Append('\n');
    at.length = out.size() - at.offset;
    if (out.failed()) batch.failure.store(ENOMEM);
  }
  exifinfo_free(photo);
}

void ReadWindow(RecordsBatch& batch, size_t window, int thread) {
  const int half = static_cast<int>(window % 2);
  const size_t first = window * batch.window;
  const size_t inputs = batch.count - first < batch.window ? batch.count - first : batch.window;
  for (size_t k; (k = batch.next[half].fetch_add(1)) < inputs && batch.failure.load() == 0;)
    MakeLine(batch, first + k, batch.lines[half][thread], batch.at[half][k], thread);
}

struct Reader {
  RecordsBatch* batch;
  int thread;
};

void* ReadWindows(void* context) {
  const Reader& reader = *static_cast<Reader*>(context);
  for (size_t w = 0; w < reader.batch->windows; ++w) {
    ReadWindow(*reader.batch, w, reader.thread);
    reader.batch->meeting.Meet();
  }
  return nullptr;
}

// Writes every byte the vectors hold (none of them empty), through short writes and EINTR;
// false with the errno.
bool WriteAll(int fd, iovec* vectors, int count, int& error) {
  while (count > 0) {
    const ssize_t n = writev(fd, vectors, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return error = n < 0 ? errno : EIO, false;
    auto left = static_cast<size_t>(n);
    while (count > 0 && left >= vectors->iov_len) left -= vectors->iov_len, ++vectors, --count;
    if (count > 0) vectors->iov_base = static_cast<char*>(vectors->iov_base) + left, vectors->iov_len -= left;
  }
  return true;
}

// The calling thread's part of a window once all have met: its lines in input order, written to
// `fd` straight from the threads' buffers or appended to `out`; then the half is made ready for
// the window after next.
int HandOn(RecordsBatch& batch, size_t window, int threads, int fd, TextBuffer& out, size_t& made, size_t& lines) {
  const int half = static_cast<int>(window % 2);
  const size_t first = window * batch.window;
  const size_t inputs = batch.count - first < batch.window ? batch.count - first : batch.window;
  constexpr int kVectors = IOV_MAX < 1024 ? IOV_MAX : 1024;
  iovec vectors[kVectors];
  int count = 0, error = 0;
  for (size_t k = 0; k < inputs && batch.failure.load() == 0; ++k) {
    const LineAt& at = batch.at[half][k];
    if (at.thread < 0) continue;
    const char* line = batch.lines[half][at.thread].data() + at.offset;
    made += at.length, ++lines;
    if (fd < 0) {
      out.Append(line, at.length);
      if (out.failed()) batch.failure.store(ENOMEM);
      continue;
    }
    vectors[count++] = iovec{const_cast<char*>(line), at.length};
    if (count == kVectors && !WriteAll(fd, vectors, count, error)) batch.failure.store(error);
    if (count == kVectors) count = 0;
  }
  if (fd >= 0 && count > 0 && batch.failure.load() == 0 && !WriteAll(fd, vectors, count, error))
    batch.failure.store(error);
  for (int t = 0; t < threads; ++t) batch.lines[half][t].Clear();
  for (size_t k = 0; k < batch.window; ++k) batch.at[half][k] = LineAt{};
  batch.next[half].store(0);
  return batch.failure.load();
}

}  // namespace

EXIFINFO_EXPORT int exifinfo_records_json(const exifinfo_input* inputs, size_t count,
                                          const exifinfo_records_options* options, int fd, char** text,
                                          size_t* length, size_t* lines) {
  if (text != nullptr) *text = nullptr;
  if (length != nullptr) *length = 0;
  if (lines != nullptr) *lines = 0;
  if (inputs == nullptr && count != 0) return EINVAL;
  exifinfo_records_options chosen{};
  if (options != nullptr) std::memcpy(&chosen, options, options->size < sizeof chosen ? options->size : sizeof chosen);
  if (!KeysValid(chosen.keys, chosen.key_count)) return EINVAL;

  // One thread an input at most; a window of kInputsPerThread inputs a thread.
  int wanted = chosen.threads < 1 ? 1 : chosen.threads > kMaxThreads ? kMaxThreads : chosen.threads;
  if (static_cast<size_t>(wanted) > count) wanted = count == 0 ? 1 : static_cast<int>(count);
  const size_t window = kInputsPerThread * static_cast<size_t>(wanted);
  auto* batch = static_cast<RecordsBatch*>(std::calloc(1, sizeof(RecordsBatch)));
  LineAt* at = static_cast<LineAt*>(std::malloc(2 * window * sizeof(LineAt)));
  if (batch == nullptr || at == nullptr) return std::free(batch), std::free(at), ENOMEM;
  new (batch) RecordsBatch();
  batch->inputs = inputs, batch->count = count, batch->keys = chosen.keys, batch->keyCount = chosen.key_count;
  batch->skipUnknown = chosen.skip_unknown != 0, batch->names = chosen.names, batch->sidecars = chosen.sidecars;
  batch->window = window;
  batch->windows = (count + window - 1) / window;
  batch->at[0] = at, batch->at[1] = at + window;
  for (size_t k = 0; k < 2 * window; ++k) at[k] = LineAt{};

  pthread_t started[kMaxThreads];
  Reader readers[kMaxThreads];
  int running = 0;
  batch->meeting.Hold();
  for (int t = 1; t < wanted; ++t) {
    readers[running + 1] = Reader{batch, running + 1};
    if (pthread_create(&started[running], nullptr, ReadWindows, &readers[running + 1]) == 0) ++running;
  }
  batch->meeting.Release(running + 1);  // a thread that did not start is one reader fewer

  TextBuffer out;
  size_t made = 0, lineCount = 0;
  for (size_t w = 0; w < batch->windows; ++w) {
    ReadWindow(*batch, w, 0);
    batch->meeting.Meet();
    HandOn(*batch, w, running + 1, fd, out, made, lineCount);
  }
  for (int t = 0; t < running; ++t) pthread_join(started[t], nullptr);
  const int failure = batch->failure.load();
  batch->~RecordsBatch();
  std::free(batch);
  std::free(at);
  if (failure == ENOMEM && fd < 0) return ENOMEM;
  if (length != nullptr) *length = made;
  if (lines != nullptr) *lines = lineCount;
  if (failure != 0) return failure;
  if (fd < 0 && text != nullptr) {
    size_t released = 0;
    *text = out.Release(released);
    if (*text == nullptr) return ENOMEM;
  }
  return 0;
}
