// SPDX-License-Identifier: MIT
// The files an exifinfo run reads, produced one at a time in the order they were given: each
// operand in turn, and under -r each directory depth first with names in byte order. Only the
// names of the directories on the current path are held, so memory stays bounded by the
// largest folder, whatever the size of the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace exifinfo_tool {

struct WalkedFile {
  enum class Kind {
    kFile,                 // to be read (under -r: a regular file, or a link that is no device)
    kSpecial,              // under -r, a FIFO, socket or device node: passed over unopened
    kUnreadableDirectory,  // a directory that could not be listed (whole or in part)
  };
  std::string path;      // as given, or the operand's path joined with the names below it
  std::string relative;  // under -r, the path below the operand; else the file's own name
  bool walked = false;   // found inside a directory given with -r
  Kind kind = Kind::kFile;
  std::string note;      // kSpecial: what it is ("a FIFO"); kUnreadableDirectory: why
  int errorNumber = 0;   // kUnreadableDirectory: the errno of the open or read that failed
  int64_t size = -1;     // with --db: the file's size and modification time (ns) at the walk
  int64_t mtimeNs = -1;  // (with a sidecar, both files': their sizes summed, the later time)
  std::string sidecar{};  // under -r, the XMP sidecar beside it (NAME.EXT.xmp, else NAME.xmp), or ""
};

// Which names of one folder are sidecars of which: for each name, the index of its sidecar
// (NAME.EXT.xmp, else NAME.xmp, the case of either ignored, as photo managers write them), or
// SIZE_MAX; `paired` marks each sidecar some other name took, which is then no record of its own.
// `directory` marks names that are folders: neither photos nor sidecars.
void PairSidecars(const std::vector<std::string>& names, const std::vector<bool>& directory, std::vector<size_t>& sidecarOf,
                  std::vector<bool>& paired);

// True when `path` names a directory, through links (an operand that names one through a link is
// walked, as ls -R does).
bool IsDirectory(const std::string& path);

class FileWalk {
 public:
  FileWalk(std::vector<std::string> operands, bool recursive)
      : operands_(std::move(operands)), recursive_(recursive) {}

  // The next file, false when there is none. A directory that cannot be read comes as a file
  // of kind kUnreadableDirectory, in its place; FIFOs, sockets and device nodes met in a walk,
  // directly or through a link, as kSpecial. Symbolic links to directories are never followed
  // (a link met in a walk is read as a file: a link to a directory then reads as one and is
  // passed over by the caller).
  bool Next(WalkedFile& file);

 private:
  struct Entry {
    std::string name;
    bool directory = false;
    const char* special = nullptr;  // "a FIFO", "a socket", "a device": passed over
    std::string sidecar{};          // the name of its sidecar in the folder, or ""
    bool pairedSidecar = false;     // a sidecar that goes with a photo: read with it, not alone
  };
  struct Level {
    std::string prefix;  // the directory's path with a final '/'
    std::string relative;  // the same below the operand
    std::vector<Entry> entries;  // sorted by name
    size_t next = 0;
  };
  void Enter(const std::string& dir, const std::string& relative);

  std::vector<std::string> operands_;
  bool recursive_;
  size_t nextOperand_ = 0;
  std::vector<Level> levels_;
  std::vector<WalkedFile> unreadable_;  // directories that could not be listed, due next
};

}  // namespace exifinfo_tool
