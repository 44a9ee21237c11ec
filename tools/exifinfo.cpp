// SPDX-License-Identifier: MIT
// exifinfo: prints the report of each JPEG file given (LF line ends, or the library's CR LF
// with --crlf), or one JSON object or CSV row per file, and can save embedded thumbnails.
// A client of the public C API (libexifinfo) only. Files stream through a bounded window:
// readers start while the walk goes on and wait for the printer, so memory does not grow
// with the number of files or with a slow reader of standard output.
#include <fcntl.h>
#include <getopt.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "exifinfo.h"
#include "file_walk.h"
#include "records.h"
#include "thumbnails.h"

namespace {

using exifinfo_tool::FileRecord;
using exifinfo_tool::WalkedFile;

constexpr int kExitOk = 0;
constexpr int kExitTrouble = 1;  // a file could not be read or written, or memory ran out
constexpr int kExitUsage = 2;
constexpr long kMaxJobs = 256;
// Reads in flight by default. Reading is bound by the storage's queue more than by the cores:
// from a cold cache, 16 reads at once keep a disk busy where one per core leaves it waiting.
constexpr long kDefaultJobs = 16;
constexpr size_t kBatchFiles = 32;    // files a reader takes at once
constexpr size_t kBatchesPerJob = 2;  // finished batches a job may hold before the printer

enum class Format { kReport, kJson, kCsv };

struct Options {
  std::string outputPath;
  std::string thumbnailFolder;
  bool force = false;
  bool recursive = false;
  bool verbose = false;
  bool crlf = false;
  Format format = Format::kReport;
  long jobs = kDefaultJobs;
  std::vector<std::string> operands;
};

[[noreturn]] void OutOfMemory() {
  static const char kMessage[] = "exifinfo: out of memory\n";
  if (write(STDERR_FILENO, kMessage, sizeof kMessage - 1) < 0) _exit(kExitTrouble);
  _exit(kExitTrouble);  // what was printed stays; nothing partial follows it
}

void PrintHelp() {
  std::fputs(
      "Usage: exifinfo [OPTION]... FILE...\n"
      "Print the report of each JPEG FILE: frame size and colour, the first comment,\n"
      "and the camera values of its EXIF block. With FILE -, read standard input.\n"
      "\n"
      "  -o, --output=OUT       also write the report to OUT exactly as the library\n"
      "                         writes it (UTF-8, CR LF); takes a single FILE\n"
      "  -r, --recursive        read the files of each directory FILE and its\n"
      "                         subdirectories, depth first, names in byte order; files\n"
      "                         that are not JPEGs are reported as \"not a JPEG\" and\n"
      "                         skipped; symbolic links to directories are not followed\n"
      "  -j, --jobs=N           read N files at a time (default 16); the output keeps\n"
      "                         the order of the files\n"
      "      --json             print one JSON object per file instead of the report\n"
      "      --csv              print a header row, then one CSV row per file\n"
      "  -t, --thumbnails=DIR   write each embedded thumbnail to DIR, named after its\n"
      "                         photo (its path below FILE under -r) plus .thumb.jpg\n"
      "      --force            let --thumbnails replace files that exist\n"
      "      --crlf             end report lines with CR LF, as the library does\n"
      "  -v, --verbose          also say which photos have no thumbnail\n"
      "  -h, --help             display this help and exit\n"
      "  -V, --version          output version information and exit\n"
      "\n"
      "With more than one FILE (or -r), each report follows a line \"==> FILE <==\".\n"
      "Diagnostics go to standard error; standard output holds only reports.\n"
      "\n"
      "Exit status:\n"
      "  0  if every file was read (files skipped under -r as not a JPEG included),\n"
      "  1  if a FILE could not be opened or read or is not a JPEG, OUT, a thumbnail\n"
      "     or standard output could not be written, or memory ran out (the report\n"
      "     of defaults is still printed for such a FILE),\n"
      "  2  if the command line was wrong.\n",
      stdout);
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "exifinfo: %s\nTry 'exifinfo --help' for more information.\n", message.c_str());
  return kExitUsage;
}

struct PhotoFree {
  void operator()(exifinfo_photo* p) const { exifinfo_free(p); }
};
using Photo = std::unique_ptr<exifinfo_photo, PhotoFree>;

// What the printer needs of one file, in order: its text and its messages.
struct FileResult {
  std::string out;
  std::string err;
  bool trouble = false;
  bool skipped = false;
};

