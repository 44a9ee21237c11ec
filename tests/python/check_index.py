# SPDX-License-Identifier: MIT
"""exifinfo --db: the table holds what --json prints, typed; a second run reads only what changed
(counted with strace) and drops what is gone; runs killed at random leave an intact database that
a re-run completes; bad database files end the run with exit 1 and stay as they were.
Usage: check_index.py TOOL CORPUS_DIR CONTAINERS_DIR"""
import hashlib
import json
import os
import random
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

TOOL, CORPUS, CONTAINERS = sys.argv[1:4]
failed = 0


def check(name, ok):
    global failed
    if not ok:
        failed += 1
        print("FAILED:", name)


def run(*args, **kw):
    return subprocess.run([TOOL, *args], capture_output=True, **kw)


def rows(db):
    with sqlite3.connect(db) as c:
        c.row_factory = sqlite3.Row
        return {(bytes(r["path"]) if isinstance(r["path"], bytes) else os.fsencode(r["path"])): dict(r)
                for r in c.execute("SELECT * FROM photos")}


work = tempfile.mkdtemp()
tree = os.path.join(work, "tree")
os.makedirs(os.path.join(tree, "sub"))
for name in sorted(os.listdir(CORPUS)):
    if name.endswith(".jpg"):
        shutil.copy(os.path.join(CORPUS, name), tree)
for name in sorted(os.listdir(CONTAINERS))[:12]:
    if name not in ("README.md", "SHA256SUMS"):
        shutil.copy(os.path.join(CONTAINERS, name), os.path.join(tree, "sub"))
shutil.copy(os.path.join(CORPUS, "exiftool-Apple.jpg"), os.path.join(os.fsencode(tree), b"caf\xe9.jpg"))
open(os.path.join(tree, "notes.txt"), "w").write("no photo")
db = os.path.join(work, "index.db")

# 1. Every value as --json gives it, typed; NULL where JSON has null; paths byte for byte.
first = run("-r", "-q", "--db", db, tree)
check("first run exits 0", first.returncode == 0)
table = rows(db)
printed = [json.loads(line) for line in run("-r", "-q", "--json", tree).stdout.decode().splitlines()]
check("a row for every photo, none for the text", len(table) == len(printed) and len(printed) > 50)
for obj in printed:
    row = table.get(os.fsencode(obj["path"]))
    if row is None:
        check(f"row of {obj['path']!r}", False)
        continue
    for key, value in obj.items():
        if key == "path":
            continue
        if isinstance(value, bool):
            value = int(value)
        if isinstance(value, list):  # kept as the line's own JSON array
            value = json.dumps(value, separators=(",", ":"), ensure_ascii=False)
        if row[key] != value or type(row[key]) is not type(value) and value is not None:
            check(f"{obj['path']} {key}: table {row[key]!r}, JSON {value!r}", False)
with sqlite3.connect(db) as c:
    types = {r[1]: r[2] for r in c.execute("PRAGMA table_info(photos)")}
    check("typed columns", types["ISO"] == "INTEGER" and types["ExposureTime"] == "REAL"
          and types["Make"] == "TEXT" and types["GPSLatitude"] == "REAL" and types["HasExif"] == "INTEGER")
    check("a path that is not UTF-8 is a BLOB", c.execute("SELECT count(*) FROM photos WHERE typeof(path) = 'blob'").fetchone()[0] == 1)
    check("schema version 4", c.execute("PRAGMA user_version").fetchone()[0] == 4)

# 2. Incremental: only the new and the changed files (and the text, which has no row) are opened.
new = os.path.join(tree, "sub", "new.jpg")
shutil.copy(os.path.join(CORPUS, "exiftool-Canon.jpg") if os.path.exists(os.path.join(CORPUS, "exiftool-Canon.jpg"))
            else os.path.join(CORPUS, "exiftool-Apple.jpg"), new)
