// SPDX-License-Identifier: MIT
#include "report/photo_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "report/text_encoding.h"

namespace exifinfo {
namespace {

// Owns a descriptor for one call.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Closes it now; false (errno set) when the close reports a failed write.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

// Opened without truncation first: when it turns out to be the photo itself (same device and
// inode, whatever the spelling or link), it is closed untouched before anything is lost. It is
// emptied only once the report is ready to be written, so nothing that can fail comes between
// emptying it and writing it.
int OpenOutput(const char* path, int inputFd, ReportOutcome& outcome) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) {
    outcome.outputError = errno;
    return -1;
  }
  struct stat out {}, in {};
  if (inputFd >= 0 && fstat(fd, &out) == 0 && fstat(inputFd, &in) == 0 && in.st_dev == out.st_dev &&
      in.st_ino == out.st_ino) {
    close(fd);
    outcome.outputIsInput = true;
    outcome.outputError = EINVAL;
    return -1;
  }
  // Writes to a FIFO or device wait for their reader as usual.
  const int flags = fcntl(fd, F_GETFL);
  if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
    outcome.outputError = errno;
    close(fd);
    return -1;
  }
  return fd;
}

void WriteOutput(Descriptor& output, const wchar_t* report, size_t length, ReportOutcome& outcome) {
  struct stat st {};
  // Only a regular file holds old contents to replace; a FIFO or device just takes the bytes.
  if (fstat(output.get(), &st) == 0 && S_ISREG(st.st_mode) && ftruncate(output.get(), 0) != 0) {
    outcome.outputError = errno;
    return;
  }
  const bool written = WriteUtf8(output.get(), report, length);
  if (!written) outcome.outputError = errno;
  const bool closed = output.Close();
  if (written && !closed) outcome.outputError = errno;
  outcome.outputWritten = written && closed;
}

size_t FormatOf(const ExifReader& reader, WideBuffer report, WideBuffer dataBlock) {
  if (reader.HasInfo()) return FormatReport(*reader.Info, report, dataBlock);
  return FormatReport(ImageInfo{}, report, dataBlock);  // the record could not be allocated
}

// Reads and formats one stream.
size_t Report(InputStream& stream, WideBuffer report, WideBuffer dataBlock, FILE* diagnostics, ReadEnding& read) {
  size_t length = 0;
  ReadPhoto(stream, diagnostics, [&](const ExifReader& reader, ReadEnding ending) {
    read = ending;
    length = FormatOf(reader, report, dataBlock);
  });
  return length;
}

}  // namespace

bool WriteUtf8(int fd, const wchar_t* text, size_t length) {
  char chunk[4096];
  size_t used = 0;
  auto flush = [&] {
    for (size_t done = 0; done < used;) {
      const ssize_t n = write(fd, chunk + done, used - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = EIO;
        return false;
      }
      done += static_cast<size_t>(n);
    }
    used = 0;
    return true;
  };
  for (size_t i = 0; i < length; ++i) {
    if (sizeof chunk - used < 4 && !flush()) return false;
    // The report holds code points only; anything else would be a fault upstream.
    const size_t n = text[i] < 0 ? 0 : EncodeUtf8(static_cast<uint32_t>(text[i]), chunk + used);
    if (n == 0) {
      errno = EILSEQ;
      return false;
    }
    used += n;
  }
  return flush();
}

ReportOutcome ReportFile(const char* inputPath, const char* outputPath, WideBuffer report,
                         WideBuffer dataBlock, FILE* diagnostics) {
  ReportOutcome outcome;
  Descriptor input(OpenForReading(inputPath, outcome.inputError));
  outcome.inputOpened = static_cast<bool>(input);
  outcome.outputRequested = outputPath != nullptr && outputPath[0] != '\0';
  Descriptor output(outcome.outputRequested ? OpenOutput(outputPath, input.get(), outcome) : -1);

  // A partial read still gives its report; an unopened input gives the report of defaults.
  if (input) {
    uint8_t buffer[kFirstReadBytes];
    InputStream stream(input.get(), 0, buffer, sizeof buffer);
    outcome.reportLength = Report(stream, report, dataBlock, diagnostics, outcome.read);
    outcome.nothingRead = stream.nothingRead();
  } else {
    outcome.reportLength = FormatReport(ImageInfo{}, report, dataBlock);
  }
  if (output) WriteOutput(output, report.data, outcome.reportLength, outcome);
  return outcome;
}

ReportOutcome ReportDescriptor(int fd, WideBuffer report, WideBuffer dataBlock, FILE* diagnostics) {
  ReportOutcome outcome;
  outcome.inputOpened = true;
  uint8_t buffer[kFirstReadBytes];
  // A descriptor that cannot seek (a pipe, a socket) reads on from where it stands.
  const off_t start = fd >= 0 ? lseek(fd, 0, SEEK_CUR) : -1;
  InputStream stream(fd, start, buffer, sizeof buffer);
  outcome.reportLength = Report(stream, report, dataBlock, diagnostics, outcome.read);
  outcome.nothingRead = stream.nothingRead();
  return outcome;
}

size_t ReportBytes(const uint8_t* data, size_t size, WideBuffer report, WideBuffer dataBlock, FILE* diagnostics) {
  InputStream stream(data, size);
  ReadEnding read;
  return Report(stream, report, dataBlock, diagnostics, read);
}

}  // namespace exifinfo
