# SPDX-License-Identifier: MIT
"""Indexes an archive of photos with Dask: one JSON line per photo, the very bytes `exifinfo -r
--json` prints (the library makes both), for archives too large for one machine to list or hold.

    dask_index.py SOURCE --out DIR [--scheduler ADDRESS] [--workers N]

SOURCE is a folder or a URL prefix (anything fsspec opens: https://host/photos/ served with an
HTML index, s3://bucket/prefix/ with s3fs installed...). The client lists SOURCE's first level
only; each folder below it (or a run of consecutive folders, where there are many), and each
run of up to 1,000 files between folders, is a shard that a worker lists, reads and writes as
DIR/part-NNNNN.jsonl, so the client holds neither the list nor the results. Photos are read by
ranges: only the bytes their metadata needs, not the files, 128 at once on each worker (a store
that answers ranged GETs with whole files is read whole, and the run says so).
Concatenated in part order, the parts are exifinfo -r --json's output byte for byte (depth
first, names in byte order). Without --scheduler it starts a LocalCluster; with one
(tcp://host:8786) it runs on that cluster unchanged, and DIR may be a URL too.
"""
import argparse
import itertools
import os
import sys
import threading
import time
import urllib.parse
import urllib.request

import fsspec
from distributed import Client, LocalCluster, progress, secede

import tolvane_exif_info as tei


def _is_local(source):
    return "://" not in source or source.startswith("file://")


def _entries(fs, folder, local):
    """(name, is_folder) below `folder`, names in byte order; links to folders are not folders
    (exifinfo does not follow them)."""
    if local:  # the kind from the directory entry itself: no stat a file
        with os.scandir(os.fsencode(folder)) as listing:
            entries = sorted((entry.name, entry.is_dir(follow_symlinks=False)) for entry in listing)
        return [(os.fsdecode(name), is_folder) for name, is_folder in entries]
    listed = []
    for entry in _listing(fs, folder):
        name = entry["name"].rstrip("/").rsplit("/", 1)[-1]
        listed.append((name, entry["type"] == "directory"))
    return sorted(set(listed), key=lambda e: os.fsencode(e[0]))


def _listing(fs, folder, attempts=3):
    """fs.ls(folder), tried again after a pause when the store drops the connection (a reset
    under load passes; a missing folder does not)."""
    for attempt in range(attempts):
        try:
            return fs.ls(folder, detail=True)
        except (FileNotFoundError, PermissionError):
            raise
        except Exception as error:  # the OS's ConnectionError, aiohttp's ClientConnectionError
            if attempt + 1 == attempts or not any("Connection" in kind.__name__ for kind in type(error).__mro__):
                raise
            time.sleep(0.05 * 4 ** attempt)


def _join(folder, name):
    return (folder if folder.endswith("/") else folder + "/") + name


def _walk(fs, folder, local):
    """Every file below `folder` as exifinfo -r lists them, each with its XMP sidecar's path or
    None: a sidecar that goes with a photo is read with it, not as a file of its own (the
    pairing is a local tree's; a remote tree's sidecars are files of their own)."""
    entries = _entries(fs, folder, local)
    paired = tei.sidecar_paths([name for name, is_folder in entries if not is_folder]) if local else {}
    taken = set(paired.values())
    for name, is_folder in entries:
        path = _join(folder, name)
        if is_folder:
            yield from _walk(fs, path, local)
        elif name not in taken:
            yield path, _join(folder, paired[name]) if name in paired else None


def _honours_ranges(url):
    """False for an HTTP server that answers a ranged GET with the whole file: such a store is
    read a whole file a photo (one request each), which the run reports. Asked once a worker
    process for each server."""
    if not url.startswith(("http://", "https://")):
        return True
    server = urllib.parse.urlsplit(url).netloc
    if server not in _SERVERS_RANGES:
        request = urllib.request.Request(url, headers={"Range": "bytes=0-0"})
        try:
            with urllib.request.urlopen(request, timeout=60) as answer:
                _SERVERS_RANGES[server] = answer.status == 206
        except OSError:  # the read itself reports what is wrong with this file
            return True
    return _SERVERS_RANGES[server]


_SERVERS_RANGES = {}  # a worker process's answers of _honours_ranges, by server


# A worker fetches this many remote photos a batch, _REMOTE_THREADS at once on fsspec's event
# loop, their waits on the store overlapping; local ones on its one thread (a worker is one process a core), as one batch of the
# library's, which writes the part as it reads.
_BATCH = 1024
_REMOTE_THREADS = 64


def _lines(fs, walked, local):
    """The JSON lines of a batch of paths, made by the library: the very bytes exifinfo -r --json
    prints (a file that is no photo, or a folder, gives none), the path as listed. Remote photos
    are fetched by the ranges the library asks for, _REMOTE_THREADS at once: one ranged GET for
    most (the whole object from a store that ignores ranges)."""
    paths = [path for path, _ in walked]
    if local:
        return tei.records(paths, threads=1, skip_unknown=True, lines=True, sidecars=[s for _, s in walked])
    return tei.records([(fs, path) for path in paths], names=paths, threads=_REMOTE_THREADS, skip_unknown=True,
                       lines=True)


