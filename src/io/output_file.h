// SPDX-License-Identifier: MIT
// The report's output file, as EXIFInfo writes it: opened (created, not emptied) before anything
// is read, never the input itself, emptied only once the report is ready, then written whole.
#pragma once

#include <cstddef>

namespace exifinfo {

// Opens `path` for writing without truncating it. When `inputFd` (>= 0) is the same file (same
// device and inode, whatever the spelling or link), nothing is touched: -1, `error` EINVAL and
// `isInput` set. Other failures: -1 with `error` the errno. Writes to a FIFO or a device wait for
// their reader as usual; opening one does not.
int OpenOutput(const char* path, int inputFd, int& error, bool& isInput);

// Empties the file when it is a regular one (a FIFO or device just takes the bytes), writes
// `length` bytes and closes `fd` whatever happens. 0, or the errno of the step that failed.
int WriteOutputAndClose(int fd, const char* bytes, size_t length);

// Writes every byte to `fd`, retrying after interruptions; false (errno set, EIO for a write that
// took nothing) unless all were written.
bool WriteAll(int fd, const char* bytes, size_t length);

}  // namespace exifinfo
