// SPDX-License-Identifier: MIT
// exifinfo: prints the report of each JPEG file given, as UTF-8, exactly as the library builds
// it, or one JSON object per file. Files are read in parallel and printed in the order given.
#include <getopt.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "file_list.h"
#include "json_report.h"
#include "report/photo_report.h"
#include "report/text_encoding.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitTrouble = 1;  // a file could not be opened or written
constexpr int kExitUsage = 2;
constexpr size_t kProgressThreshold = 100;  // files queued before a terminal gets a progress line
constexpr long kMaxJobs = 256;

struct Options {
  std::string outputPath;
  bool recursive = false;
  bool json = false;
  long jobs = 0;  // 0: one per core
  std::vector<std::string> operands;
};

void PrintHelp() {
  std::fputs(
      "Usage: exifinfo [OPTION]... FILE...\n"
      "Print the report of each JPEG FILE: frame size and colour, the first comment,\n"
      "and the camera values of its EXIF block.\n"
      "\n"
      "  -o, --output=OUT     also write the report to OUT (UTF-8, created or replaced);\n"
      "                       takes a single FILE\n"
      "  -r, --recursive      read the files of each directory FILE and its subdirectories,\n"
      "                       in name order; files that do not start like a JPEG (FF D8)\n"
      "                       are reported as \"not a JPEG\" and skipped\n"
      "  -j, --jobs=N         read N files at a time (default: one per core); the output\n"
      "                       keeps the order of the files\n"
      "      --json           print one JSON object per file instead of the report\n"
      "  -h, --help           display this help and exit\n"
      "  -V, --version        output version information and exit\n"
      "\n"
      "With more than one FILE, each report follows a line \"==> FILE <==\".\n"
      "Diagnostics go to standard error; standard output holds only reports.\n"
      "\n"
      "Exit status:\n"
      "  0  if every file was read (files skipped as not a JPEG included),\n"
      "  1  if a file or directory could not be opened or read, OUT or standard output\n"
      "     could not be written, or memory ran out\n"
      "     (the report of defaults is still printed for such a file),\n"
      "  2  if the command line was wrong.\n",
      stdout);
}

void PrintVersion() {
  std::printf("exifinfo (TolvaneEXIFInfo) %s\n", EXIFINFO_VERSION);
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "exifinfo: %s\nTry 'exifinfo --help' for more information.\n", message.c_str());
  return kExitUsage;
}

// What one file gives: its text (a report or a JSON line) and its messages, in order.
struct FileResult {
  std::string out;
  std::string err;
  bool trouble = false;
  bool skipped = false;
};

[[noreturn]] void OutOfMemory() {
  static const char kMessage[] = "exifinfo: out of memory\n";
  if (write(STDERR_FILENO, kMessage, sizeof kMessage - 1) < 0) _exit(kExitTrouble);
  _exit(kExitTrouble);  // what was printed stays; nothing partial follows it
}

