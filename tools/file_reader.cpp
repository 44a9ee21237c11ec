// SPDX-License-Identifier: MIT
#include "file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "records.h"

namespace exifinfo_tool {
namespace {

// The record's error text of a read, in the library's words.
std::string FailureText(int error, const exifinfo_photo* photo) {
  char text[256];
  const size_t length = exifinfo_failure_text(error, photo, text, sizeof text);
  return std::string(text, length < sizeof text ? length : sizeof text - 1);
}

}  // namespace

void OutOfMemory() {
  static const char kMessage[] = "exifinfo: out of memory\n";
  if (write(STDERR_FILENO, kMessage, sizeof kMessage - 1) < 0) _exit(1);
  _exit(1);
}

namespace {

// Replaces the control characters of out[start..] with '.', the report's line ends kept (LF,
// and CR LF when `crlf`). C1 controls are UTF-8's C2 80 to C2 9F: both bytes become one '.'.
void ShowControlsAsDots(std::string& out, size_t start, bool crlf) {
  size_t to = start;
  for (size_t at = start; at < out.size(); ++at) {
    const auto c = static_cast<unsigned char>(out[at]);
    const bool lineEnd = c == '\n' || (crlf && c == '\r' && at + 1 < out.size() && out[at + 1] == '\n');
    if (c == 0xC2 && at + 1 < out.size() && static_cast<unsigned char>(out[at + 1]) >= 0x80 &&
        static_cast<unsigned char>(out[at + 1]) <= 0x9F) {
      out[to++] = '.';
      ++at;
    } else {
      out[to++] = (c < 0x20 && !lineEnd) || c == 0x7F ? '.' : out[at];
    }
  }
  out.resize(to);
}

// The photo's result with its sidecar's XMP laid over; the photo as it was, and why, when the
// sidecar cannot be read.
std::string ApplySidecar(const std::string& path, Photo& photo) {
  exifinfo_photo* sidecar = nullptr;
  const int error = exifinfo_read_path(path.c_str(), &sidecar);
  if (error == ENOMEM) OutOfMemory();
  if (error != 0) return FailureText(error, nullptr);
  const Photo owned(sidecar);
  exifinfo_photo* merged = nullptr;
  if (exifinfo_apply_sidecar(photo.get(), sidecar, path.c_str(), &merged) == ENOMEM) OutOfMemory();
  photo.reset(merged);
  return "";
}

}  // namespace

void AppendReport(const exifinfo_photo& photo, bool crlf, bool terminal, std::string& out) {
  const char* text = photo.report;
  const size_t length = photo.report_length;
  const size_t begin = out.size();
  if (crlf) {
    out.append(text, length);
    if (terminal) ShowControlsAsDots(out, begin, crlf);
    return;
  }
  // One copy into room made once: appending line by line cost as much as the read.
  const size_t start = out.size();
  out.resize(start + length);
  char* to = &out[start];
  const char* const end = text + length;
  for (const char* at = text; at < end;) {
    const auto* cr = static_cast<const char*>(std::memchr(at, '\r', static_cast<size_t>(end - at)));
    const char* const stop = cr == nullptr ? end : cr;
    std::memcpy(to, at, static_cast<size_t>(stop - at));
    to += stop - at;
    if (cr == nullptr) break;
    if (cr + 1 >= end || cr[1] != '\n') *to++ = '\r';  // a CR on its own (inside a text) stays
    at = cr + 1;
  }
  out.resize(static_cast<size_t>(to - out.data()));
  if (terminal) ShowControlsAsDots(out, begin, crlf);
}

// The library's first read (16 KiB), and the bytes that tell a container.
constexpr size_t kFirstRead = 16384;
constexpr ssize_t kIdentifyBytes = 256;

// True when a read of the first bytes from memory says what a read of the whole file would:
// it ended on what it found, not on the end of the bytes it had.
bool Final(const exifinfo_photo& photo, ssize_t bytes) {
  // A sidecar is read to its end: the head holds all of it only when the file ended there.
  if (photo.container == EXIFINFO_CONTAINER_XMP) return bytes < static_cast<ssize_t>(kFirstRead);
  switch (photo.ending) {
    case EXIFINFO_START_OF_SCAN:
    case EXIFINFO_END_OF_METADATA:
    case EXIFINFO_TOO_MANY_PADDING:
    case EXIFINFO_END_OF_IMAGE:
    case EXIFINFO_TOO_MANY_SECTIONS: return true;
    case EXIFINFO_NOT_A_JPEG: return bytes >= kIdentifyBytes;
    default: return false;
  }
}

// Reads a file as exifinfo_read_path would, inline when it is cached: the first 16 KiB come
// with a read that never waits (RWF_NOWAIT), and when the photo's metadata lies within them,
// they are all the library needs. Otherwise the library reads the file itself, and when the
// first read would have waited, it does so between storage.Wait() and storage.Resume(), so
// that another reader runs meanwhile. A file met in a walk that is no longer a regular file (a
// FIFO since the walk listed it) is not read: `special` then says so; EISDIR for a directory,
// as a read of it gives.
int ReadFile(const std::string& path, bool walked, Storage& storage, exifinfo_photo** photo, const char*& special) {
  // After a file whose bytes were not cached, the next one is read as if it waits from its
  // very open: on a cold disk the directory entry and the inode come from the disk too.
  if (storage.ExpectsWait()) storage.Wait();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    const int error = errno;
    storage.Resume();
    return error;
  }
  uint8_t head[kFirstRead];
  iovec first{head, sizeof head};
  const ssize_t n = preadv2(fd, &first, 1, 0, RWF_NOWAIT);
  const int probe = n < 0 ? errno : 0;
  storage.Expect(probe == EAGAIN);
  int error = 0;
  if (n >= 0) {
    error = exifinfo_read_memory(head, static_cast<size_t>(n), photo);
    if (error == 0 && Final(**photo, n)) {
      close(fd);
      storage.Resume();
      return 0;
    }
    exifinfo_free(*photo);
    *photo = nullptr;
  }
  if (probe == EISDIR) {
    error = EISDIR;
  } else if (probe == ESPIPE && walked) {
    special = "a FIFO or socket";
  } else if (error != ENOMEM) {
    if (probe == EAGAIN) storage.Wait();
    error = exifinfo_read_fd(fd, photo);
  }
  close(fd);
  storage.Resume();
  return error;
}

