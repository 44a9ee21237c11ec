// SPDX-License-Identifier: MIT
// exifinfo: prints the report of each JPEG file given (LF line ends, or the library's CR LF
// with --crlf), or one JSON object or CSV row per file, and can save embedded thumbnails.
// A client of the public C API (libexifinfo) only. Files stream through a bounded window:
// readers start while the walk goes on and wait for the printer, so memory does not grow
// with the number of files or with a slow reader of standard output.
#include <fcntl.h>
#include <getopt.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "exifinfo.h"
#include "file_reader.h"
#include "file_walk.h"
#include "photo_index.h"
#include "progress.h"
#include "io/output_file.h"
#include "pipeline.h"
#include "records.h"

namespace {

using exifinfo_tool::FileReader;
using exifinfo_tool::FileResult;
using exifinfo_tool::Format;
using exifinfo_tool::OutOfMemory;
using exifinfo_tool::Photo;
using exifinfo_tool::WalkedFile;

constexpr int kExitOk = 0;
constexpr int kExitTrouble = 1;  // a file could not be read or written, or memory ran out
constexpr int kExitUsage = 2;
constexpr long kMaxJobs = 256;
// Reads in flight by default. Reading is bound by the storage's queue more than by the cores:
// from a cold cache, 16 reads at once keep a disk busy where one per core leaves it waiting.
constexpr long kDefaultJobs = 16;

struct Options : exifinfo_tool::ReadOptions {
  std::string outputPath;
  std::string database;  // --db
  bool full = false;     // --full
  bool recursive = false;
  long jobs = kDefaultJobs;
  bool jobsGiven = false;
  bool progress = false;  // --progress: the status line even where it would not show
  std::vector<std::string> operands;
};

void PrintHelp() {
  std::fputs(
      "Usage: exifinfo [OPTION]... FILE...\n"
      "Print the report of each photo FILE: frame size and colour, the first comment,\n"
      "and the camera values of its EXIF block. Photos are known by their content:\n"
      "JPEG, TIFF, BigTIFF and raw (DNG, NEF, CR2, CR3, ARW, ORF, RW2, PEF, RAF),\n"
      "HEIF/HEIC, AVIF, PNG, WebP and JPEG XL. With FILE -, read standard input.\n"
      "\n"
      "  -o, --output=OUT       also write the report to OUT exactly as the library\n"
      "                         writes it (UTF-8, CR LF); takes a single FILE\n"
      "  -r, --recursive        read the files of each directory FILE and its\n"
      "                         subdirectories, depth first, names in byte order; files\n"
      "                         in no known container are reported as \"not a photo\"\n"
      "                         and skipped; symbolic links to directories are not\n"
      "                         followed; FIFOs, sockets and devices are passed over\n"
      "                         unopened; a directory that cannot be read gets a JSON or\n"
      "                         CSV row with its error\n"
      "  -j, --jobs=N           read N files at a time; the output keeps the order of\n"
      "                         the files (default: one a processor, and up to 16\n"
      "                         while files not yet cached are read from the disk)\n"
      "      --json             print one JSON object per file instead of the report\n"
      "      --csv              print a header row, then one CSV row per file\n"
      "  -f, --fields=LIST      print only these keys in JSON and CSV, in this order\n"
      "                         (comma-separated, e.g. path,CaptureTime,GPSLatitude)\n"
      "  -t, --thumbnails=DIR   write each embedded thumbnail to DIR, named after its\n"
      "                         photo (its path below FILE under -r) plus .thumb.jpg;\n"
      "                         DIR and its parents are made when missing\n"
      "      --force            let --thumbnails replace files that exist\n"
      "      --crlf             end report lines with CR LF, as the library does\n"
      "      --db=FILE          keep the photos' values in the SQLite database FILE\n"
      "                         (made when missing) instead of printing them; a later\n"
      "                         run reads only the files that are new or changed, and\n"
      "                         drops the rows of files that are gone\n"
      "      --full             with --db, read every file again\n"
      "  -q, --quiet            no line for the files passed over as no photo, no status line\n"
      "      --progress         a status line on standard error, even when it is no terminal\n"
      "                         or standard output is one\n"
      "  -v, --verbose          also say which photos have no thumbnail, what was passed\n"
      "                         over, and how many files were read (also said when\n"
      "                         standard error is a terminal)\n"
      "  -h, --help             display this help and exit\n"
      "  -V, --version          output version information and exit\n"
      "\n"
      "With more than one FILE (or -r), each report follows a line \"==> FILE <==\".\n"
      "Diagnostics go to standard error; standard output holds only reports.\n"
      "\n"
      "Exit status:\n"
      "  0  if every file was read (files skipped under -r as not a photo included),\n"
      "  1  if a FILE could not be opened or read or is not a photo, OUT, a thumbnail\n"
      "     or standard output could not be written, or memory ran out (the report\n"
      "     of defaults is still printed for such a FILE),\n"
      "  2  if the command line was wrong.\n",
      stdout);
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "exifinfo: %s\nTry 'exifinfo --help' for more information.\n", message.c_str());
  return kExitUsage;
}

