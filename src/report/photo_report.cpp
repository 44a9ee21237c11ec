#include "report/photo_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "jpeg/exif_reader.h"
#include "report/text_encoding.h"

namespace exifinfo {
namespace {

constexpr size_t kInputBufferBytes = 4096;  // a page: what stdio would pick for most files

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Clears O_NONBLOCK again: it was only there so that opening a FIFO never waits for its
// other end. Reads then block as usual while a writer is connected.
bool MakeBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != -1;
}

// `makeBlocking`: clear O_NONBLOCK first (needed for FIFOs and devices, not regular files).
File AdoptDescriptor(int fd, const char* mode, bool makeBlocking, int& error) {
  if (makeBlocking && !MakeBlocking(fd)) {
    error = errno;
    close(fd);
    return nullptr;
  }
  FILE* file = fdopen(fd, mode);
  if (file == nullptr) {
    error = errno;
    close(fd);
  }
  return File(file);
}

// `regularFileSize` is the size of a regular file, and -1 for anything else; only streams that
// are not regular files need O_NONBLOCK cleared (it changes nothing for regular files).
File OpenInput(const char* path, int& error, int64_t& regularFileSize) {
  regularFileSize = -1;
  if (path == nullptr) {
    error = EINVAL;
    return nullptr;
  }
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  struct stat st {};
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (regular) regularFileSize = st.st_size;
  return AdoptDescriptor(fd, "rb", !regular, error);
}

// Opened without truncation first: when it turns out to be the photo itself (same device and
// inode, whatever the spelling or link), it is closed untouched before anything is lost.
File OpenOutput(const char* path, FILE* input, ReportOutcome& outcome) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) {
    outcome.outputError = errno;
    return nullptr;
  }
  struct stat out {}, in {};
  const bool known = fstat(fd, &out) == 0;
  if (known && input != nullptr && fstat(fileno(input), &in) == 0 && in.st_dev == out.st_dev &&
      in.st_ino == out.st_ino) {
    close(fd);
    outcome.outputIsInput = true;
    outcome.outputError = EINVAL;
    return nullptr;
  }
  if (known && S_ISREG(out.st_mode) && ftruncate(fd, 0) != 0) {
    outcome.outputError = errno;
    close(fd);
    return nullptr;
  }
  return AdoptDescriptor(fd, "w", true, outcome.outputError);
}

// The thumbnail's offset from the TIFF header of the section copy it points into.
void CopyDetails(const ExifReader& reader, PhotoDetails& details) {
  details = PhotoDetails{};
  if (!reader.HasInfo()) return;
  details.info = *reader.Info;
  details.info.ThumbnailStart = nullptr;
  const uint8_t* start = reader.Info->ThumbnailStart;
  if (start == nullptr) return;
  constexpr size_t kTiffHeaderInSection = 8;  // two length bytes, "Exif", two zero bytes
  for (const JpegSection& section : reader.Sections) {
    if (section.Bytes == nullptr || section.Length < static_cast<int>(kTiffHeaderInSection)) continue;
    const ByteView bytes{section.Bytes, static_cast<size_t>(section.Length)};
    // Compared as addresses: the pointer was made from this very copy or from another one.
    const auto at = reinterpret_cast<uintptr_t>(start), first = reinterpret_cast<uintptr_t>(bytes.data);
    if (at >= first + kTiffHeaderInSection && at < first + bytes.size) {
      details.hasThumbnail = true;
      details.thumbnailOffset = static_cast<uint32_t>(at - first - kTiffHeaderInSection);
      return;
    }
  }
}

size_t FormatOrDefaults(const ExifReader& reader, WideBuffer report, WideBuffer dataBlock) {
  if (reader.HasInfo()) return FormatReport(*reader.Info, report, dataBlock);
  const ImageInfo defaults{};  // the record could not be allocated: nothing was read
  return FormatReport(defaults, report, dataBlock);
}

size_t Report(InputStream& stream, WideBuffer report, WideBuffer dataBlock, FILE* diagnostics,
              PhotoDetails* details) {
  ExifReader reader;
  if (reader.HasInfo()) reader.ScanSections(stream, diagnostics);  // a partial read still reports
  if (details != nullptr) CopyDetails(reader, *details);
  return FormatOrDefaults(reader, report, dataBlock);
}

}  // namespace

bool WriteUtf8(FILE* stream, const wchar_t* text, size_t length) {
  char chunk[1024];
  size_t used = 0;
  for (size_t i = 0; i < length; ++i) {
    if (sizeof chunk - used < 4) {
      if (fwrite(chunk, 1, used, stream) != used) return false;
      used = 0;
    }
    // The report holds code points only; anything else would be a fault upstream.
    const size_t n = text[i] < 0 ? 0 : EncodeUtf8(static_cast<uint32_t>(text[i]), chunk + used);
    if (n == 0) return false;
    used += n;
  }
  return fwrite(chunk, 1, used, stream) == used;
}

ReportOutcome ReportFile(const char* inputPath, const char* outputPath, WideBuffer report,
                         WideBuffer dataBlock, FILE* diagnostics, PhotoDetails* details) {
  ReportOutcome outcome;
  // The input's stdio buffer: declared first, so that it outlives the stream. With it, stdio
  // neither allocates one nor asks the file system for a block size.
  char inputBuffer[kInputBufferBytes];
  int64_t regularFileSize = -1;
  File input = OpenInput(inputPath, outcome.inputError, regularFileSize);
  outcome.inputOpened = input != nullptr;
  if (input) setvbuf(input.get(), inputBuffer, _IOFBF, sizeof inputBuffer);
  File output;
  outcome.outputRequested = outputPath != nullptr && outputPath[0] != '\0';
  if (outcome.outputRequested) output = OpenOutput(outputPath, input.get(), outcome);

  // A partial read still gives its report; an unopened input gives the report of defaults.
  if (input) {
    InputStream stream(input.get(), regularFileSize);
    outcome.reportLength = Report(stream, report, dataBlock, diagnostics, details);
  } else {
    outcome.reportLength = FormatReport(ImageInfo{}, report, dataBlock);
    if (details != nullptr) *details = PhotoDetails{};
  }

  if (output) {
    const bool written = WriteUtf8(output.get(), report.data, outcome.reportLength);
    if (!written) outcome.outputError = errno;
    const bool closed = std::fclose(output.release()) == 0;
    if (written && !closed) outcome.outputError = errno;
    outcome.outputWritten = written && closed;
  }
  return outcome;
}

size_t ReportStream(FILE* input, WideBuffer report, WideBuffer dataBlock, FILE* diagnostics,
                    PhotoDetails* details) {
  InputStream stream(input);
  return Report(stream, report, dataBlock, diagnostics, details);
}

size_t ReportBytes(const uint8_t* data, size_t size, WideBuffer report, WideBuffer dataBlock,
                   FILE* diagnostics) {
  InputStream stream(data, size);
  return Report(stream, report, dataBlock, diagnostics, nullptr);
}

}  // namespace exifinfo