FileResult FileReader::Read(const WalkedFile& file, Storage& storage, Photo* keep) const {
  FileResult result;
  if (file.kind == WalkedFile::Kind::kSpecial) return PassOver(file.path, file.note.c_str());
  if (file.kind == WalkedFile::Kind::kUnreadableDirectory) {
    const FileRecord record{file.path, nullptr, "cannot read directory: " + file.note};
    result.err = "exifinfo: " + file.path + ": " + record.error + "\n";
    result.trouble = true;
    if (options_.format == Format::kReport || options_.format == Format::kIndex) {
      result.skipped = true;  // no report, no index row: it is no photo; JSON and CSV give it a row
    } else {
      Format(record, result);
    }
    return result;
  }
  exifinfo_photo* raw = nullptr;
  const bool standardInput = !file.walked && file.path == "-";
  const char* special = nullptr;
  const int error = standardInput ? exifinfo_read_fd(STDIN_FILENO, &raw)
                                  : ReadFile(file.path, file.walked, storage, &raw, special);
  if (special != nullptr) return PassOver(file.path, special);
  Photo photo(raw);
  if (error == ENOMEM) OutOfMemory();
  std::string sidecarTrouble;
  if (error == 0 && !file.sidecar.empty()) sidecarTrouble = ApplySidecar(file.sidecar, photo);
  FileRecord record{standardInput ? "-" : file.path, photo.get(), ""};
  const std::string& name = record.path;
  if (error == EISDIR && file.walked) {  // a link to a directory: not followed
    if (options_.verbose) result.err = "exifinfo: " + name + ": not followed: a link to a directory\n";
    result.skipped = true;
    return result;
  }
  if (error != 0) {
    record.error = FailureText(error, nullptr);
    result.err = "exifinfo: " + name + ": " + record.error + "\n";
    result.trouble = true;
  } else {
    switch (photo->ending) {
      case EXIFINFO_NOT_A_JPEG:
        if (file.walked) {
          if (!options_.quiet) result.err = "exifinfo: " + name + ": not a photo (in no known container)\n";
          result.skipped = true;
          result.notAPhoto = true;
          result.path = file.path;
          result.size = file.size, result.mtimeNs = file.mtimeNs;
          return result;
        }
        result.err = "exifinfo: " + name + ": not a photo (in no known container)\n";
        result.trouble = true;
        break;
      case EXIFINFO_READ_ERROR:
        record.error = FailureText(0, photo.get());
        result.err = "exifinfo: " + name + ": " + record.error + "\n";
        result.trouble = true;
        break;
      case EXIFINFO_TOO_MANY_PADDING:  // the reader's own two diagnostics
        result.err = "exifinfo: " + name + ": too many padding unsigned chars\n";
        break;
      case EXIFINFO_END_OF_IMAGE:
        result.err = "exifinfo: " + name + ": No image in jpeg!\n";
        break;
      default:
        break;
    }
    if (!options_.thumbnailFolder.empty()) SaveThumbnail(file, *photo, result);
  }
  if (!sidecarTrouble.empty()) result.err += "exifinfo: " + file.sidecar + ": sidecar not read: " + sidecarTrouble + "\n";
  if (options_.format == Format::kIndex) {
    if (error != 0 || (photo != nullptr && photo->ending == EXIFINFO_READ_ERROR)) result.failure = record.error;
    result.path = record.path;
    result.size = file.size, result.mtimeNs = file.mtimeNs;
    for (const Column& column : options_.columns)
      if (!column.IsPath()) PackSqlValue(ColumnSqlValue(record, column), result.row);
    return result;
  }
  Format(record, result);
  if (keep != nullptr) *keep = std::move(photo);
  return result;
}

