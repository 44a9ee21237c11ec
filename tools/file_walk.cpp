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

// What a node that no photo can be is, or null for one that may be read.
const char* Special(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return nullptr;
}

}  // namespace

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Lists a directory's entries with their types as readdir gives them: only a file system that
// does not say (DT_UNKNOWN) and symbolic links (whose target may be a device) cost a stat.
// FIFOs, sockets and device nodes are marked, so that they are passed over and never opened:
// a FIFO with a writer that never writes would stop the run there.
void FileWalk::Enter(const std::string& dir, const std::string& relative) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) {
    const int error = errno;
    unreadable_.push_back(WalkedFile{dir, relative, true, WalkedFile::Kind::kUnreadableDirectory, std::strerror(error)});
    unreadable_.back().errorNumber = error;
    return;
  }
  Level level;
  level.prefix = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  level.relative = relative;
  errno = 0;
  while (const dirent* entry = readdir(d)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    Entry e{name, entry->d_type == DT_DIR, nullptr};
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) {
      e.special = Special(static_cast<mode_t>(DTTOIF(entry->d_type)));
    } else {
      struct stat st {};
      if (fstatat(dirfd(d), name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        e.directory = S_ISDIR(st.st_mode);
        // A link's target decides, but a link to a directory is never followed.
        const bool link = S_ISLNK(st.st_mode);
        if (!link || (fstatat(dirfd(d), name, &st, 0) == 0 && !S_ISDIR(st.st_mode))) e.special = Special(st.st_mode);
      }
    }
    level.entries.push_back(std::move(e));
  }
  const int readError = errno;
  closedir(d);
  if (readError != 0) {
    unreadable_.push_back(WalkedFile{dir, relative, true, WalkedFile::Kind::kUnreadableDirectory, std::strerror(readError)});
    unreadable_.back().errorNumber = readError;
  }
  std::sort(level.entries.begin(), level.entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  levels_.push_back(std::move(level));
}

bool FileWalk::Next(WalkedFile& file) {
  for (;;) {
    if (!unreadable_.empty()) {
      file = std::move(unreadable_.front());
      unreadable_.erase(unreadable_.begin());
      return true;
    }
    if (!levels_.empty()) {
      Level& level = levels_.back();
      if (level.next == level.entries.size()) {
        levels_.pop_back();
        continue;
      }
      const Entry& entry = level.entries[level.next++];
      if (entry.directory) {
        const std::string path = level.prefix + entry.name, relative = level.relative + entry.name + "/";
        Enter(path, relative);  // may grow levels_: `level` is not used after this
        continue;
      }
      file = WalkedFile{level.prefix + entry.name, level.relative + entry.name, true,
                        entry.special != nullptr ? WalkedFile::Kind::kSpecial : WalkedFile::Kind::kFile,
                        entry.special != nullptr ? entry.special : ""};
      return true;
    }
    if (nextOperand_ == operands_.size()) return false;
    const std::string& operand = operands_[nextOperand_++];
    if (recursive_ && operand != "-" && IsDirectory(operand)) {
      Enter(operand, "");
      continue;
    }
    const size_t slash = operand.find_last_of('/');
    file = WalkedFile{operand, slash == std::string::npos ? operand : operand.substr(slash + 1), false,
                      WalkedFile::Kind::kFile, ""};
    return true;
  }
}

}  // namespace exifinfo_tool