# Remote tasks a worker process runs at once: a remote task mostly waits on the store (its
# listing, then round trips), so it leaves the worker's thread to the next task meanwhile.
_REMOTE_TASKS_AT_ONCE = 2
_remote_tasks = threading.BoundedSemaphore(_REMOTE_TASKS_AT_ONCE)


def index_shard(number, source, shard, out):
    """A worker's task: lists the shard (a folder, or files of SOURCE's first level), reads its
    photos and writes OUT/part-NNNNN.jsonl. Returns (photos written, files read whole because
    the store ignores ranged GETs)."""
    if _is_local(source):
        return _index_shard(number, source, shard, out)
    with _remote_tasks:
        try:
            secede()  # the worker starts its next task while this one waits on the store
        except ValueError:  # not on a worker (called in-process)
            pass
        return _index_shard(number, source, shard, out)


def _index_shard(number, source, shard, out):
    local = _is_local(source)
    fs, _ = fsspec.core.url_to_fs(source)
    if shard[0] == "folders":
        paths = itertools.chain.from_iterable(_walk(fs, folder, local) for folder in shard[1])
    else:
        paths = iter(shard[1])
    target = _join(out, f"part-{number:05d}.jsonl")
    if local and _is_local(out):  # the library writes the part itself, as it reads
        photos, sidecars = itertools.tee(paths)  # in step: at most a chunk apart
        return tei.write_records((p for p, _ in photos), target, threads=1, skip_unknown=True,
                                 sidecars=(s for _, s in sidecars)), 0
    parts, whole, read_whole = [], None, 0
    while batch := list(itertools.islice(paths, _BATCH)):
        if whole is None:
            whole = not local and not _honours_ranges(batch[0][0])
        read_whole += len(batch) if whole else 0
        parts.append(_lines(fs, batch, local))
    text = b"".join(parts)
    with fsspec.open(target, "wb") as f:
        f.write(text)
    return text.count(b"\n"), read_whole


# Files of SOURCE's first level go to tasks this many at a time, so that a flat prefix of many
# objects is read by every worker, not by one.
_SHARD_FILES = 1000


# Tasks a worker thread gets at least, when SOURCE has enough folders: consecutive folders go to a
# task together up to that, since a task costs the scheduler and client about 3 ms (a folder of
# 1,000 photos takes a worker about 12 ms).
_TASKS_PER_THREAD = 8


def shards(source, threads=1):
    """SOURCE's first level in exifinfo's order: runs of consecutive folders (one folder each
    unless there are more than _TASKS_PER_THREAD for each of `threads`), the files between them
    shards of at most _SHARD_FILES."""
    local = _is_local(source)
    fs, _ = fsspec.core.url_to_fs(source)
    entries = _entries(fs, source, local)
    group = max(1, sum(is_folder for _, is_folder in entries) // (_TASKS_PER_THREAD * max(threads, 1)))
    paired = tei.sidecar_paths([name for name, is_folder in entries if not is_folder]) if local else {}
    taken = set(paired.values())
    files, folders = [], []
    for name, is_folder in entries:
        path = _join(source, name)
        if not is_folder and name in taken:
            continue  # read with its photo
        if is_folder:
            if files:
                yield ("files", files)
                files = []
            folders.append(path)
            if len(folders) == group:
                yield ("folders", folders)
                folders = []
            continue
        if folders:
            yield ("folders", folders)
            folders = []
        files.append((path, _join(source, paired[name]) if name in paired else None))
        if len(files) == _SHARD_FILES:
            yield ("files", files)
            files = []
    if folders:
        yield ("folders", folders)
    if files:
        yield ("files", files)


def run(source, out, scheduler=None, workers=2, client=None, show_progress=False):
    """Indexes `source` into the folder (or URL) `out`; returns the number of photos. `client`: a
    Client to use as it is (else one for `scheduler`, else a new LocalCluster of `workers`)."""
    source = source.rstrip("/") if _is_local(source) else source
    fsspec.core.url_to_fs(out)[0].makedirs(out, exist_ok=True)
    cluster = None
    if client is None and not scheduler:
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None)
    own = client is None
    client = client or Client(scheduler or cluster)
    try:
        threads = sum(client.nthreads().values())
        futures = [client.submit(index_shard, n, source, shard, out, pure=False)
                   for n, shard in enumerate(shards(source, threads))]
        if show_progress:
            progress(futures)
        counts = client.gather(futures)
        read_whole = sum(whole for _, whole in counts)
        if read_whole:
            print(f"dask_index: {source} answers ranged GETs with whole files: {read_whole} files were read whole",
                  file=sys.stderr)
        return sum(photos for photos, _ in counts)
    finally:
        if own:
            client.close()
        if cluster is not None:
            cluster.close()


def main():
    parser = argparse.ArgumentParser(description="Index an archive of photos with Dask.")
    parser.add_argument("source", help="a folder or a URL prefix")
    parser.add_argument("--out", required=True, help="the folder (or URL) that receives part-NNNNN.jsonl")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (default: a LocalCluster)")
    parser.add_argument("--workers", type=int, default=2, help="LocalCluster workers (default 2)")
    args = parser.parse_args()
    count = run(args.source, args.out, args.scheduler, args.workers, show_progress=sys.stderr.isatty())
    print(f"{count} photos indexed into {args.out}", file=sys.stderr)


if __name__ == "__main__":
    main()