FileResult FileReader::PassOver(const std::string& path, const char* what) const {
  FileResult result;
  result.skipped = true;
  if (options_.verbose) result.err = "exifinfo: " + path + ": passed over: " + what + "\n";
  return result;
}

void FileReader::SaveThumbnail(const WalkedFile& file, const exifinfo_photo& photo, FileResult& result) const {
  const std::string relative = !file.walked && file.path == "-" ? "stdin" : file.relative;
  if (photo.thumbnail == nullptr) {
    if (options_.verbose) result.err += "exifinfo: " + file.path + ": no thumbnail\n";
    return;
  }
  std::string written;
  ThumbnailOutcome outcome = ThumbnailOutcome::kFailed;
  const std::string why = thumbnails_.Write(relative, photo.thumbnail, photo.thumbnail_size, written, &outcome);
  result.thumbnailKept = outcome == ThumbnailOutcome::kKept;
  result.thumbnailDiffers = outcome == ThumbnailOutcome::kDiffers;
  if (!why.empty()) result.trouble = true;
  if (!why.empty() && (!result.thumbnailDiffers || options_.verbose)) {  // differing ones: one line at the end
    result.err += "exifinfo: " + written + ": " + why + "\n";
  } else if (options_.verbose && why.empty()) {
    result.err += "exifinfo: " + file.path + (result.thumbnailKept ? ": thumbnail kept, the same, at " : ": thumbnail written to ") +
                  written + "\n";
  }
}

void FileReader::Format(const FileRecord& record, FileResult& result) const {
  switch (options_.format) {
    case Format::kJson:
      result.out = JsonLine(record, options_.columns);
      if (result.out.empty()) OutOfMemory();
      result.out += '\n';
      return;
    case Format::kCsv: result.out = CsvRow(record, options_.columns); return;
    case Format::kIndex: return;
    case Format::kReport:
      if (headers_) result.out = "==> " + record.path + " <==\n";
      AppendReport(record.photo != nullptr ? *record.photo : defaults_, options_.crlf, options_.terminal, result.out);
      return;
  }
}

}  // namespace exifinfo_tool
