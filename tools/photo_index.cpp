// SPDX-License-Identifier: MIT
#include "photo_index.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <exifinfo_support.h>

namespace exifinfo_tool {
namespace {

// A path as the table keeps it: TEXT when it is UTF-8, else a BLOB of its bytes.
void BindPath(sqlite3_stmt* statement, int index, const std::string& path) {
  if (exifinfo_support::IsWellFormedUtf8(path.data(), path.size())) {
    sqlite3_bind_text(statement, index, path.data(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
  } else {
    sqlite3_bind_blob(statement, index, path.data(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
  }
}

std::string ColumnBytes(sqlite3_stmt* statement, int index) {
  const void* bytes = sqlite3_column_blob(statement, index);
  return std::string(static_cast<const char*>(bytes), static_cast<size_t>(sqlite3_column_bytes(statement, index)));
}

std::string DirOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsWithin(const std::string& dir, const std::string& ancestor) {
  if (dir == ancestor) return true;
  const std::string prefix = ancestor == "/" ? ancestor : ancestor + "/";
  return dir.compare(0, prefix.size(), prefix) == 0;
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

std::string NewerSchema(int64_t version) {
  return "its schema version " + std::to_string(version) + " is newer than this exifinfo's (" +
         std::to_string(PhotoIndex::kSchemaVersion) + "); not changed";
}

}  // namespace

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

PhotoIndex::~PhotoIndex() {
  for (sqlite3_stmt* statement : {put_, remove_, folderRows_, sweep_, passOver_, unOther_, sweepOther_, keepFailed_})
    sqlite3_finalize(statement);
  if (db_ != nullptr) {
    if (inTransaction_) Exec("COMMIT");  // a run that stopped early keeps what it wrote
    sqlite3_close(db_);
  }
  if (lockFd_ >= 0) close(lockFd_);  // and with it the lock
}

// Makes FILE exist (a new one empty) and takes the writers' lock on it, waiting up to
// kLockWaitMs. Nothing is created through a link to nothing, nor in a folder that is missing.
bool PhotoIndex::TakeFile(const std::string& file) {
  struct stat st {};
  if (lstat(file.c_str(), &st) != 0) {
    if (errno != ENOENT) return error_ = std::strerror(errno), false;
    const std::string dir = DirOf(file).empty() ? "." : DirOf(file);
    struct stat folder {};
    if (stat(dir.c_str(), &folder) != 0) return error_ = "its folder " + dir + ": " + std::strerror(errno), false;
    lockFd_ = open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (lockFd_ < 0 && errno != EEXIST) return error_ = std::string("cannot create: ") + std::strerror(errno), false;
  } else if (S_ISLNK(st.st_mode) && stat(file.c_str(), &st) != 0) {
    return error_ = "a link to nothing; not followed", false;
  }
  if (lockFd_ < 0) lockFd_ = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (lockFd_ < 0) return error_ = std::string("cannot open: ") + std::strerror(errno), false;
  for (int waited = 0; flock(lockFd_, LOCK_EX | LOCK_NB) != 0; waited += 50) {
    if (errno != EWOULDBLOCK || waited >= kLockWaitMs) {
      error_ = errno == EWOULDBLOCK ? "locked by another writer" : std::string("cannot lock: ") + std::strerror(errno);
      return false;
    }
    usleep(50000);
  }
  return true;
}

// True when FILE is empty, or an index of ours (marked, or of schema 1 made before the mark),
// or an empty database; read without changing it (no WAL switch, no lock file kept).
bool PhotoIndex::IsOurs(const std::string& file) {
  struct stat st {};
  if (fstat(lockFd_, &st) == 0 && st.st_size == 0) return true;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    error_ = std::string("cannot open: ") + (db != nullptr ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return false;
  }
  const auto number = [&](const char* sql, int64_t& value) {
    sqlite3_stmt* statement = nullptr;
    const bool ok = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW;
    if (ok) value = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    return ok;
  };
  int64_t application = 0, version = 0, tables = 0, ourTables = 0;
  const bool read = number("PRAGMA application_id", application) && number("PRAGMA user_version", version) &&
                    number("SELECT count(*) FROM sqlite_master WHERE type = 'table'", tables) &&
                    number("SELECT (SELECT count(*) FROM pragma_table_info('photos') WHERE name = 'path') + "
                           "(SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'runs')", ourTables);
  const bool notADatabase = sqlite3_errcode(db) == SQLITE_NOTADB;
  const std::string why = sqlite3_errmsg(db);
  sqlite3_close(db);
  if (!read) return error_ = notADatabase ? "not an SQLite database; not changed" : "cannot read: " + why, false;
  if (application != 0 && application != kApplicationId) {
    error_ = "another program's SQLite database (application_id " + std::to_string(application) + "); not changed";
    return false;
  }
  if (version > kSchemaVersion) {
    error_ = NewerSchema(version);
    return false;
  }
  if (application == kApplicationId || (version == 0 && tables == 0) || (version >= 1 && ourTables == 2)) return true;
  error_ = "not an index of exifinfo (another program's SQLite database?); not changed";
  return false;
}

bool PhotoIndex::Fail(const char* what) {
  error_ = std::string(what) + ": " + (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory");
  return false;
}

bool PhotoIndex::Exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  error_ = message != nullptr ? message : sqlite3_errmsg(db_);
  sqlite3_free(message);
  return false;
}

bool PhotoIndex::Prepare(const char* sql, sqlite3_stmt** statement) {
  return sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, statement, nullptr) == SQLITE_OK ||
         Fail("cannot prepare a statement");
}

bool PhotoIndex::Open(const std::string& file, const std::vector<Column>& columns, const std::vector<std::string>& roots,
                      std::string& error) {
  for (const Column& c : columns)
    if (!c.IsPath()) columns_.push_back(c);
  for (const std::string& root : roots) roots_.push_back(WithoutTrailingSlashes(root));
  if (!TakeFile(file) || !IsOurs(file)) {
    error = error_;
    return false;
  }
  // Serialized: the walk's thread and the printer's share the connection.
  const int opened = sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  bool ok = opened == SQLITE_OK || Fail("cannot open");
  if (ok) sqlite3_busy_timeout(db_, kLockWaitMs);
  ok = ok && CreateOrCheckSchema(columns_);
  std::string names = "path, size, mtime_ns", marks = "?, ?, ?";
  for (const Column& c : columns_) names += ", " + Quoted(c.name), marks += ", ?";
  const std::string put = "INSERT OR REPLACE INTO photos (" + names + ", dir) VALUES (" + marks + ", ?)";
  ok = ok && Prepare(put.c_str(), &put_) && Prepare("DELETE FROM photos WHERE path = ?", &remove_) &&
       Prepare("DELETE FROM photos WHERE path = ?", &sweep_) &&
       Prepare("INSERT OR REPLACE INTO others (path, size, mtime_ns, dir) VALUES (?, ?, ?, ?)", &passOver_) &&
       Prepare("DELETE FROM others WHERE path = ?", &unOther_) && Prepare("DELETE FROM others WHERE path = ?", &sweepOther_) &&
       Prepare("UPDATE photos SET error = ?2 WHERE path = ?1 AND error IS NULL", &keepFailed_) &&
       Prepare("SELECT path, size, mtime_ns, error IS NOT NULL, 0 FROM photos WHERE dir = ?1 "
               "UNION ALL SELECT path, size, mtime_ns, 0, 1 FROM others WHERE dir = ?1", &folderRows_);
  if (ok) {
    sqlite3_stmt* any = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT EXISTS (SELECT 1 FROM others)", -1, &any, nullptr) == SQLITE_OK &&
        sqlite3_step(any) == SQLITE_ROW)
      hasOthers_ = sqlite3_column_int(any, 0) != 0;
    sqlite3_finalize(any);
  }
  ok = ok && Exec("INSERT INTO runs (started) VALUES (strftime('%Y-%m-%dT%H:%M:%fZ', 'now'))");
  runId_ = ok ? sqlite3_last_insert_rowid(db_) : 0;
  if (!ok) {
    error = error_;
    if (inTransaction_) Exec("ROLLBACK"), inTransaction_ = false;
  }
  return ok;
}

// Version 0 (a new or empty file) gets the tables; version 1 is rebuilt; version 2 has the files
// it passed over read again; each gets any column a newer tool prints that it lacks; a later
// version is refused, unchanged. The check and the creation
// happen in one write transaction: two runs on a new file cannot both create it.
bool PhotoIndex::CreateOrCheckSchema(const std::vector<Column>& columns) {
  // WAL: readers query while a run writes, and a killed run leaves the last commit whole.
  if (!Exec("PRAGMA journal_mode = WAL") || !Exec("PRAGMA synchronous = NORMAL")) return Fail("cannot write");
  Exec("PRAGMA cache_size = -1024");  // 1 MiB of pages: the run's memory stays flat
  Exec("PRAGMA temp_store = FILE");
  if (!Begin()) return false;
  sqlite3_stmt* version = nullptr;
  if (sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &version, nullptr) != SQLITE_OK) return Fail("cannot read");
  const int schema = sqlite3_step(version) == SQLITE_ROW ? sqlite3_column_int(version, 0) : -1;
  sqlite3_finalize(version);
  if (schema < 0) return Fail("cannot read");
  if (schema > kSchemaVersion) {
    error_ = NewerSchema(schema);
    return false;
  }
  if (!Exec(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str())) return false;
  // Version 1 held the report's columns under the report's keys: its rows cannot be renamed into
  // the record (the values differ, not only the names), so its photos are read again. The runs
  // stay; the whole change is one transaction with this run's first batch.
  const bool rebuild = schema == 1;
  if (rebuild) {
    if (!Exec("DROP INDEX IF EXISTS photos_by_dir") || !Exec("DROP TABLE photos") ||
        !Exec("DROP INDEX IF EXISTS others_by_dir") || !Exec("DROP TABLE IF EXISTS others"))
      return false;
    notice_ = "an index of schema 1 (the report's keys): rebuilt with the record's keys (schema " +
              std::to_string(kSchemaVersion) + "); every photo is read again";
  }
  if (schema == 0 || rebuild) {
    std::string create = "CREATE TABLE photos (path TEXT PRIMARY KEY, size INTEGER, mtime_ns INTEGER";
    for (const Column& c : columns) create += ", " + Quoted(c.name) + " " + ColumnSqlType(c);
    create += ", dir TEXT) WITHOUT ROWID";  // one B-tree, keyed by path
    if (!Exec(create.c_str()) || !Exec("CREATE INDEX photos_by_dir ON photos (dir)") ||
        !Exec("CREATE TABLE IF NOT EXISTS runs (id INTEGER PRIMARY KEY, started TEXT, ended TEXT, seen INTEGER, "
              "read INTEGER, "
              "unchanged INTEGER, removed INTEGER, failed INTEGER, unreachable INTEGER)") ||
        !Exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str()))
      return false;
  }
  if (!Exec("CREATE TABLE IF NOT EXISTS others (path TEXT PRIMARY KEY, size INTEGER, mtime_ns INTEGER, dir TEXT) "
            "WITHOUT ROWID") ||
      !Exec("CREATE INDEX IF NOT EXISTS others_by_dir ON others (dir)"))
    return false;
  if (schema == 0) return true;
  // Version 2 passed videos over as files of no known container: they are read on this run.
  // Versions 2 and 3 read no XMP or IPTC: their photos are read again for those columns (a row
  // without its time of change is no longer current).
  if (schema == 2 || schema == 3) {
    if ((schema == 2 && !Exec("DELETE FROM others")) || !Exec("UPDATE photos SET mtime_ns = NULL") ||
        !Exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str()))
      return false;
    notice_ = "an index of schema " + std::to_string(schema) + ": every photo is read again for its XMP and IPTC" +
              (schema == 2 ? ", and the files passed over as no photo (videos among them)" : "") + " (schema " +
              std::to_string(kSchemaVersion) + ")";
  }
  // Columns a newer tool adds to the record are added at the end.
  std::vector<std::string> present;
  sqlite3_stmt* info = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT name FROM pragma_table_info('photos')", -1, &info, nullptr) != SQLITE_OK)
    return Fail("cannot read the schema");
  while (sqlite3_step(info) == SQLITE_ROW) present.push_back(ColumnBytes(info, 0));
  sqlite3_finalize(info);
  if (std::find(present.begin(), present.end(), "path") == present.end()) {
    error_ = "has no photos table of this schema; not changed";
    return false;
  }
  for (const Column& c : columns) {
    if (rebuild || std::find(present.begin(), present.end(), c.name) != present.end()) continue;
    const std::string add = "ALTER TABLE photos ADD COLUMN " + Quoted(c.name) + " " + ColumnSqlType(c);
    if (!Exec(add.c_str())) return false;
  }
  sqlite3_stmt* runs = nullptr;
  int64_t hasUnreachable = 0;
  if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM pragma_table_info('runs') WHERE name = 'unreachable'", -1, &runs,
                         nullptr) == SQLITE_OK &&
      sqlite3_step(runs) == SQLITE_ROW)
    hasUnreachable = sqlite3_column_int64(runs, 0);
  sqlite3_finalize(runs);
  return hasUnreachable != 0 || Exec("ALTER TABLE runs ADD COLUMN unreachable INTEGER");
}

