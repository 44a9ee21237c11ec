// SPDX-License-Identifier: MIT
// exifinfo: prints the report of each JPEG file given (LF line ends, or the library's CR LF
// with --crlf), or one JSON object or CSV row per file, and can save embedded thumbnails.
// A client of the public C API (libexifinfo) only. Files stream through a bounded window:
// readers start while the walk goes on and wait for the printer, so memory does not grow
// with the number of files or with a slow reader of standard output.
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <exifinfo.h>
#include <exifinfo_support.h>

#include "file_reader.h"
#include "file_walk.h"
#include "options.h"
#include "photo_index.h"
#include "pipeline.h"
#include "progress.h"
#include "records.h"

namespace {

using exifinfo_tool::FileReader;
using exifinfo_tool::FileResult;
using exifinfo_tool::Format;
using exifinfo_tool::kExitOk;
using exifinfo_tool::kExitTrouble;
using exifinfo_tool::Options;
using exifinfo_tool::OutOfMemory;
using exifinfo_tool::Photo;
using exifinfo_tool::WalkedFile;

// -o OUT for one FILE, by EXIFInfo's own output-file rules: never the photo itself, emptied
// only once the report is ready. The photo was read before; an input that could not be opened
// still gets the report of defaults written. False, with the reason printed, when OUT was not
// written.
bool WriteOutput(const std::string& input, const std::string& outputPath, const exifinfo_photo& photo) {
  // The input's identity, for the same-file check: a descriptor that reads nothing.
  const int inputFd = input == "-" ? dup(STDIN_FILENO) : open(input.c_str(), O_PATH | O_CLOEXEC);
  int error = 0;
  bool isInput = false;
  const int out = exifinfo_support::OpenOutput(outputPath.c_str(), inputFd, error, isInput);
  if (inputFd >= 0) close(inputFd);
  if (isInput) {
    std::fprintf(stderr, "exifinfo: %s: is the input file itself; not written\n", outputPath.c_str());
    return false;
  }
  if (out >= 0) error = exifinfo_support::WriteOutputAndClose(out, photo.report, photo.report_length);
  if (error != 0) {
    std::fprintf(stderr, "exifinfo: %s: cannot write: %s\n", outputPath.c_str(), std::strerror(error));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Built without exceptions: an allocation that fails ends the run with a message, exit 1.
  std::set_new_handler(OutOfMemory);
  // glibc gives each reader thread an arena of its own, and each keeps what it once held: with
  // 16 readers the peak grew with the run (6.1 MiB over 2,000 files, 8.6 over 200,000). Two
  // arenas keep it flat (5.1 and 6.0) and cost nothing measurable: readers spend their time in
  // system calls, not in malloc.
  mallopt(M_ARENA_MAX, 2);
  Options options;
  if (const int status = exifinfo_tool::ParseOptions(argc, argv, options); status >= 0) {
    // --help and --version exit here too: a failed write of their text is a failure.
    return std::fflush(stdout) == 0 ? status : kExitTrouble;
  }
  options.terminal = options.format == Format::kReport && isatty(STDOUT_FILENO);
  exifinfo_photo* none = nullptr;
  const uint8_t empty = 0;
  if (exifinfo_read_memory(&empty, 0, &none) != 0) OutOfMemory();
  const Photo defaults(none);  // the report of a file that could not be read

  static char outputBuffer[1 << 16];
  setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  const bool headers = options.operands.size() > 1 || options.recursive;
  if (!options.thumbnailFolder.empty()) exifinfo_tool::RemoveTemporariesOnSignals();
  exifinfo_tool::PhotoIndex index;
  const bool indexing = !options.database.empty();
  if (indexing) {
    std::vector<std::string> roots;
    if (options.recursive)
      for (const std::string& operand : options.operands)
        if (exifinfo_tool::IsDirectory(operand)) roots.push_back(operand);
    std::string why;
    if (!index.Open(options.database, options.columns, roots, why)) {
      std::fprintf(stderr, "exifinfo: %s: %s\n", options.database.c_str(), why.c_str());
      return kExitTrouble;
    }
    if (!index.notice().empty()) std::fprintf(stderr, "exifinfo: %s: %s\n", options.database.c_str(), index.notice().c_str());
  }
  // The status line: where a person watches standard error and the output goes elsewhere.
  auto progress = std::make_unique<exifinfo_tool::Progress>(
      !options.quiet && options.outputPath.empty() &&
          (options.progress || (isatty(STDERR_FILENO) && (indexing || !isatty(STDOUT_FILENO)))),
      indexing);
  exifinfo_tool::FileWalk walk(options.operands, options.recursive);
  const FileReader reader(options, *defaults, headers);
  int status = kExitOk;
  bool writeFailed = false, first = true, indexFailed = false;
  size_t filesRead = 0, passedOver = 0, failed = 0, thumbnailsKept = 0, thumbnailsDiffering = 0;
  const auto count = [&](const FileResult& result) {
    thumbnailsKept += result.thumbnailKept;
    thumbnailsDiffering += result.thumbnailDiffers;
    if (result.trouble) ++failed;
    else if (result.skipped) ++passedOver;
    else ++filesRead;
  };
  if (options.format == Format::kCsv && std::fputs(exifinfo_tool::CsvHeader(options.columns).c_str(), stdout) < 0) writeFailed = true;

  if (!options.outputPath.empty()) {
    // One FILE: read it, print it, and write OUT as the library writes it.
    WalkedFile file;
    walk.Next(file);
    Photo photo;
    exifinfo_tool::Storage alone;
    const FileResult result = reader.Read(file, alone, &photo);
    count(result);
    std::fputs(result.err.c_str(), stderr);
    if (result.trouble) status = kExitTrouble;
    if (std::fwrite(result.out.data(), 1, result.out.size(), stdout) != result.out.size()) writeFailed = true;
    if (!WriteOutput(file.path, options.outputPath, photo ? *photo : *defaults)) status = kExitTrouble;
  } else {
    // With --db, a file whose size and modification time its row already has is never opened.
    auto next = [&](WalkedFile& file) {
      while (walk.Next(file)) {
        // A folder that could not be read keeps its rows: they were not checked. One that is
        // gone (ENOENT, under a folder that was read) loses them as the walk finds them gone.
        if (indexing && file.kind == WalkedFile::Kind::kUnreadableDirectory && file.errorNumber != ENOENT)
          index.Unreachable(exifinfo_tool::WithoutTrailingSlashes(file.path));
        if (!indexing || file.kind != WalkedFile::Kind::kFile || file.path == "-") return true;
        struct stat st {};
        if (stat(file.path.c_str(), &st) != 0) return true;  // the read says why
        file.size = st.st_size;
        file.mtimeNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
        // A photo with a sidecar is read again when either changes, or the sidecar comes or goes.
        if (!file.sidecar.empty() && stat(file.sidecar.c_str(), &st) == 0) {
          file.size += st.st_size;
          file.mtimeNs = std::max(file.mtimeNs, int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec);
        }
        if (!index.Unchanged(file.path, file.size, file.mtimeNs, options.full)) return true;
        progress->Unchanged();
      }
      return false;
    };
    auto read = [&](const WalkedFile& file, exifinfo_tool::Storage& storage) { return reader.Read(file, storage); };
    // By default as many readers run as there are processors, and up to 16 wait on the storage;
    // -j N runs N at once, as asked.
    const long processors = sysconf(_SC_NPROCESSORS_ONLN);
    const long runners = options.jobsGiven ? options.jobs : std::min(options.jobs, processors > 0 ? processors : 1L);
    exifinfo_tool::RunOrdered<WalkedFile, FileResult>(next, read, options.jobs, runners, [&](FileResult result) {
      progress->Write(result.err);
      progress->Done();
      count(result);
      if (result.trouble) status = kExitTrouble;
      if (indexing) {
        const bool written = result.notAPhoto ? index.PassOver(result.path, result.size, result.mtimeNs)
                             : result.skipped         ? true
                             : !result.failure.empty() ? index.PutFailed(result.path, result.failure, result.row,
                                                                          result.size, result.mtimeNs)
                                                       : index.Put(result.path, result.row, result.size, result.mtimeNs);
        if (!written) {
          progress->Write("exifinfo: " + options.database + ": " + index.lastError() + "\n");
          indexFailed = true;
        }
        return written;
      }
      if (result.skipped) return true;
      // Reports are separated by an empty line, as head(1) separates files.
      if (options.format == Format::kReport && headers && !first && std::fputc('\n', stdout) == EOF) writeFailed = true;
      first = false;
      if (std::fwrite(result.out.data(), 1, result.out.size(), stdout) != result.out.size()) writeFailed = true;
      return !writeFailed;
    });
  }
  progress.reset();  // the line cleared before the last words
  if (indexing && !indexFailed) {
    std::string why;
    if (!index.Finish(filesRead, failed, why)) {
      std::fprintf(stderr, "exifinfo: %s: %s\n", options.database.c_str(), why.c_str());
      indexFailed = true;
    }
  }
  if (indexFailed) status = kExitTrouble;
  const int writeError = errno;  // of the write that failed, if one did: isatty may change it
  if (thumbnailsDiffering != 0 && !options.verbose)
    std::fprintf(stderr, "exifinfo: %zu thumbnails differ from the files in %s; not replaced (--force replaces them, -v names them)\n",
                 thumbnailsDiffering, options.thumbnailFolder.c_str());
  if (options.verbose || isatty(STDERR_FILENO)) {
    std::fprintf(stderr, "exifinfo: %zu read, %zu passed over, %zu failed", filesRead, passedOver, failed);
    if (thumbnailsKept != 0) std::fprintf(stderr, ", %zu thumbnails kept", thumbnailsKept);
    std::fputc('\n', stderr);
  }
  errno = writeError;
  if (writeFailed || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "exifinfo: write error: %s\n", std::strerror(errno));
    return kExitTrouble;
  }
  return status;
}