// The report's bytes as the tool prints them: LF line ends unless --crlf.
void AppendReport(const exifinfo_photo& photo, bool crlf, std::string& out) {
  const char* text = photo.report;
  const size_t length = photo.report_length;
  if (crlf) {
    out.append(text, length);
    return;
  }
  out.reserve(out.size() + length);
  const char* const end = text + length;
  for (const char* at = text; at < end;) {
    const auto* cr = static_cast<const char*>(std::memchr(at, '\r', static_cast<size_t>(end - at)));
    if (cr == nullptr) {
      out.append(at, end);
      break;
    }
    const bool crlfPair = cr + 1 < end && cr[1] == '\n';
    out.append(at, crlfPair ? cr : cr + 1);  // a CR on its own (inside a text) stays
    at = cr + 1;
  }
}

// A first read that fails is a read error; anything else is an open that failed.
bool IsReadError(int error) { return error == EIO || error == EISDIR || error == EBADF || error == EINVAL; }

// Reads one file (standard input for an operand "-") and builds what the printer prints.
class FileReader {
 public:
  FileReader(const Options& options, const exifinfo_photo& defaults, bool headers)
      : options_(options), defaults_(defaults), headers_(headers),
        thumbnails_(options.thumbnailFolder, options.force) {}

  // `keep`: where the photo goes once read (null: freed here).
  FileResult Read(const WalkedFile& file, Photo* keep = nullptr) const {
    FileResult result;
    exifinfo_photo* raw = nullptr;
    const bool standardInput = !file.walked && file.path == "-";
    const int error = standardInput ? exifinfo_read_fd(STDIN_FILENO, &raw) : exifinfo_read_path(file.path.c_str(), &raw);
    Photo photo(raw);
    if (error == ENOMEM) OutOfMemory();
    FileRecord record{standardInput ? "-" : file.path, photo.get(), ""};
    const std::string& name = record.path;
    if (error == EISDIR && file.walked) {  // a link to a directory: not followed
      if (options_.verbose) result.err = "exifinfo: " + name + ": not followed: a link to a directory\n";
      result.skipped = true;
      return result;
    }
    if (error != 0) {
      record.error = error == EISDIR ? std::strerror(error)
                     : IsReadError(error) ? "read error: " + std::string(std::strerror(error))
                                          : "cannot open: " + std::string(std::strerror(error));
      result.err = "exifinfo: " + name + ": " + record.error + "\n";
      result.trouble = true;
    } else {
      switch (photo->ending) {
        case EXIFINFO_NOT_A_JPEG:
          result.err = "exifinfo: " + name + ": not a JPEG\n";
          if (file.walked) {
            result.skipped = true;
            return result;
          }
          result.trouble = true;
          break;
        case EXIFINFO_READ_ERROR:
          record.error = "read error: " + std::string(std::strerror(photo->read_errno));
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
    Format(record, result);
    if (keep != nullptr) *keep = std::move(photo);
    return result;
  }

 private:
  void SaveThumbnail(const WalkedFile& file, const exifinfo_photo& photo, FileResult& result) const {
    const std::string relative = !file.walked && file.path == "-" ? "stdin" : file.relative;
    if (photo.thumbnail == nullptr) {
      if (options_.verbose) result.err += "exifinfo: " + file.path + ": no thumbnail\n";
      return;
    }
    std::string written;
    const std::string why = thumbnails_.Write(relative, photo.thumbnail, photo.thumbnail_size, written);
    if (!why.empty()) {
      result.err += "exifinfo: " + written + ": " + why + "\n";
      result.trouble = true;
    } else if (options_.verbose) {
      result.err += "exifinfo: " + file.path + ": thumbnail written to " + written + "\n";
    }
  }

  void Format(const FileRecord& record, FileResult& result) const {
    switch (options_.format) {
      case Format::kJson: result.out = exifinfo_tool::JsonLine(record) + "\n"; return;
      case Format::kCsv: result.out = exifinfo_tool::CsvRow(record); return;
      case Format::kReport:
        if (headers_) result.out = "==> " + record.path + " <==\n";
        AppendReport(record.photo != nullptr ? *record.photo : defaults_, options_.crlf, result.out);
        return;
    }
  }

  const Options& options_;
  const exifinfo_photo& defaults_;
  bool headers_;
  exifinfo_tool::ThumbnailFolder thumbnails_;
};

// Walk, read and print: `jobs` threads read while the walk goes on; the printer takes the
// results in the files' order. Work goes out in batches of kBatchFiles files, so that readers
// and the printer meet once a batch rather than once a file (a hand-off costs more than a
// warm read). A reader waits while the printer is `window` batches behind, so at most
// window x kBatchFiles results exist at once. `print` returns false to stop the run at once.
template <typename Print>
void Run(exifinfo_tool::FileWalk& walk, const FileReader& reader, long jobs, Print print) {
  if (jobs <= 1) {
    for (WalkedFile file; walk.Next(file);)
      if (!print(reader.Read(file))) return;
    return;
  }
  const size_t window = static_cast<size_t>(jobs) * kBatchesPerJob;
  struct Batch {
    std::vector<WalkedFile> files;
    std::vector<FileResult> results;
    bool ready = false;
  };
  std::vector<Batch> batches(window);
  std::mutex mutex;
  std::condition_variable space, done;
  uint64_t issued = 0, printed = 0;
  bool walked = false, stop = false;
  auto worker = [&] {
    std::vector<WalkedFile> files;
    std::vector<FileResult> results;
    for (;;) {
      uint64_t seq;
      {
        std::unique_lock<std::mutex> lock(mutex);
        space.wait(lock, [&] { return stop || walked || issued - printed < window; });
        if (stop || walked) return;
        files.clear();
        for (WalkedFile file; files.size() < kBatchFiles && walk.Next(file);) files.push_back(std::move(file));
        if (files.size() < kBatchFiles) walked = true;  // the walk is over: this batch is the last
        if (files.empty()) {
          space.notify_all();
          done.notify_one();
          return;
        }
        seq = issued++;
      }
      results.clear();
      for (const WalkedFile& file : files) results.push_back(reader.Read(file));
      std::lock_guard<std::mutex> lock(mutex);
      Batch& batch = batches[seq % window];
      batch.results.swap(results);
      batch.ready = true;
      if (seq == printed) done.notify_one();
      if (walked) space.notify_all();
    }
  };
  // Threads start with pthread_create: std::thread throws when one cannot start, and this tool
  // is built without exceptions. A thread that cannot start means one reader fewer; with none,
  // this thread reads the files itself.
  using Worker = decltype(worker);
  auto start = [](void* w) -> void* {
    (*static_cast<Worker*>(w))();
    return nullptr;
  };
  std::vector<pthread_t> threads;
  threads.reserve(static_cast<size_t>(jobs));
  for (long t = 0; t < jobs; ++t) {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, start, &worker) != 0) break;
    threads.push_back(thread);
  }
  if (threads.empty()) {
    for (WalkedFile file; walk.Next(file);)
      if (!print(reader.Read(file))) break;
    return;
  }
  std::vector<FileResult> results;
  for (bool go = true; go;) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      done.wait(lock, [&] { return batches[printed % window].ready || (walked && printed == issued); });
      Batch& batch = batches[printed % window];
      if (!batch.ready) break;  // walked, and every batch printed
      results.swap(batch.results);
      batch.ready = false;
      ++printed;
      space.notify_one();
    }
    for (FileResult& result : results) {
      if (!print(std::move(result))) {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;  // the readers finish the batch in hand and stop
        space.notify_all();
        go = false;
        break;
      }
    }
    results.clear();
  }
  for (const pthread_t thread : threads) pthread_join(thread, nullptr);
}