bool PhotoIndex::Begin() {
  if (inTransaction_) return true;
  // IMMEDIATE: the write lock now, so that another writer is met here, not half-way.
  if (!Exec("BEGIN IMMEDIATE")) {
    if (sqlite3_errcode(db_) == SQLITE_BUSY) error_ = "locked by another writer";
    return false;
  }
  inTransaction_ = true;
  pending_ = 0;
  return true;
}

bool PhotoIndex::CommitIfFull() {
  if (++pending_ < kBatchRows) return true;
  if (!Exec("COMMIT")) return false;
  inTransaction_ = false;
  return Begin();
}

PhotoIndex::Folder& PhotoIndex::FolderOf(const std::string& dir) {
  while (!open_.empty() && !IsWithin(dir, open_.back().dir)) {
    Sweep(open_.back());
    open_.pop_back();
  }
  if (!open_.empty() && open_.back().dir == dir) return open_.back();
  open_.push_back(Folder{dir, {}, false});
  reached_.push_back(dir);
  Folder& folder = open_.back();
  folder.keep = std::find(unreachable_.begin(), unreachable_.end(), dir) != unreachable_.end();
  BindPath(folderRows_, 1, dir);
  while (sqlite3_step(folderRows_) == SQLITE_ROW)
    folder.rows.emplace(ColumnBytes(folderRows_, 0),
                        Known{sqlite3_column_int64(folderRows_, 1), sqlite3_column_int64(folderRows_, 2),
                              sqlite3_column_int(folderRows_, 3) != 0, sqlite3_column_int(folderRows_, 4) != 0, false});
  sqlite3_reset(folderRows_);
  return folder;
}

