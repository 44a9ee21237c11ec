// SPDX-License-Identifier: MIT
#include "thumbnails.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace exifinfo_tool {
namespace {

// Owns a descriptor.
struct Fd {
  int fd;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

std::string Why(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool WriteAll(int fd, const unsigned char* bytes, size_t size) {
  while (size != 0) {
    const ssize_t n = write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string ThumbnailFolder::Write(const std::string& relative, const unsigned char* bytes, size_t size,
                                   std::string& name) const {
  std::vector<std::string> parts;
  for (size_t at = 0; at <= relative.size();) {
    const size_t slash = std::min(relative.find('/', at), relative.size());
    parts.push_back(relative.substr(at, slash - at));
    at = slash + 1;
  }
  for (const std::string& part : parts)
    if (part.empty() || part == "." || part == "..") return "not a name inside the thumbnail folder";
  name = folder_ + "/" + relative + ".thumb.jpg";

  // Down the sub-folders without following links, so that none leads outside the folder.
  auto dir = std::make_unique<Fd>(open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir->fd < 0) return Why(folder_.c_str());
  for (size_t k = 0; k + 1 < parts.size(); ++k) {
    if (mkdirat(dir->fd, parts[k].c_str(), 0777) != 0 && errno != EEXIST) return Why("cannot make a sub-folder");
    auto next = std::make_unique<Fd>(openat(dir->fd, parts[k].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (next->fd < 0) return Why("cannot open a sub-folder");
    dir = std::move(next);
  }
  const std::string file = parts.back() + ".thumb.jpg";
  if (!force_ && faccessat(dir->fd, file.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0) return "exists; not replaced (--force replaces it)";

  // Whole or nothing: a temporary file, then its final name.
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temporary = "." + file + "." + std::to_string(getpid()) + "." + std::to_string(attempt) + ".tmp";
    fd = openat(dir->fd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0 && errno != EEXIST) return Why("cannot create");
  }
  if (fd < 0) return Why("cannot create");
  const bool written = WriteAll(fd, bytes, size);
  const int writeError = errno;
  const bool closed = close(fd) == 0;
  if (!written || !closed) {
    errno = written ? errno : writeError;
    const std::string why = Why("cannot write");
    unlinkat(dir->fd, temporary.c_str(), 0);
    return why;
  }
  // Without --force, renameat2's RENAME_NOREPLACE refuses a file that appeared meanwhile.
  const int renamed = force_ ? renameat(dir->fd, temporary.c_str(), dir->fd, file.c_str())
                             : renameat2(dir->fd, temporary.c_str(), dir->fd, file.c_str(), RENAME_NOREPLACE);
  if (renamed != 0) {
    const std::string why = errno == EEXIST ? "exists; not replaced (--force replaces it)" : Why("cannot name");
    unlinkat(dir->fd, temporary.c_str(), 0);
    return why;
  }
  return "";
}

}  // namespace exifinfo_tool
