// SPDX-License-Identifier: MIT
// exifinfo --db: an SQLite index of a tree's photos that a later run brings up to date.
//
// Schema (version 1, PRAGMA user_version):
//   photos(path PRIMARY KEY, size, mtime_ns, then every key of the JSON object in its order and
//          under its name, typed TEXT, INTEGER or REAL and NULL where JSON has null, then dir)
//   runs(id, started, ended, seen, read, unchanged, removed, failed, unreachable)
//   others(path PRIMARY KEY, size, mtime_ns, dir): files seen that are no photo, so that a later
//          run need not open them again either
// A path (and dir, its folder) is TEXT when it is UTF-8, else a BLOB of its bytes. The file is
// marked as an index (PRAGMA application_id): another program's database is refused before a
// byte of it changes.
//
// Incremental: the rows of a folder are loaded when the walk first gives a file of it; a file
// whose size and modification time (nanoseconds) equal its row's is not opened. A folder is
// swept once the walk has left it (depth first, it never comes back): rows of files it no
// longer holds go. At the end, rows of folders below the run's directories that the walk never
// reached (gone, or left without files) go too. Rows are never dropped on what could not be
// checked: a folder that could not be read (permission, I/O error) keeps its rows and those
// below it, and a file that could not be read keeps its last good row, its error beside it.
//
// One writer at a time: a run holds an advisory lock on the file (flock) from its start to its
// end; another waits for it up to kLockWaitMs, then stops with "locked by another writer"
// before it changes anything, so the first never fails because of it. Readers take no part.
//
// Crash-safe: WAL journal, rows written in transactions of up to kBatchRows; a run killed at
// any point leaves the rows of its committed batches, and the next run redoes the rest.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "records.h"

namespace exifinfo_tool {

// "a/b/" as "a/b", as the index names folders ("/" stays).
std::string WithoutTrailingSlashes(std::string path);

class PhotoIndex {
 public:
  static constexpr int kSchemaVersion = 4;  // 2 since 1.5: the record's keys; 3 since 1.7: videos; 4 since 1.8: XMP, IPTC
  static constexpr int kBatchRows = 2000;
  static constexpr int32_t kApplicationId = 0x45584946;  // "EXIF"
  static constexpr int kLockWaitMs = 5000;

  PhotoIndex() = default;
  ~PhotoIndex();
  PhotoIndex(const PhotoIndex&) = delete;
  PhotoIndex& operator=(const PhotoIndex&) = delete;

  // Opens or creates FILE and starts a run over `roots` (the directories of the command line).
  // False, with `error` set, when FILE is no SQLite database, another program's, of a newer
  // schema, a link to nothing, in a folder that does not exist, locked by another writer, or
  // cannot be written; nothing is changed then.
  bool Open(const std::string& file, const std::vector<Column>& columns, const std::vector<std::string>& roots,
            std::string& error);

  // The walk's step: true when the file at `path` (of `size` bytes, modified at `mtimeNs`) is
  // unchanged since its row was written, so that it needs no read. `full`: never.
  bool Unchanged(const std::string& path, int64_t size, int64_t mtimeNs, bool full);
  // The printer's steps: a photo's row (or a failed read's), and a file that is no photo.
  // `row`: ColumnSqlValue of each column but the path, in the columns' order, packed.
  bool Put(const std::string& path, const std::string& row, int64_t size, int64_t mtimeNs);
  bool PassOver(const std::string& path, int64_t size, int64_t mtimeNs);
  // A file that could not be read: its last good row stays, with `error` set; a file without
  // one gets `row` (the error's row).
  bool PutFailed(const std::string& path, const std::string& error, const std::string& row, int64_t size, int64_t mtimeNs);
  // The walk's step for a folder it could not read, or read only in part: its rows, and those
  // of the folders below it, are kept. (A folder that is gone, ENOENT, is no such folder.)
  void Unreachable(const std::string& dir);
  // Sweeps what the walk left, commits, and records the run. False, with `error`, on failure.
  bool Finish(size_t read, size_t failed, std::string& error);

  const std::string& lastError() const { return error_; }
  // What Open changed that its user should hear of ("" when nothing): an older index rebuilt.
  const std::string& notice() const { return notice_; }

 private:
  struct Known {
    int64_t size;
    int64_t mtimeNs;
    bool failed;  // the row holds a read's error: read again, whatever the file's times
    bool other;   // a row of `others`: the file is no photo
    bool seen;
  };
  struct Folder {
    std::string dir;
    std::unordered_map<std::string, Known> rows;  // by path
    bool keep = false;  // listed in part only: what it did not list is not swept
  };
  bool Exec(const char* sql);
  bool TakeFile(const std::string& file);
  bool IsOurs(const std::string& file);
  bool Prepare(const char* sql, sqlite3_stmt** statement);
  bool CreateOrCheckSchema(const std::vector<Column>& columns);
  bool Begin();
  bool CommitIfFull();
  Folder& FolderOf(const std::string& dir);
  void Sweep(const Folder& folder);
  bool Fail(const char* what);

  sqlite3* db_ = nullptr;
  std::vector<Column> columns_;
  std::vector<std::string> roots_;
  sqlite3_stmt* put_ = nullptr;
  sqlite3_stmt* remove_ = nullptr;
  sqlite3_stmt* passOver_ = nullptr;
  sqlite3_stmt* keepFailed_ = nullptr;
  sqlite3_stmt* unOther_ = nullptr;
  sqlite3_stmt* sweepOther_ = nullptr;
  bool hasOthers_ = false;  // `others` has rows: a photo's row first clears its path there
  sqlite3_stmt* folderRows_ = nullptr;
  sqlite3_stmt* sweep_ = nullptr;  // the walk's own: a statement is used by one thread at a time
  std::mutex mutex_;               // the walk's steps and the printer's take turns
  std::vector<Folder> open_;              // the folders on the walk's current path
  std::vector<std::string> reached_;      // every folder the walk gave a file of
  std::vector<std::string> unreachable_;  // folders it could not read: their rows stay
  int lockFd_ = -1;                       // the file, flock'ed for the run
  bool inTransaction_ = false;
  int pending_ = 0;
  int64_t runId_ = 0;
  size_t seen_ = 0, unchanged_ = 0, removed_ = 0;
  std::string error_;
  std::string notice_;
};

}  // namespace exifinfo_tool