// The rows of a folder the walk has left whose files it no longer gave.
void PhotoIndex::Sweep(const Folder& folder) {
  if (folder.keep) return;
  for (const auto& [path, known] : folder.rows) {
    if (known.seen) continue;
    sqlite3_stmt* sweep = known.other ? sweepOther_ : sweep_;
    BindPath(sweep, 1, path);
    if (sqlite3_step(sweep) == SQLITE_DONE && !known.other) ++removed_;
    sqlite3_reset(sweep);
  }
}

bool PhotoIndex::Unchanged(const std::string& path, int64_t size, int64_t mtimeNs, bool full) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++seen_;
  Folder& folder = FolderOf(DirOf(path));
  const auto found = folder.rows.find(path);
  if (found == folder.rows.end()) return false;
  found->second.seen = true;
  if (full || found->second.failed || found->second.size != size || found->second.mtimeNs != mtimeNs) return false;
  ++unchanged_;
  return true;
}

bool PhotoIndex::Put(const std::string& path, const std::string& row, int64_t size, int64_t mtimeNs) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!Begin()) return false;
  int index = 1;
  BindPath(put_, index++, path);
  sqlite3_bind_int64(put_, index++, size);
  sqlite3_bind_int64(put_, index++, mtimeNs);
  size_t at = 0;
  SqlValue value;
  const char* text = nullptr;
  size_t textLength = 0;
  while (index <= static_cast<int>(columns_.size()) + 3 && UnpackSqlValue(row, at, value, text, textLength)) {
    switch (value.kind) {
      case SqlValue::kInteger: sqlite3_bind_int64(put_, index, value.integer); break;
      case SqlValue::kReal: sqlite3_bind_double(put_, index, value.real); break;
      case SqlValue::kText:  // `row` outlives the step: no copy
        sqlite3_bind_text(put_, index, text, static_cast<int>(textLength), SQLITE_STATIC);
        break;
      default: sqlite3_bind_null(put_, index); break;
    }
    ++index;
  }
  BindPath(put_, index, DirOf(path));
  bool done = sqlite3_step(put_) == SQLITE_DONE;
  if (done && hasOthers_) {  // a file that was no photo and now is one
    BindPath(unOther_, 1, path);
    done = sqlite3_step(unOther_) == SQLITE_DONE;
    sqlite3_reset(unOther_);
  }
  sqlite3_reset(put_);  // every parameter is bound again by the next row
  return (done || Fail("cannot write")) && CommitIfFull();
}

