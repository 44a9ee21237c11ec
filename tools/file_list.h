// SPDX-License-Identifier: MIT
// The files an exifinfo run reads, in the order they were given.
#pragma once

#include <string>
#include <vector>

namespace exifinfo_tool {

struct ListedFile {
  std::string path;
  bool walked = false;  // found while walking a directory given with -r
};

// Expands the operands. With `recursive`, a directory is walked depth first in name order and
// every file in it is listed; without, a directory is listed as it is (it cannot be read).
// Directories that cannot be walked are reported on standard error; `ok` turns false then.
std::vector<ListedFile> ListFiles(const std::vector<std::string>& operands, bool recursive, bool& ok);

// True when the path names a directory (following links).
bool IsDirectory(const std::string& path);

}  // namespace exifinfo_tool
