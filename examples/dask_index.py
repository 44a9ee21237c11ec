# SPDX-License-Identifier: MIT
"""Indexes a tree of photos with Dask: one JSON object per JPEG, as `exifinfo -r --json` prints.

    dask_index.py DIR --out FILE.jsonl [--scheduler ADDRESS] [--partition-size N]

Without --scheduler it starts a LocalCluster on this machine; with one (tcp://host:8786) it runs
on that cluster unchanged. Workers read each photo's bytes and call read() on them, so a storage
layer that hands out bytes (object storage, a database) fits the same code. The folder is walked
here, in exifinfo's order (depth first, names in byte order, links to folders not followed), and
the objects come back in that order.
"""
import argparse
import json
import os
import sys

import dask.bag as db
from distributed import Client, LocalCluster

import tolvane_exif_info as tei


def walk(folder):
    """Paths below `folder`, as exifinfo -r lists them."""
    names = sorted(os.listdir(os.fsencode(folder)))
    prefix = folder if folder.endswith("/") else folder + "/"
    for name in names:
        path = prefix + os.fsdecode(name)
        if os.path.isdir(path) and not os.path.islink(path):
            yield from walk(path)
        else:
            yield path


def index(path):
    """One file's JSON object, or None for a file that is not a JPEG (exifinfo skips those)."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except IsADirectoryError:
        return None  # a link to a folder: not followed
    except OSError as error:
        return tei.record(path, error=f"cannot open: {os.strerror(error.errno)}")
    photo = tei.read(data)
    if photo.ending == tei.Ending.NOT_A_JPEG:
        return None
    return tei.record(path, photo)


def index_partition(paths):
    """One partition's JSON Lines as one text: a worker sends back one string per task, which
    costs far less to ship than an object per file."""
    lines = []
    for path in paths:
        r = index(path)
        if r is not None:
            # A file name that is not UTF-8 is replaced, as exifinfo replaces it.
            lines.append(json.dumps(r, ensure_ascii=False).encode("utf-8", "replace").decode("utf-8") + "\n")
    return ["".join(lines)]


def run(folder, out, scheduler=None, partition_size=500, workers=2, client=None):
    """Indexes `folder` into `out`; returns the number of objects written. `client`: a Client
    to use as it is (else one for `scheduler`, else a new LocalCluster of `workers`)."""
    paths = list(walk(folder))
    cluster = None
    if client is None and not scheduler:
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None)
    own = client is None
    client = client or Client(scheduler or cluster)
    try:
        # Large partitions: the scheduler's cost is per task, not per file.
        bag = db.from_sequence(paths, partition_size=max(1, partition_size))
        texts = bag.map_partitions(index_partition).compute(scheduler=client)
    finally:
        if own:
            client.close()
        if cluster is not None:
            cluster.close()
    with open(out, "w", encoding="utf-8") as f:
        for text in texts:
            f.write(text)
    return sum(text.count("\n") for text in texts)


def main():
    parser = argparse.ArgumentParser(description="Index a tree of photos with Dask.")
    parser.add_argument("folder")
    parser.add_argument("--out", required=True, help="the JSON Lines file to write")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (default: a LocalCluster)")
    parser.add_argument("--partition-size", type=int, default=500, help="files per task (default 500)")
    parser.add_argument("--workers", type=int, default=2, help="LocalCluster workers (default 2)")
    args = parser.parse_args()
    count = run(args.folder, args.out, args.scheduler, args.partition_size, args.workers)
    print(f"{count} photos indexed into {args.out}", file=sys.stderr)


if __name__ == "__main__":
    main()