// -o OUT for one FILE, by EXIFInfo's own output-file rules: never the photo itself, emptied
// only once the report is ready. The photo was read before; an input that could not be opened
// still gets the report of defaults written. False, with the reason printed, when OUT was not
// written.
bool WriteOutput(const std::string& input, const std::string& outputPath, const exifinfo_photo& photo) {
  // The input's identity, for the same-file check: a descriptor that reads nothing.
  const int inputFd = input == "-" ? dup(STDIN_FILENO) : open(input.c_str(), O_PATH | O_CLOEXEC);
  int error = 0;
  bool isInput = false;
  const int out = exifinfo::OpenOutput(outputPath.c_str(), inputFd, error, isInput);
  if (inputFd >= 0) close(inputFd);
  if (isInput) {
    std::fprintf(stderr, "exifinfo: %s: is the input file itself; not written\n", outputPath.c_str());
    return false;
  }
  if (out >= 0) error = exifinfo::WriteOutputAndClose(out, photo.report, photo.report_length);
  if (error != 0) {
    std::fprintf(stderr, "exifinfo: %s: cannot write: %s\n", outputPath.c_str(), std::strerror(error));
    return false;
  }
  return true;
}

// mkdir -p: each missing folder of `path`, made in turn (0777 less the umask). 0, or -1 with
// errno set by the mkdir that failed.
int MakeDirectories(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && path[at] != '/') continue;
    const std::string prefix = path.substr(0, at);
    if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return -1;
  }
  return 0;
}

bool ParseJobs(const char* text, long& jobs) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 1 || value > kMaxJobs) return false;
  jobs = value;
  return true;
}