std::string CapturedText(FILE* stream, char*& buffer, size_t& size) {
  if (std::fclose(stream) != 0) OutOfMemory();  // the only way a stream in memory fails
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

std::string Utf8Of(const wchar_t* text, size_t length) {
  std::string utf8;
  utf8.reserve(length + length / 4);
  for (size_t i = 0; i < length; ++i) {
    char encoded[4];
    utf8.append(encoded, exifinfo::EncodeUtf8(static_cast<uint32_t>(text[i]), encoded));
  }
  return utf8;
}

FileResult ReadOne(const exifinfo_tool::ListedFile& file, const Options& options) {
  FileResult result;
  const char* path = file.path.c_str();
  std::vector<wchar_t> report(exifinfo::kReportCapacity), dataBlock(exifinfo::kDataBlockCapacity);
  char* captured = nullptr;
  size_t capturedSize = 0;
  FILE* diagnostics = open_memstream(&captured, &capturedSize);
  if (diagnostics == nullptr) OutOfMemory();
  exifinfo::PhotoDetails details;
  const exifinfo::ReportOutcome outcome =
      exifinfo::ReportFile(path, options.outputPath.c_str(), {report.data(), report.size()},
                           {dataBlock.data(), dataBlock.size()}, diagnostics, &details);
  result.err = CapturedText(diagnostics, captured, capturedSize);
  const exifinfo::ReadEnding read = outcome.read;
  if (!outcome.inputOpened) {
    result.err += "exifinfo: " + file.path + ": cannot open: " + std::strerror(outcome.inputError) + "\n";
    result.trouble = true;
  } else if (read.ending == exifinfo::ScanEnding::kReadError) {
    // A directory opens but cannot be read; say it the way other tools do.
    result.err += "exifinfo: " + file.path +
                  (read.readError == EISDIR ? std::string(": Is a directory\n")
                                            : ": read error: " + std::string(std::strerror(read.readError)) + "\n");
    result.trouble = true;
  } else if (file.walked && read.ending == exifinfo::ScanEnding::kNotAJpeg) {
    result.err += "exifinfo: " + file.path + ": not a JPEG\n";
    result.skipped = true;
    return result;
  } else if (read.ending == exifinfo::ScanEnding::kOutOfMemory) {
    OutOfMemory();
  }
  if (outcome.outputRequested && !outcome.outputWritten) {
    result.err += "exifinfo: " + options.outputPath +
                  (outcome.outputIsInput ? std::string(": is the input file itself; not written\n")
                                         : ": cannot write: " + std::string(std::strerror(outcome.outputError)) + "\n");
    result.trouble = true;
  }
  result.out = options.json ? exifinfo_tool::JsonLine(file.path, details) + "\n"
                            : Utf8Of(report.data(), outcome.reportLength);
  return result;
}

// Reads the files on `jobs` threads; `print` sees each result in the files' order and returns
// false to stop the run at once (standard output failed): no further file is read.
template <typename Print>
void ReadAll(const std::vector<exifinfo_tool::ListedFile>& files, const Options& options, long jobs, Print print) {
  if (jobs <= 1 || files.size() <= 1) {
    for (size_t i = 0; i < files.size(); ++i)
      if (!print(i, ReadOne(files[i], options))) return;
    return;
  }
  std::vector<FileResult> results(files.size());
  std::vector<char> done(files.size(), 0);
  std::mutex mutex;
  std::condition_variable ready;
  size_t next = 0;
  auto worker = [&] {
    for (;;) {
      size_t i;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (next == files.size()) return;
        i = next++;
      }
      FileResult result = ReadOne(files[i], options);
      std::lock_guard<std::mutex> lock(mutex);
      results[i] = std::move(result);
      done[i] = 1;
      ready.notify_all();
    }
  };
  // Threads started with pthread_create: std::thread throws when one cannot start, and this
  // tool is built without exceptions. A thread that cannot start means one worker fewer; with
  // none at all, this thread reads the files itself.
  using Worker = decltype(worker);
  auto run = [](void* w) -> void* {
    (*static_cast<Worker*>(w))();
    return nullptr;
  };
  std::vector<pthread_t> threads;
  const size_t count = std::min(static_cast<size_t>(jobs), files.size());
  threads.reserve(count);
  for (size_t t = 0; t < count; ++t) {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, run, &worker) != 0) break;
    threads.push_back(thread);
  }
  if (threads.empty()) worker();
  for (size_t i = 0; i < files.size(); ++i) {
    FileResult result;
    {
      std::unique_lock<std::mutex> lock(mutex);
      ready.wait(lock, [&] { return done[i] != 0; });
      result = std::move(results[i]);
    }
    if (!print(i, std::move(result))) {
      std::lock_guard<std::mutex> lock(mutex);
      next = files.size();  // the workers finish the file in hand and stop
      break;
    }
  }
  for (const pthread_t thread : threads) pthread_join(thread, nullptr);
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
  enum { kJsonOption = 1000 };
  static const option kOptions[] = {
      {"output", required_argument, nullptr, 'o'}, {"recursive", no_argument, nullptr, 'r'},
      {"jobs", required_argument, nullptr, 'j'},   {"json", no_argument, nullptr, kJsonOption},
      {"help", no_argument, nullptr, 'h'},         {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, ":o:rj:hV", kOptions, nullptr)) != -1;) {
    switch (c) {
      case 'o': options.outputPath = optarg; break;
      case 'r': options.recursive = true; break;
      case 'j':
        if (!ParseJobs(optarg, options.jobs)) return UsageError(std::string("invalid number of jobs: '") + optarg + "'");
        break;
      case kJsonOption: options.json = true; break;
      case 'h': PrintHelp(); return kExitOk;
      case 'V': PrintVersion(); return kExitOk;
      case ':': return UsageError(std::string("option '") + argv[optind - 1] + "' requires an argument");
      default: return UsageError(std::string("unrecognized option '") + argv[optind - 1] + "'");
    }
  }
  for (int i = optind; i < argc; ++i) options.operands.emplace_back(argv[i]);
  if (options.operands.empty()) return UsageError("missing FILE operand");
  if (!options.outputPath.empty() && (options.operands.size() > 1 || options.recursive))
    return UsageError("--output takes a single FILE");
  return -1;  // go on
}

}  // namespace

int main(int argc, char** argv) {
  // Built without exceptions: an allocation that fails ends the run with a message, exit 1.
  std::set_new_handler(OutOfMemory);
  Options options;
  if (const int status = ParseOptions(argc, argv, options); status >= 0) {
    // --help and --version exit here too: a failed write of their text is a failure.
    return std::fflush(stdout) == 0 ? status : kExitTrouble;
  }
  bool listed = true;
  const std::vector<exifinfo_tool::ListedFile> files = exifinfo_tool::ListFiles(options.operands, options.recursive, listed);
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  const long jobs = options.jobs != 0 ? options.jobs : (cores > 0 ? cores : 1);
  const bool withHeaders = !options.json && (files.size() > 1 || options.recursive);
  const bool progress = files.size() > kProgressThreshold && isatty(STDERR_FILENO);

  int status = listed ? kExitOk : kExitTrouble;
  size_t printed = 0;
  bool writeFailed = false;
  ReadAll(files, options, jobs, [&](size_t i, FileResult result) {
    if (progress) std::fputs("\r\033[K", stderr);
    std::fputs(result.err.c_str(), stderr);
    if (result.trouble) status = kExitTrouble;
    if (!result.skipped) {
      if (withHeaders && std::printf("%s==> %s <==\n", printed == 0 ? "" : "\n", files[i].path.c_str()) < 0)
        writeFailed = true;
      if (std::fwrite(result.out.data(), 1, result.out.size(), stdout) != result.out.size()) writeFailed = true;
      ++printed;
    }
    if (progress) std::fprintf(stderr, "exifinfo: %zu/%zu files", i + 1, files.size());
    return !writeFailed;
  });
  if (progress) std::fputs("\r\033[K", stderr);
  if (writeFailed || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "exifinfo: write error: %s\n", std::strerror(errno));
    return kExitTrouble;
  }
  return status;
}
