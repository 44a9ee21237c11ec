// SPDX-License-Identifier: MIT
#include "thumbnails.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <exifinfo_support.h>

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

constexpr char kExists[] = "exists; not replaced (--force replaces it)";

std::string TemporaryName(const std::string& file, int attempt) {
  return "." + file + "." + std::to_string(getpid()) + "." + std::to_string(attempt) + ".tmp";
}

// The temporary files that have a name right now, for the signal handler: each writing thread
// claims a slot while its file exists. A name is stored before its directory descriptor is
// published, and the handler reads the descriptor first, so it never sees half a name.
constexpr int kSlots = 512;  // more than the most reader threads a run has
constexpr size_t kNameBytes = 320;
struct Slot {
  std::atomic<bool> claimed{false};
  std::atomic<int> dir{-1};
  char name[kNameBytes];
};
Slot gSlots[kSlots];

class Registration {
 public:
  // `dir` -1, or a name too long for a slot (no such file can be made anyway): nothing kept.
  Registration(int dir, const std::string& name) {
    if (dir < 0 || name.size() >= kNameBytes) return;
    for (int i = 0; i < kSlots && slot_ < 0; ++i) {
      bool expected = false;
      if (gSlots[i].claimed.compare_exchange_strong(expected, true)) slot_ = i;
    }
    if (slot_ < 0) return;
    std::memcpy(gSlots[slot_].name, name.c_str(), name.size() + 1);
    gSlots[slot_].dir.store(dir, std::memory_order_release);
  }
  ~Registration() {
    if (slot_ < 0) return;
    gSlots[slot_].dir.store(-1, std::memory_order_release);
    gSlots[slot_].claimed.store(false, std::memory_order_release);
  }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

 private:
  int slot_ = -1;
};

extern "C" void RemoveTemporariesAndEnd(int signal) {
  const int saved = errno;
  for (Slot& slot : gSlots) {
    const int dir = slot.dir.load(std::memory_order_acquire);
    if (dir >= 0) unlinkat(dir, slot.name, 0);
  }
  errno = saved;
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigaction(signal, &action, nullptr);
  raise(signal);  // ends the process as the signal would have
}