void PhotoIndex::Unreachable(const std::string& dir) {
  std::lock_guard<std::mutex> lock(mutex_);
  unreachable_.push_back(dir);
  for (Folder& folder : open_)
    if (folder.dir == dir) folder.keep = true;
}

bool PhotoIndex::PutFailed(const std::string& path, const std::string& error, const std::string& row, int64_t size,
                           int64_t mtimeNs) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Begin()) return false;
    BindPath(keepFailed_, 1, path);
    sqlite3_bind_text(keepFailed_, 2, error.data(), static_cast<int>(error.size()), SQLITE_TRANSIENT);
    const bool done = sqlite3_step(keepFailed_) == SQLITE_DONE;
    const bool kept = done && sqlite3_changes(db_) > 0;
    sqlite3_reset(keepFailed_);
    if (!done) return Fail("cannot write");
    if (kept) return CommitIfFull();
  }
  return Put(path, row, size, mtimeNs);
}

bool PhotoIndex::PassOver(const std::string& path, int64_t size, int64_t mtimeNs) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!Begin()) return false;
  BindPath(remove_, 1, path);  // a photo that is one no longer
  bool done = sqlite3_step(remove_) == SQLITE_DONE;
  if (done && sqlite3_changes(db_) > 0) ++removed_;
  sqlite3_reset(remove_);
  if (done && size >= 0) {
    BindPath(passOver_, 1, path);
    sqlite3_bind_int64(passOver_, 2, size);
    sqlite3_bind_int64(passOver_, 3, mtimeNs);
    BindPath(passOver_, 4, DirOf(path));
    done = sqlite3_step(passOver_) == SQLITE_DONE;
    sqlite3_reset(passOver_);
    hasOthers_ = true;
  }
  return (done || Fail("cannot write")) && CommitIfFull();
}

