// SPDX-License-Identifier: MIT
#include "io/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace exifinfo {

int OpenOutput(const char* path, int inputFd, int& error, bool& isInput) {
  isInput = false;
  const int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  struct stat out {}, in {};
  if (inputFd >= 0 && fstat(fd, &out) == 0 && fstat(inputFd, &in) == 0 && in.st_dev == out.st_dev &&
      in.st_ino == out.st_ino) {
    close(fd);
    isInput = true;
    error = EINVAL;
    return -1;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
    error = errno;
    close(fd);
    return -1;
  }
  return fd;
}

bool WriteAll(int fd, const char* bytes, size_t length) {
  for (size_t done = 0; done < length;) {
    const ssize_t n = write(fd, bytes + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

int WriteOutputAndClose(int fd, const char* bytes, size_t length) {
  struct stat st {};
  int error = 0;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0) {
    error = errno;
  } else if (!WriteAll(fd, bytes, length)) {
    error = errno;
  }
  // A close that fails reports a write that failed late (NFS, a full quota).
  if (close(fd) != 0 && error == 0) error = errno;
  return error;
}

}  // namespace exifinfo
