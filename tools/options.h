// SPDX-License-Identifier: MIT
// exifinfo's command line: its options, parsed and checked, and the exit statuses.
#pragma once

#include <string>
#include <vector>

#include "file_reader.h"

namespace exifinfo_tool {

constexpr int kExitOk = 0;
constexpr int kExitTrouble = 1;  // a file could not be read or written, or memory ran out
constexpr int kExitUsage = 2;
constexpr long kMaxJobs = 256;
// Reads in flight by default. Reading is bound by the storage's queue more than by the cores:
// from a cold cache, 16 reads at once keep a disk busy where one per core leaves it waiting.
constexpr long kDefaultJobs = 16;

struct Options : ReadOptions {
  std::string outputPath;
  std::string database;  // --db
  bool full = false;     // --full
  bool recursive = false;
  long jobs = kDefaultJobs;
  bool jobsGiven = false;
  bool progress = false;  // --progress: the status line even where it would not show
  std::vector<std::string> operands;
};


// Parses the command line into `options`. -1: go on and run; otherwise the run is over (help,
// version, a usage error: printed) and this is its exit status. Makes the thumbnail folder.
int ParseOptions(int argc, char** argv, Options& options);

}  // namespace exifinfo_tool