// -o OUT for one FILE: what EXIFInfo does, through the C API. The output is opened (created,
// not yet emptied) before the photo is read, is never the photo itself, and is emptied and
// written only once the report is ready; an input that cannot be opened still gets the report
// of defaults written. Returns false, with the reason printed, when OUT was not written.
bool WriteOutput(const std::string& input, const std::string& outputPath, const exifinfo_photo& photo) {
  const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (out < 0) {
    std::fprintf(stderr, "exifinfo: %s: cannot write: %s\n", outputPath.c_str(), std::strerror(errno));
    return false;
  }
  struct stat o {}, i {};
  const bool same = fstat(out, &o) == 0 &&
                    (input == "-" ? fstat(STDIN_FILENO, &i) : stat(input.c_str(), &i)) == 0 &&
                    o.st_dev == i.st_dev && o.st_ino == i.st_ino;
  if (same) {
    close(out);
    std::fprintf(stderr, "exifinfo: %s: is the input file itself; not written\n", outputPath.c_str());
    return false;
  }
  const int flags = fcntl(out, F_GETFL);
  bool ok = flags != -1 && fcntl(out, F_SETFL, flags & ~O_NONBLOCK) == 0;
  if (ok && S_ISREG(o.st_mode)) ok = ftruncate(out, 0) == 0;
  for (size_t at = 0; ok && at < photo.report_length;) {
    const ssize_t n = write(out, photo.report + at, photo.report_length - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      ok = false;
      break;
    }
    at += static_cast<size_t>(n);
  }
  const int error = errno;
  const bool closed = close(out) == 0;
  if (!ok || !closed) {
    std::fprintf(stderr, "exifinfo: %s: cannot write: %s\n", outputPath.c_str(), std::strerror(ok ? errno : error));
    return false;
  }
  return true;
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
  enum { kJsonOption = 1000, kCsvOption, kForceOption, kCrlfOption };
  static const option kOptions[] = {
      {"output", required_argument, nullptr, 'o'},     {"recursive", no_argument, nullptr, 'r'},
      {"jobs", required_argument, nullptr, 'j'},       {"json", no_argument, nullptr, kJsonOption},
      {"csv", no_argument, nullptr, kCsvOption},       {"thumbnails", required_argument, nullptr, 't'},
      {"force", no_argument, nullptr, kForceOption},   {"crlf", no_argument, nullptr, kCrlfOption},
      {"verbose", no_argument, nullptr, 'v'},          {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},          {nullptr, 0, nullptr, 0},
  };
  opterr = 0;
  int formats = 0;
  for (int c; (c = getopt_long(argc, argv, ":o:rj:t:vhV", kOptions, nullptr)) != -1;) {
    switch (c) {
      case 'o': options.outputPath = optarg; break;
      case 'r': options.recursive = true; break;
      case 'j':
        if (!ParseJobs(optarg, options.jobs)) return UsageError(std::string("invalid number of jobs: '") + optarg + "'");
        break;
      case 't': options.thumbnailFolder = optarg; break;
      case 'v': options.verbose = true; break;
      case kJsonOption: options.format = Format::kJson, ++formats; break;
      case kCsvOption: options.format = Format::kCsv, ++formats; break;
      case kForceOption: options.force = true; break;
      case kCrlfOption: options.crlf = true; break;
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
    const int error = stat(options.thumbnailFolder.c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
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
  exifinfo_photo* none = nullptr;
  const uint8_t empty = 0;
  if (exifinfo_read_memory(&empty, 0, &none) != 0) OutOfMemory();
  const Photo defaults(none);  // the report of a file that could not be read

  static char outputBuffer[1 << 16];
  setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  const bool headers = options.operands.size() > 1 || options.recursive;
  exifinfo_tool::FileWalk walk(options.operands, options.recursive);
  const FileReader reader(options, *defaults, headers);
  int status = kExitOk;
  bool writeFailed = false, first = true;
  if (options.format == Format::kCsv && std::fputs(exifinfo_tool::CsvHeader().c_str(), stdout) < 0) writeFailed = true;

  if (!options.outputPath.empty()) {
    // One FILE: read it, print it, and write OUT as the library writes it.
    WalkedFile file;
    walk.Next(file);
    Photo photo;
    const FileResult result = reader.Read(file, &photo);
    std::fputs(result.err.c_str(), stderr);
    if (result.trouble) status = kExitTrouble;
    if (std::fwrite(result.out.data(), 1, result.out.size(), stdout) != result.out.size()) writeFailed = true;
    if (!WriteOutput(file.path, options.outputPath, photo ? *photo : *defaults)) status = kExitTrouble;
  } else {
    Run(walk, reader, options.jobs, [&](FileResult result) {
      std::fputs(result.err.c_str(), stderr);
      if (result.trouble) status = kExitTrouble;
      if (result.skipped) return true;
      // Reports are separated by an empty line, as head(1) separates files.
      if (options.format == Format::kReport && headers && !first && std::fputc('\n', stdout) == EOF) writeFailed = true;
      first = false;
      if (std::fwrite(result.out.data(), 1, result.out.size(), stdout) != result.out.size()) writeFailed = true;
      return !writeFailed;
    });
  }
  if (walk.failed()) status = kExitTrouble;
  if (writeFailed || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "exifinfo: write error: %s\n", std::strerror(errno));
    return kExitTrouble;
  }
  return status;
}