bool PhotoIndex::Finish(size_t read, size_t failed, std::string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  bool ok = Begin();
  for (; ok && !open_.empty(); open_.pop_back()) Sweep(open_.back());
  // Folders below the run's directories that the walk never reached: gone, or without files.
  std::vector<std::string> stale;
  sqlite3_stmt* dirs = nullptr;
  ok = ok && (sqlite3_prepare_v2(db_, "SELECT dir FROM photos UNION SELECT dir FROM others", -1, &dirs, nullptr) ==
                  SQLITE_OK ||
              Fail("cannot read"));
  std::sort(reached_.begin(), reached_.end());
  while (ok && sqlite3_step(dirs) == SQLITE_ROW) {
    const std::string dir = ColumnBytes(dirs, 0);
    const bool below = std::any_of(roots_.begin(), roots_.end(), [&](const std::string& r) { return IsWithin(dir, r); });
    if (below && !std::binary_search(reached_.begin(), reached_.end(), dir)) stale.push_back(dir);
  }
  sqlite3_finalize(dirs);
  // What lies in or below a folder that could not be read was not checked: it stays.
  stale.erase(std::remove_if(stale.begin(), stale.end(),
                             [&](const std::string& dir) {
                               return std::any_of(unreachable_.begin(), unreachable_.end(),
                                                  [&](const std::string& u) { return IsWithin(dir, u); });
                             }),
              stale.end());
  for (const char* sql : {"DELETE FROM photos WHERE dir = ?", "DELETE FROM others WHERE dir = ?"}) {
    sqlite3_stmt* drop = nullptr;
    ok = ok && (sqlite3_prepare_v2(db_, sql, -1, &drop, nullptr) == SQLITE_OK || Fail("cannot write"));
    const bool photos = std::strstr(sql, "photos") != nullptr;
    for (const std::string& dir : stale) {
      if (!ok) break;
      BindPath(drop, 1, dir);
      ok = sqlite3_step(drop) == SQLITE_DONE || Fail("cannot write");
      if (photos) removed_ += static_cast<size_t>(sqlite3_changes(db_));
      sqlite3_reset(drop);
    }
    sqlite3_finalize(drop);
  }
  const std::string ended = "UPDATE runs SET ended = strftime('%Y-%m-%dT%H:%M:%fZ', 'now'), seen = " +
                            std::to_string(seen_) + ", read = " + std::to_string(read) + ", unchanged = " +
                            std::to_string(unchanged_) + ", removed = " + std::to_string(removed_) +
                            ", failed = " + std::to_string(failed) + ", unreachable = " +
                            std::to_string(unreachable_.size()) + " WHERE id = " + std::to_string(runId_);
  ok = ok && Exec(ended.c_str()) && Exec("COMMIT");
  if (ok) inTransaction_ = false;
  if (!ok) error = error_;
  return ok;
}

}  // namespace exifinfo_tool
