// SPDX-License-Identifier: MIT
// The files an exifinfo run reads, produced one at a time in the order they were given: each
// operand in turn, and under -r each directory depth first with names in byte order. Only the
// names of the directories on the current path are held, so memory stays bounded by the
// largest folder, whatever the size of the tree.
#pragma once

#include <string>
#include <vector>

namespace exifinfo_tool {

struct WalkedFile {
  std::string path;      // as given, or the operand's path joined with the names below it
  std::string relative;  // under -r, the path below the operand; else the file's own name
  bool walked = false;   // found inside a directory given with -r
};

class FileWalk {
 public:
  FileWalk(std::vector<std::string> operands, bool recursive)
      : operands_(std::move(operands)), recursive_(recursive) {}

  // The next file, false when there is none. A directory that cannot be read is reported on
  // standard error and passed over; failed() then says so. Symbolic links to directories are
  // never followed (a link met in a walk is read as a file: a link to a directory then reads
  // as one and is passed over by the caller).
  bool Next(WalkedFile& file);
  bool failed() const { return failed_; }

 private:
  struct Level {
    std::string prefix;  // the directory's path with a final '/'
    std::string relative;  // the same below the operand
    std::vector<std::string> names;  // sorted
    size_t next = 0;
  };
  bool Enter(const std::string& dir, const std::string& relative);

  std::vector<std::string> operands_;
  bool recursive_;
  size_t nextOperand_ = 0;
  std::vector<Level> levels_;
  bool failed_ = false;
};

}  // namespace exifinfo_tool
