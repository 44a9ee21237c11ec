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
#include <map>

namespace exifinfo_tool {
namespace {

// What a node that no photo can be is, or null for one that may be read.
const char* Special(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return nullptr;
}

std::string Lower(const std::string& name) {
  std::string out = name;
  for (char& c : out) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return out;
}

bool IsSidecarName(const std::string& lower) { return lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".xmp") == 0; }

}  // namespace

void PairSidecars(const std::vector<std::string>& names, const std::vector<bool>& directory, std::vector<size_t>& sidecarOf,
                  std::vector<bool>& paired) {
  sidecarOf.assign(names.size(), SIZE_MAX);
  paired.assign(names.size(), false);
  std::map<std::string, size_t> sidecars;  // by lower-case name; the first in byte order
  for (size_t k = 0; k < names.size(); ++k) {
    const std::string lower = Lower(names[k]);
    if (!directory[k] && IsSidecarName(lower)) sidecars.emplace(lower, k);
  }
  if (sidecars.empty()) return;
  for (size_t k = 0; k < names.size(); ++k) {
    const std::string lower = Lower(names[k]);
    if (directory[k] || IsSidecarName(lower)) continue;
    auto found = sidecars.find(lower + ".xmp");
    const size_t dot = lower.find_last_of('.');
    if (found == sidecars.end() && dot != std::string::npos && dot != 0) found = sidecars.find(lower.substr(0, dot) + ".xmp");
    if (found == sidecars.end()) continue;
    sidecarOf[k] = found->second;
    paired[found->second] = true;
  }
}

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
  std::vector<std::string> names;
  std::vector<bool> directories;
  for (const Entry& e : level.entries) names.push_back(e.name), directories.push_back(e.directory || e.special != nullptr);
  std::vector<size_t> sidecarOf;
  std::vector<bool> paired;
  PairSidecars(names, directories, sidecarOf, paired);
  for (size_t k = 0; k < level.entries.size(); ++k) {
    if (sidecarOf[k] != SIZE_MAX) level.entries[k].sidecar = level.entries[sidecarOf[k]].name;
    level.entries[k].pairedSidecar = paired[k];
  }
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
      if (entry.pairedSidecar) continue;  // read with its photo
      if (entry.directory) {
        const std::string path = level.prefix + entry.name, relative = level.relative + entry.name + "/";
        Enter(path, relative);  // may grow levels_: `level` is not used after this
        continue;
      }
      file = WalkedFile{level.prefix + entry.name, level.relative + entry.name, true,
                        entry.special != nullptr ? WalkedFile::Kind::kSpecial : WalkedFile::Kind::kFile,
                        entry.special != nullptr ? entry.special : ""};
      if (!entry.sidecar.empty()) file.sidecar = level.prefix + entry.sidecar;
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
