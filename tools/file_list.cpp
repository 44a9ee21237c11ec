// SPDX-License-Identifier: MIT
#include "file_list.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace exifinfo_tool {
namespace {

// Symbolic links to directories are not followed inside a walk, so a link loop cannot recur.
bool IsRealDirectory(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void Walk(const std::string& dir, std::vector<ListedFile>& out, bool& ok) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) {
    std::fprintf(stderr, "exifinfo: %s: cannot read directory: %s\n", dir.c_str(), std::strerror(errno));
    ok = false;
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = readdir(d)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.emplace_back(entry->d_name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  const std::string prefix = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  for (const std::string& name : names) {
    const std::string path = prefix + name;
    if (IsRealDirectory(path)) {
      Walk(path, out, ok);
    } else {
      out.push_back({path, true});
    }
  }
}

}  // namespace

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<ListedFile> ListFiles(const std::vector<std::string>& operands, bool recursive, bool& ok) {
  std::vector<ListedFile> out;
  for (const std::string& operand : operands) {
    if (recursive && IsDirectory(operand)) {
      Walk(operand, out, ok);
    } else {
      out.push_back({operand, false});
    }
  }
  return out;
}

}  // namespace exifinfo_tool