changed = os.path.join(tree, "exiftool-Apple.jpg")
stat = os.stat(changed)
os.utime(changed, ns=(stat.st_atime_ns, stat.st_mtime_ns + 1000))
gone = sorted(p for p in os.listdir(tree) if p.endswith(".jpg") and p != "exiftool-Apple.jpg")[0]
os.remove(os.path.join(tree, gone))
trace = os.path.join(work, "trace")
second = subprocess.run(["strace", "-f", "-qq", "-e", "trace=openat", "-o", trace, TOOL, "-r", "-q", "--db", db, tree],
                        capture_output=True)
check("second run exits 0", second.returncode == 0)
opened = set()
for line in open(trace, errors="surrogateescape"):
    if tree in line and "O_DIRECTORY" not in line and "= -1" not in line:
        opened.add(line.split('"')[1])
check(f"only the new and the changed files opened: {sorted(opened)}", opened == {new, changed})
after = rows(db)
check("the new file has a row", os.fsencode(new) in after)
check("the deleted file has none", os.fsencode(os.path.join(tree, gone)) not in after)
check("the changed file's row has its new time",
      after[os.fsencode(changed)]["mtime_ns"] == stat.st_mtime_ns + 1000)
check("the rest is as it was", len(after) == len(table))
with sqlite3.connect(db) as c:
    last = c.execute("SELECT seen, read, unchanged, removed, failed FROM runs ORDER BY id DESC LIMIT 1").fetchone()
check(f"the run's counts {last}", last == (len(table) + 1, 2, len(table) - 1, 1, 0))  # the text is unchanged too
with sqlite3.connect(db) as c:
    check("a file that is no photo has no photo row",
          c.execute("SELECT count(*) FROM photos WHERE path LIKE '%notes.txt'").fetchone()[0] == 0)
# 3. A sidecar beside a photo: the row says so and holds its values; a change of the sidecar
# alone, its coming and its going each read the photo again.
side = changed + ".xmp"
for rating in (2, 4, None):
    if rating is None:
        os.remove(side)
    else:
        with open(side, "w") as f:
            f.write("<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                    f"<rdf:Description xmlns:xmp='http://ns.adobe.com/xap/1.0/' xmp:Rating='{rating}'/></rdf:RDF>"
                    "</x:xmpmeta>" + " " * rating)
    run("-r", "-q", "--db", db, tree)
    row = rows(db)[os.fsencode(changed)]
    check(f"sidecar rated {rating}: {row['sidecar']!r} {row['Rating']!r}",
          (row["sidecar"], row["Rating"]) == ((side, float(rating)) if rating else (None, None)))
    check("a paired sidecar has no row of its own", os.fsencode(side) not in rows(db))
shutil.rmtree(os.path.join(tree, "sub"))
run("-r", "-q", "--db", db, tree)
check("a folder that is gone takes its rows", not any(b"/sub/" in p for p in rows(db)))

# 3. Killed at random points: always an intact database, which a re-run completes.
big = os.path.join(work, "big")
os.makedirs(big)
sources = [os.path.join(CORPUS, n) for n in sorted(os.listdir(CORPUS)) if n.endswith(".jpg")]
for i in range(3000):
    os.link(sources[i % len(sources)], os.path.join(big, f"{i:05d}.jpg"))
