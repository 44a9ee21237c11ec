// SPDX-License-Identifier: MIT
#include "options.h"

#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "exifinfo.h"
#include "records.h"

namespace exifinfo_tool {
namespace {

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
      "                         (comma-separated, in any case, e.g.\n"
      "                         path,CaptureTime,GPSLatitude)\n"
      "      --list-fields      print each key of JSON and CSV with its type and what\n"
      "                         it means, and exit\n"
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

}  // namespace

int ParseOptions(int argc, char** argv, Options& options) {
  enum { kJsonOption = 1000, kCsvOption, kForceOption, kCrlfOption, kDbOption, kFullOption, kProgressOption, kListFieldsOption };
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
      {"list-fields", no_argument, nullptr, kListFieldsOption}, {nullptr, 0, nullptr, 0},
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
      case kListFieldsOption: std::fputs(exifinfo_tool::FieldList().c_str(), stdout); return kExitOk;
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
    const std::vector<std::string> nearest = exifinfo_tool::NearestKeys(unknown);
    std::string hint;
    for (size_t k = 0; k < nearest.size(); ++k)
      hint += (k == 0 ? "; did you mean " : k + 1 == nearest.size() ? " or " : ", ") + nearest[k];
    return UsageError("unknown field '" + unknown + "' in --fields" + (hint.empty() ? "; --list-fields lists them" : hint + "?"));
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


}  // namespace exifinfo_tool