// True when DIR/FILE, a regular file (not followed if a link), holds exactly `bytes`.
bool SameBytes(int dir, const std::string& file, const unsigned char* bytes, size_t size) {
  Fd fd(openat(dir, file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  struct stat st {};
  if (fd.fd < 0 || fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) != size) return false;
  std::vector<unsigned char> there(size + 1);
  size_t got = 0;
  while (got < there.size()) {
    const ssize_t n = read(fd.fd, there.data() + got, there.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got == size && std::memcmp(there.data(), bytes, size) == 0;
}

bool WriteAll(int fd, const unsigned char* bytes, size_t size) {
  return exifinfo_support::WriteAll(fd, reinterpret_cast<const char*>(bytes), size);
}

}  // namespace

void RemoveTemporariesOnSignals() {
  struct sigaction action {};
  action.sa_handler = RemoveTemporariesAndEnd;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

ThumbnailFolder::ThumbnailFolder(std::string folder, bool force, bool unnamed)
    : folder_(std::move(folder)), force_(force), unnamed_(unnamed) {
  if (folder_.empty()) return;
  dir_ = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  openError_ = dir_ < 0 ? errno : 0;
}

ThumbnailFolder::~ThumbnailFolder() {
  if (dir_ >= 0) close(dir_);
}

std::string ThumbnailFolder::Write(const std::string& relative, const unsigned char* bytes, size_t size,
                                   std::string& name, ThumbnailOutcome* outcome) const {
  name = folder_ + "/" + relative + ".thumb.jpg";
  ThumbnailOutcome got = ThumbnailOutcome::kFailed;
  const std::string why = WriteIn(relative, bytes, size, got);
  if (outcome != nullptr) *outcome = got;
  return why;
}

std::string ThumbnailFolder::WriteIn(const std::string& relative, const unsigned char* bytes, size_t size,
                                     ThumbnailOutcome& outcome) const {
  std::vector<std::string> parts;
  for (size_t at = 0; at <= relative.size();) {
    const size_t slash = std::min(relative.find('/', at), relative.size());
    parts.push_back(relative.substr(at, slash - at));
    at = slash + 1;
  }
  for (const std::string& part : parts)
    if (part.empty() || part == "." || part == "..") return "not a name inside the thumbnail folder";
  if (dir_ < 0) {
    errno = openError_;
    return Why(folder_.c_str());
  }
  {
    const std::lock_guard<std::mutex> lock(claimedMutex_);
    if (!claimed_.insert(relative).second) return "another photo of this run has the same name; not written";
  }

  // Down the sub-folders without following links, so that none leads outside the folder.
  int dir = dir_;
  std::unique_ptr<Fd> below;
  for (size_t k = 0; k + 1 < parts.size(); ++k) {
    if (mkdirat(dir, parts[k].c_str(), 0777) != 0 && errno != EEXIST) return Why("cannot make a sub-folder");
    auto next = std::make_unique<Fd>(openat(dir, parts[k].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (next->fd < 0) return Why("cannot open a sub-folder");
    below = std::move(next);
    dir = below->fd;
  }
  const std::string file = parts.back() + ".thumb.jpg";
  if (!force_ && faccessat(dir, file.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0) {
    outcome = SameBytes(dir, file, bytes, size) ? ThumbnailOutcome::kKept : ThumbnailOutcome::kDiffers;
    return outcome == ThumbnailOutcome::kKept ? "" : kExists;
  }

  // Whole or nothing, and nothing left behind: an unnamed file takes its name once whole.
  std::string why;
  const int fd = unnamed_ ? openat(dir, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0666) : -1;
  if (fd >= 0) {
    why = WriteUnnamed(dir, fd, file, bytes, size);
  } else if (unnamed_ && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    why = Why("cannot create");
  } else {
    why = WriteNamed(dir, file, bytes, size);
  }
  outcome = why.empty() ? ThumbnailOutcome::kWritten : why == kExists ? ThumbnailOutcome::kDiffers : ThumbnailOutcome::kFailed;
  return why;
}

std::string ThumbnailFolder::WriteUnnamed(int dir, int fd, const std::string& file, const unsigned char* bytes,
                                          size_t size) const {
  Fd owned(fd);
  if (!WriteAll(fd, bytes, size)) return Why("cannot write");
  // Without --force, linkat refuses a name that exists; with it, the file is linked to a
  // temporary name, which renameat puts over the old file at once.
  const std::string target = force_ ? TemporaryName(file, 0) : file;
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  Registration registration(force_ ? dir : -1, target);
  if (linkat(AT_FDCWD, self, dir, target.c_str(), AT_SYMLINK_FOLLOW) != 0 &&
      linkat(fd, "", dir, target.c_str(), AT_EMPTY_PATH) != 0) {  // no /proc: privileged callers only
    if (errno == EEXIST && !force_) return kExists;
    return Why("cannot name");
  }
  if (force_ && renameat(dir, target.c_str(), dir, file.c_str()) != 0) {
    const std::string why = Why("cannot name");
    unlinkat(dir, target.c_str(), 0);
    return why;
  }
  return "";
}

std::string ThumbnailFolder::WriteNamed(int dir, const std::string& file, const unsigned char* bytes,
                                        size_t size) const {
  std::string temporary;
  int fd = -1;
  // The file is made and registered with the handler's signals held back: one that came in
  // between would end the process with the file made and not yet known to the handler.
  sigset_t ending, before;
  sigemptyset(&ending);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ending, signal);
  pthread_sigmask(SIG_BLOCK, &ending, &before);
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temporary = TemporaryName(file, attempt);
    fd = openat(dir, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  const int openError = errno;
  std::unique_ptr<Registration> registration;
  if (fd >= 0) registration = std::make_unique<Registration>(dir, temporary);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);  // a signal held back is handled here
  errno = openError;
  if (fd < 0) return Why("cannot create");
  const bool written = WriteAll(fd, bytes, size);
  const int writeError = errno;
  const bool closed = close(fd) == 0;
  if (!written || !closed) {
    errno = written ? errno : writeError;
    const std::string why = Why("cannot write");
    unlinkat(dir, temporary.c_str(), 0);
    return why;
  }
  // Without --force, renameat2's RENAME_NOREPLACE refuses a file that appeared meanwhile.
  const int renamed = force_ ? renameat(dir, temporary.c_str(), dir, file.c_str())
                             : renameat2(dir, temporary.c_str(), dir, file.c_str(), RENAME_NOREPLACE);
  if (renamed != 0) {
    const std::string why = errno == EEXIST ? kExists : Why("cannot name");
    unlinkat(dir, temporary.c_str(), 0);
    return why;
  }
  return "";
}

}  // namespace exifinfo_tool