crash_db = os.path.join(work, "crash.db")
rng = random.Random(7)
kills = intact = 0
# Readers query while a run writes (WAL): no "database is locked". The database is made first:
# the switch to WAL when it is new is the one moment a reader waits.
run("-r", "-q", "--db", crash_db, big)
writer = subprocess.Popen([TOOL, "-r", "-q", "--full", "--db", crash_db, big], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
counts = []
try:
    for _ in range(5):
        time.sleep(0.01)
        with sqlite3.connect(crash_db, timeout=0) as c:
            counts.append(c.execute("SELECT count(*) FROM photos").fetchone()[0])
except sqlite3.OperationalError as error:
    counts.append(str(error))
writer.wait()
check(f"a reader queries during a run: {counts}", all(n == 3000 for n in counts))
for suffix in ("", "-wal", "-shm"):
    if os.path.exists(crash_db + suffix):
        os.remove(crash_db + suffix)
for attempt in range(12):
    p = subprocess.Popen([TOOL, "-r", "--db", crash_db, "--full" if attempt % 3 == 0 and os.path.exists(crash_db) else "-q",
                          big], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(rng.uniform(0.005, 0.08))
    p.send_signal(signal.SIGKILL)
    p.wait()
    kills += 1
    if os.path.exists(crash_db):
        with sqlite3.connect(crash_db) as c:
            ok = c.execute("PRAGMA integrity_check").fetchone()[0] == "ok"
            has_table = c.execute("SELECT count(*) FROM sqlite_master WHERE name = 'photos'").fetchone()[0] == 1
            partial = c.execute("SELECT count(*) FROM photos WHERE ending IS NULL OR size IS NULL OR mtime_ns IS NULL"
                                ).fetchone()[0] if has_table else 0
        intact += ok and partial == 0
    else:
        intact += 1
check(f"{intact} of {kills} killed runs left an intact database", intact == kills)
done = run("-r", "-q", "--db", crash_db, big)
check("the re-run completes", done.returncode == 0 and len(rows(crash_db)) == 3000)
print(f"crash test: {kills} kills, {intact} intact")

# 4. Bad database files: exit 1, a clear message, the file as it was.
def refused(name, path, expect, setup=None):
    before = open(path, "rb").read() if os.path.exists(path) else None
    result = run("-r", "--db", path, tree)
    check(f"{name}: exit 1", result.returncode == 1)
    check(f"{name}: says {expect!r}", expect in result.stderr.decode())
    check(f"{name}: unchanged", before is None or open(path, "rb").read() == before)

notdb = os.path.join(work, "not.db")
open(notdb, "wb").write(b"this is no database" * 100)
refused("not SQLite", notdb, "not an SQLite database")
newer = os.path.join(work, "newer.db")
with sqlite3.connect(newer) as c:
    c.execute("PRAGMA user_version = 99")
refused("newer schema", newer, "schema version 99 is newer")

# An index of the previous version (schema 1, the report's keys) is rebuilt with the record's,
# said once; its run history stays, and a query by the new keys finds every photo.
old = os.path.join(work, "old.db")
with sqlite3.connect(old) as c:
    c.execute("CREATE TABLE photos (path TEXT PRIMARY KEY, size INTEGER, mtime_ns INTEGER, Version TEXT, "
              "CameraMake TEXT, ISOequivalent INTEGER, dir TEXT) WITHOUT ROWID")
    c.execute("CREATE TABLE runs (id INTEGER PRIMARY KEY, started TEXT, ended TEXT, seen INTEGER, read INTEGER, "
              "unchanged INTEGER, removed INTEGER, failed INTEGER)")
    c.execute("INSERT INTO runs (started) VALUES ('2026-01-01')")
    c.execute("INSERT INTO photos VALUES ('/gone.jpg', 1, 1, '0230', 'Old', 5000, '/')")
    c.execute("PRAGMA user_version = 1")
migrated = run("-r", "--db", old, tree)
check("schema 1: rebuilt, exit 0", migrated.returncode == 0 and b"rebuilt with the record's keys" in migrated.stderr)
with sqlite3.connect(old) as c:
    columns = [r[1] for r in c.execute("PRAGMA table_info(photos)")]
    check("schema 1: the record's columns, version 4", "ISO" in columns and "ISOequivalent" not in columns and
          c.execute("PRAGMA user_version").fetchone()[0] == 4)
    check("schema 1: every photo read again, the old rows gone",
          c.execute("SELECT count(*) FROM photos WHERE Make IS NOT NULL").fetchone()[0] > 0 and
          c.execute("SELECT count(*) FROM photos WHERE path = '/gone.jpg'").fetchone()[0] == 0)
    check("schema 1: the runs kept", c.execute("SELECT count(*) FROM runs").fetchone()[0] == 2)
again = run("-r", "--db", old, tree)
check("schema 4: no rebuild the next time", again.returncode == 0 and b"rebuilt" not in again.stderr)
# An index of schema 2 passed videos over as no photo and read no XMP or IPTC: they are read the
# next time, said once, and gain the columns a video fills and the photos' keywords.
with sqlite3.connect(old) as c:
    keyworded = c.execute("SELECT count(*) FROM photos WHERE Keywords IS NOT NULL").fetchone()[0]
    c.execute("INSERT INTO others VALUES ('/tree/clip.mov', 1, 1, '/tree')")
    c.execute("ALTER TABLE photos DROP COLUMN Duration")
    c.execute("ALTER TABLE photos DROP COLUMN Keywords")
    c.execute("PRAGMA user_version = 2")
upgraded = run("-r", "--db", old, tree)
check("schema 2: passed-over files read again, exit 0",
      upgraded.returncode == 0 and b"read again" in upgraded.stderr)
with sqlite3.connect(old) as c:
    check("schema 2: version 4, Duration added, no file passed over before is kept, keywords read",
          c.execute("PRAGMA user_version").fetchone()[0] == 4 and keyworded > 0 and
          c.execute("SELECT count(*) FROM photos WHERE Keywords IS NOT NULL").fetchone()[0] == keyworded and
          "Duration" in [r[1] for r in c.execute("PRAGMA table_info(photos)")] and
          c.execute("SELECT count(*) FROM others WHERE path = '/tree/clip.mov'").fetchone()[0] == 0)
holder = sqlite3.connect(crash_db, isolation_level=None)
holder.execute("BEGIN IMMEDIATE")
locked = run("-r", "--db", crash_db, big)
check("locked by another writer: exit 1", locked.returncode == 1 and b"locked by another writer" in locked.stderr)
holder.execute("ROLLBACK")
holder.close()
# A full disk: writes past 1 MiB fail; the rows committed before stay, intact.
full_db = os.path.join(work, "full.db")
full = subprocess.run(["bash", "-c", 'trap "" XFSZ; ulimit -f 1024; exec "$@"', "_", TOOL, "-r", "--db", full_db, big],
                      capture_output=True)
check("a full disk: exit 1 with a message", full.returncode == 1 and b"full.db" in full.stderr)
with sqlite3.connect(full_db) as c:
    check("a full disk: intact", c.execute("PRAGMA integrity_check").fetchone()[0] == "ok")
    check("a full disk: committed rows stay", c.execute("SELECT count(*) FROM photos").fetchone()[0] > 0)

# 5. Nothing dropped that could not be checked, nothing adopted that is not ours.
def digest(path):
    return hashlib.sha256(open(path, "rb").read()).hexdigest()


shy = os.path.join(work, "shy")
os.makedirs(os.path.join(shy, "locked", "deeper"))
for k, name in enumerate(sorted(n for n in os.listdir(CORPUS) if n.endswith(".jpg"))[:6]):
    shutil.copy(os.path.join(CORPUS, name), os.path.join(shy, ("locked", "locked/deeper", ".")[k % 3]))
shy_db = os.path.join(work, "shy.db")
for root, dirs, files in os.walk(work):  # permissions bind only a user who is not root
    for n in dirs + files:
        os.chown(os.path.join(root, n), 65534, 65534)
os.chown(work, 65534, 65534)
as_user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", TOOL]
first = subprocess.run(as_user + ["-r", "-q", "--db", shy_db, shy], capture_output=True)
before = rows(shy_db)
check("as a user: the first run indexes all six", first.returncode == 0 and len(before) == 6)
victim = next(p for p in before if b"/locked/" not in p)
os.chmod(os.path.join(shy, "locked"), 0)
os.chmod(victim, 0)
os.utime(victim, ns=(os.stat(victim).st_atime_ns, os.stat(victim).st_mtime_ns + 10**9))  # changed: read again
second = subprocess.run(as_user + ["-r", "-q", "--db", shy_db, shy], capture_output=True)
after = rows(shy_db)
check(f"an unreadable folder: exit 1 ({second.returncode})", second.returncode == 1)
check("an unreadable folder is named", b"locked: cannot read directory" in second.stderr)
check("an unreadable folder keeps its rows and those below it", set(after) == set(before))
check("a file that cannot be opened keeps its good row", after[victim]["Make"] == before[victim]["Make"] and
      after[victim]["Make"] not in (None, "") and after[victim]["mtime_ns"] == before[victim]["mtime_ns"])
check("... with the error beside it", "cannot open" in (after[victim]["error"] or ""))
with sqlite3.connect(shy_db) as c:
    check("the run counts the unreachable folder",
          c.execute("SELECT unreachable FROM runs ORDER BY id DESC LIMIT 1").fetchone()[0] == 1)
os.chmod(os.path.join(shy, "locked"), 0o755)
os.chmod(victim, 0o644)
shutil.rmtree(os.path.join(shy, "locked"))
run("-r", "-q", "--db", shy_db, shy)
check("a folder that is gone loses its rows", not any(b"/locked/" in p for p in rows(shy_db)))

foreign = os.path.join(work, "foreign.db")
with sqlite3.connect(foreign) as c:
    c.execute("CREATE TABLE notes (body TEXT)")
    c.execute("INSERT INTO notes VALUES ('mine')")
link = os.path.join(work, "planted.db")
os.symlink(foreign, link)
with sqlite3.connect(os.path.join(work, "other-app.db")) as c:
    c.execute("PRAGMA application_id = 1234")
    c.execute("CREATE TABLE photos (path TEXT PRIMARY KEY)")
for name, path, expect in (("another program's database", foreign, "not an index of exifinfo"),
                           ("a link to it", link, "not an index of exifinfo"),
                           ("another program's marked database", os.path.join(work, "other-app.db"), "application_id 1234")):
    sums = digest(path)
    result = run("-r", "--db", path, shy)
    check(f"{name}: exit 1, says {expect!r}", result.returncode == 1 and expect in result.stderr.decode())
    check(f"{name}: not one byte changed", digest(path) == sums and not os.path.exists(path + "-wal"))
dangling = os.path.join(work, "dangling.db")
os.symlink(os.path.join(work, "nowhere.db"), dangling)
result = run("-r", "--db", dangling, shy)
check("a link to nothing: refused, nothing made", result.returncode == 1 and b"a link to nothing" in result.stderr
      and not os.path.exists(os.path.join(work, "nowhere.db")))
result = run("-r", "--db", os.path.join(work, "no-such-folder", "x.db"), shy)
check("a missing folder says so", result.returncode == 1 and b"its folder" in result.stderr and
      b"No such file or directory" in result.stderr)
with sqlite3.connect(shy_db) as c:
    check("our database is marked", c.execute("PRAGMA application_id").fetchone()[0] == 0x45584946)

# Two writers on a new file: the first never fails; the second waits, then runs or says it is locked.
for attempt in range(3):
    pair_db = os.path.join(work, f"pair{attempt}.db")
    writers = [subprocess.Popen([TOOL, "-r", "-q", "--db", pair_db, big], stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE) for _ in range(2)]
    ends = [(w.wait(), w.stderr.read().decode()) for w in writers]
    fine = all(code == 0 or (code == 1 and "locked by another writer" in err) for code, err in ends)
    check(f"two writers end as stated: {ends}", fine and any(code == 0 for code, _ in ends))
    check("two writers leave every row", len(rows(pair_db)) == 3000)

shutil.rmtree(work)
print(f"{'FAILED' if failed else 'passed'}: {failed} failures")
sys.exit(1 if failed else 0)
