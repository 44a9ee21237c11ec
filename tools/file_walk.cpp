// SPDX-License-Identifier: MIT
#include "file_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace exifinfo_tool {
namespace {

// Follows links: an operand that names a directory through a link is walked, as ls -R does.
bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

// Lists a directory's entries with their types as readdir gives them: only a file system that
// does not say (DT_UNKNOWN) costs an fstatat. Subdirectories are marked with a final '/' in the
// sorted list, so that the walk needs no stat of its own for them.
bool FileWalk::Enter(const std::string& dir, const std::string& relative) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) {
    std::fprintf(stderr, "exifinfo: %s: cannot read directory: %s\n", dir.c_str(), std::strerror(errno));
    failed_ = true;
    return false;
  }
  Level level;
  level.prefix = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  level.relative = relative;
  errno = 0;
  while (const dirent* entry = readdir(d)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    bool isDirectory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat st {};
      isDirectory = fstatat(dirfd(d), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    }
    level.names.emplace_back(isDirectory ? std::string(name) + "/" : std::string(name));
  }
  const int readError = errno;
  closedir(d);
  if (readError != 0) {
    std::fprintf(stderr, "exifinfo: %s: cannot read directory: %s\n", dir.c_str(), std::strerror(readError));
    failed_ = true;
  }
  // Byte order of the names themselves: the '/' of a directory sorts it as its name would.
  std::sort(level.names.begin(), level.names.end(), [](const std::string& a, const std::string& b) {
    const size_t an = a.back() == '/' ? a.size() - 1 : a.size(), bn = b.back() == '/' ? b.size() - 1 : b.size();
    const int c = std::memcmp(a.data(), b.data(), std::min(an, bn));
    return c != 0 ? c < 0 : an < bn;
  });
  levels_.push_back(std::move(level));
  return true;
}

bool FileWalk::Next(WalkedFile& file) {
  for (;;) {
    while (!levels_.empty()) {
      Level& level = levels_.back();
      if (level.next == level.names.size()) {
        levels_.pop_back();
        continue;
      }
      const std::string& name = level.names[level.next++];
      if (name.back() == '/') {
        const std::string bare = name.substr(0, name.size() - 1);
        const std::string path = level.prefix + bare, relative = level.relative + bare + "/";
        Enter(path, relative);  // may grow levels_: `level` is not used after this
        continue;
      }
      file = WalkedFile{level.prefix + name, level.relative + name, true};
      return true;
    }
    if (nextOperand_ == operands_.size()) return false;
    const std::string& operand = operands_[nextOperand_++];
    if (recursive_ && operand != "-" && IsDirectory(operand)) {
      Enter(operand, "");
      continue;
    }
    const size_t slash = operand.find_last_of('/');
    file = WalkedFile{operand, slash == std::string::npos ? operand : operand.substr(slash + 1), false};
    return true;
  }
}

}  // namespace exifinfo_tool
