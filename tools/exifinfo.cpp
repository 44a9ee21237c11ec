// exifinfo: prints the report of each JPEG file given, as UTF-8, exactly as the library builds it.
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "report/photo_report.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUnreadable = 1;
constexpr int kExitUsage = 2;

void PrintHelp() {
  std::fputs(
      "Usage: exifinfo [OPTION]... FILE...\n"
      "Print the report of each JPEG FILE: frame size and colour, the first comment,\n"
      "and the camera values of its EXIF block.\n"
      "\n"
      "  -o, --output=OUT   also write the report to OUT (UTF-8, created or replaced);\n"
      "                     takes a single FILE\n"
      "  -h, --help         display this help and exit\n"
      "  -V, --version      output version information and exit\n"
      "\n"
      "With more than one FILE, each report follows a line \"==> FILE <==\".\n"
      "The reader's diagnostics go to standard error; standard output holds only reports.\n"
      "\n"
      "Exit status:\n"
      "  0  every file was opened and its report printed\n"
      "  1  a file could not be opened (its report of defaults is still printed)\n"
      "  2  bad usage\n",
      stdout);
}

void PrintUsageError(const char* message) {
  std::fprintf(stderr, "exifinfo: %s\nTry 'exifinfo --help' for more information.\n", message);
}

// One file: its report on standard output; a failure to open either file on standard error.
bool ReportOne(const char* path, const char* outputPath, bool withHeader, bool first) {
  static wchar_t report[exifinfo::kReportCapacity];
  static wchar_t dataBlock[exifinfo::kDataBlockCapacity];
  const exifinfo::ReportOutcome outcome = exifinfo::ReportFile(
      path, outputPath, {report, exifinfo::kReportCapacity}, {dataBlock, exifinfo::kDataBlockCapacity},
      stderr);
  bool ok = true;
  if (!outcome.inputOpened) {
    std::fprintf(stderr, "exifinfo: %s: cannot open: %s\n", path, std::strerror(outcome.inputError));
    ok = false;
  }
  if (outcome.outputRequested && !outcome.outputWritten) {
    if (outcome.outputIsInput) {
      std::fprintf(stderr, "exifinfo: %s: is the input file itself; not written\n", outputPath);
    } else {
      std::fprintf(stderr, "exifinfo: %s: cannot write: %s\n", outputPath, std::strerror(outcome.outputError));
    }
    ok = false;
  }
  if (withHeader) std::printf("%s==> %s <==\n", first ? "" : "\n", path);
  if (!exifinfo::WriteUtf8(stdout, report, outcome.reportLength)) ok = false;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  static const option kOptions[] = {
      {"output", required_argument, nullptr, 'o'},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0},
  };
  const char* outputPath = "";
  opterr = 0;
  for (int option; (option = getopt_long(argc, argv, ":o:hV", kOptions, nullptr)) != -1;) {
    switch (option) {
      case 'o': outputPath = optarg; break;
      case 'h': PrintHelp(); return kExitOk;
      case 'V': std::printf("exifinfo %s\n", EXIFINFO_VERSION); return kExitOk;
      case ':': PrintUsageError("option requires an argument -- 'o'"); return kExitUsage;
      default: PrintUsageError("unrecognized option"); return kExitUsage;
    }
  }
  const int fileCount = argc - optind;
  if (fileCount == 0) {
    PrintUsageError("missing FILE operand");
    return kExitUsage;
  }
  if (outputPath[0] != '\0' && fileCount > 1) {
    PrintUsageError("--output takes a single FILE");
    return kExitUsage;
  }
  int status = kExitOk;
  for (int i = optind; i < argc; ++i) {
    if (!ReportOne(argv[i], outputPath, fileCount > 1, i == optind)) status = kExitUnreadable;
  }
  if (std::fflush(stdout) != 0) {
    std::fprintf(stderr, "exifinfo: write error: %s\n", std::strerror(errno));
    return kExitUnreadable;
  }
  return status;
}
