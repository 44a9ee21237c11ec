// SPDX-License-Identifier: MIT
#include "report/photo_report.h"

#include <unistd.h>

#include <cerrno>

#include "io/output_file.h"

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
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

// The report of a finished read; the record's defaults when it could not be allocated.
size_t FormatOf(const ExifReader& reader, WideBuffer report, WideBuffer dataBlock, char* utf8, size_t* utf8Length) {
  return FormatReport(reader.HasInfo() ? reader.info() : ImageInfo{}, report, dataBlock, utf8, utf8Length);
}

// Reads and formats one stream.
size_t Report(InputStream& stream, WideBuffer report, WideBuffer dataBlock, FILE* diagnostics, ReadEnding& read,
              char* utf8 = nullptr, size_t* utf8Length = nullptr) {
  size_t length = 0;
  ReadPhoto(stream, diagnostics, false, [&](const ExifReader& reader, ReadEnding ending) {
    read = ending;
    length = FormatOf(reader, report, dataBlock, utf8, utf8Length);
  });
  return length;
}

}  // namespace

ReportOutcome ReportFile(const char* inputPath, const char* outputPath, WideBuffer report,
                         WideBuffer dataBlock, FILE* diagnostics) {
  ReportOutcome outcome;
  Descriptor input(OpenForReading(inputPath, outcome.inputError));
  outcome.inputOpened = static_cast<bool>(input);
  outcome.outputRequested = outputPath != nullptr && outputPath[0] != '\0';
  Descriptor output(outcome.outputRequested
                        ? OpenOutput(outputPath, input.get(), outcome.outputError, outcome.outputIsInput)
                        : -1);

  // A partial read still gives its report; an unopened input gives the report of defaults.
  char utf8[kReportUtf8Capacity];
  size_t utf8Length = 0;
  if (input) {
    uint8_t buffer[kFirstReadBytes];
    InputStream stream(input.get(), 0, buffer, sizeof buffer);
    outcome.reportLength = Report(stream, report, dataBlock, diagnostics, outcome.read, utf8, &utf8Length);
    outcome.nothingRead = stream.nothingRead();
  } else {
    outcome.reportLength = FormatReport(ImageInfo{}, report, dataBlock, utf8, &utf8Length);
  }
  if (output) {
    outcome.outputError = WriteOutputAndClose(output.release(), utf8, utf8Length);
    outcome.outputWritten = outcome.outputError == 0;
  }
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