int ParseOptions(int argc, char** argv, Options& options) {
  enum { kJsonOption = 1000, kCsvOption, kForceOption, kCrlfOption, kDbOption, kFullOption, kProgressOption };
  std::string fields;
  bool fieldsGiven = false;
  static const option kOptions[] = {
      {"output", required_argument, nullptr, 'o'},     {"recursive", no_argument, nullptr, 'r'},
      {"jobs", required_argument, nullptr, 'j'},       {"json", no_argument, nullptr, kJsonOption},
      {"csv", no_argument, nullptr, kCsvOption},       {"thumbnails", required_argument, nullptr, 't'},
      {"force", no_argument, nullptr, kForceOption},   {"crlf", no_argument, nullptr, kCrlfOption},
      {"verbose", no_argument, nullptr, 'v'},          {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},          {"fields", required_argument, nullptr, 'f'},
      {"quiet", no_argument, nullptr, 'q'},           {"db", required_argument, nullptr, kDbOption},
      {"full", no_argument, nullptr, kFullOption},     {"progress", no_argument, nullptr, kProgressOption},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;
  int formats = 0;
  for (int c; (c = getopt_long(argc, argv, ":o:rj:t:f:qvhV", kOptions, nullptr)) != -1;) {
    switch (c) {
      case 'o': options.outputPath = optarg; break;
      case 'r': options.recursive = true; break;
      case 'j':
        if (!ParseJobs(optarg, options.jobs)) return UsageError(std::string("invalid number of jobs: '") + optarg + "'");
        options.jobsGiven = true;
        break;
      case 't': options.thumbnailFolder = optarg; break;
      case 'f': fields = optarg, fieldsGiven = true; break;
      case 'v': options.verbose = true; break;
      case 'q': options.quiet = true; break;
      case kJsonOption: options.format = Format::kJson, ++formats; break;
      case kCsvOption: options.format = Format::kCsv, ++formats; break;
      case kForceOption: options.force = true; break;
      case kCrlfOption: options.crlf = true; break;
      case kDbOption: options.database = optarg; break;
      case kFullOption: options.full = true; break;
      case kProgressOption: options.progress = true; break;
      case 'h': PrintHelp(); return kExitOk;
      case 'V': std::printf("exifinfo (TolvaneEXIFInfo) %s\n", exifinfo_version()); return kExitOk;
      // getopt names the option it stopped at in optopt; a long option's whole text is in argv.
      case ':':
        return UsageError(optopt != 0 ? std::string("option requires an argument -- '") + static_cast<char>(optopt) + "'"
                                      : std::string("option '") + argv[optind - 1] + "' requires an argument");
      default:
        return UsageError(optopt != 0 ? std::string("invalid option -- '") + static_cast<char>(optopt) + "'"
                                      : std::string("unrecognized option '") + argv[optind - 1] + "'");
    }
  }
  for (int i = optind; i < argc; ++i) options.operands.emplace_back(argv[i]);
  if (options.operands.empty()) return UsageError("missing FILE operand");
  if (formats > 1) return UsageError("--json and --csv cannot go together");
  if (!options.database.empty()) {
    if (formats != 0 || fieldsGiven || !options.outputPath.empty())
      return UsageError("--db goes without --json, --csv, --fields and --output");
    options.format = Format::kIndex;
  }
  if (options.full && options.database.empty()) return UsageError("--full goes with --db");
  if (fieldsGiven && options.format == Format::kReport) return UsageError("--fields goes with --json or --csv");
  std::string unknown;
  if (!fieldsGiven) {
    options.columns = exifinfo_tool::AllColumns();
  } else if (!exifinfo_tool::SelectColumns(fields, options.columns, unknown)) {
    return UsageError("unknown field '" + unknown + "' in --fields");
  }
  if (!options.outputPath.empty() && (options.operands.size() > 1 || options.recursive))
    return UsageError("--output takes a single FILE");
  size_t standardInputs = 0;
  for (const std::string& operand : options.operands) standardInputs += operand == "-" ? 1u : 0u;
  if (standardInputs > 1) return UsageError("standard input (-) can be read once");
  if (standardInputs != 0 && isatty(STDIN_FILENO))
    return UsageError("standard input is a terminal; pipe or redirect a photo into it");
  if (options.force && options.thumbnailFolder.empty()) return UsageError("--force goes with --thumbnails");
  if (!options.thumbnailFolder.empty()) {
    struct stat st {};
    const int error = MakeDirectories(options.thumbnailFolder) != 0          ? errno
                      : stat(options.thumbnailFolder.c_str(), &st) != 0 ? errno
                      : S_ISDIR(st.st_mode)                              ? 0
                                                                         : ENOTDIR;
    if (error != 0) {
      std::fprintf(stderr, "exifinfo: %s: cannot write thumbnails there: %s\n", options.thumbnailFolder.c_str(),
                   std::strerror(error));
      return kExitTrouble;
    }
  }
  return -1;  // go on
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
  if (const int status = ParseOptions(argc, argv, options); status >= 0) {
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
