// SPDX-License-Identifier: MIT
// One file of a run: read through the C API, and turned into what the printer prints (the
// report, a JSON line or a CSV row) and what goes to standard error; thumbnails saved on the way.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "exifinfo.h"
#include "file_walk.h"
#include "pipeline.h"
#include "records.h"
#include "thumbnails.h"

namespace exifinfo_tool {

struct PhotoFree {
  void operator()(exifinfo_photo* p) const { exifinfo_free(p); }
};
using Photo = std::unique_ptr<exifinfo_photo, PhotoFree>;

enum class Format { kReport, kJson, kCsv, kIndex };  // kIndex: rows for --db

// What a run asks of each file.
struct ReadOptions {
  std::string thumbnailFolder;
  bool force = false;
  bool verbose = false;
  bool quiet = false;  // no line for a file passed over as no photo
  bool crlf = false;
  bool terminal = false;  // standard output is a terminal: the report's control characters print as '.'
  Format format = Format::kReport;
  std::vector<Column> columns;  // what JSON and CSV print
};


// What the printer needs of one file, in order: its text and its messages.
struct FileResult {
  std::string out;
  std::string err;
  bool trouble = false;
  bool skipped = false;
  // Format::kIndex: the row's values in the columns' order (the path's left out), or a file
  // that is no photo (its row goes). Values, not the photo: a result waits for the printer.
  std::string row;  // PackSqlValue'd
  std::string path;
  int64_t size = -1, mtimeNs = -1;
  bool notAPhoto = false;
  std::string failure;  // the read failed (open, first read or later): why; its last good row stays
  bool thumbnailKept = false;     // -t: the same thumbnail was there already
  bool thumbnailDiffers = false;  // -t: another file was there, and stays
};

// The report's bytes as the tool prints them: LF line ends unless `crlf`. For a terminal, every
// control character of the texts (C0 but the line ends, DEL, C1) prints as '.', so that a
// photo's Make cannot clear the screen or set the window's title.
void AppendReport(const exifinfo_photo& photo, bool crlf, bool terminal, std::string& out);

// Ends the run at once with "out of memory" on standard error, exit status 1; what was printed
// stays and nothing partial follows it.
[[noreturn]] void OutOfMemory();

// Reads one file (standard input for an operand "-") and builds what the printer prints.
// Const and reentrant: reader threads share one.
class FileReader {
 public:
  FileReader(const ReadOptions& options, const exifinfo_photo& defaults, bool headers)
      : options_(options), defaults_(defaults), headers_(headers),
        thumbnails_(options.thumbnailFolder, options.force) {}

  // `keep`: where the photo goes once read (null: freed here). A file whose first page is not
  // in the page cache is read between storage.Wait() and storage.Resume().
  FileResult Read(const WalkedFile& file, Storage& storage, Photo* keep = nullptr) const;

 private:
  // A node met in a walk that no photo can be (a FIFO...): never opened; -v names it.
  FileResult PassOver(const std::string& path, const char* what) const;
  void SaveThumbnail(const WalkedFile& file, const exifinfo_photo& photo, FileResult& result) const;
  void Format(const FileRecord& record, FileResult& result) const;

  const ReadOptions& options_;
  const exifinfo_photo& defaults_;
  bool headers_;
  ThumbnailFolder thumbnails_;
};

}  // namespace exifinfo_tool
