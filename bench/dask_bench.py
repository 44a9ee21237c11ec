# SPDX-License-Identifier: MIT
"""Throughput of examples/dask_index.py on a 2-worker LocalCluster against one Python process
calling read() on each file's bytes in a loop, over the same tree of FILES files.

Usage: /usr/bin/python3 bench/dask_bench.py TREE [ROUNDS]
with PYTHONPATH=python:examples and EXIFINFO_LIBRARY naming the built library; TREE is a
folder of photos (bench/tool_bench.sh makes one of 20,000 hard links in WORK_DIR/warm).
"""
import os
import statistics
import sys
import tempfile
import time

from distributed import Client, LocalCluster

import dask_index
import tolvane_exif_info as tei


def loop(paths):
    count = 0
    for path in paths:
        with open(path, "rb") as f:
            photo = tei.read(f.read())
        count += photo.ending != tei.Ending.NOT_A_JPEG
    return count


def main():
    tree = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    import fsspec
    paths = list(dask_index._walk(fsspec.filesystem("file"), tree, True))
    loop(paths)  # untimed: the page cache and the library
    one, same, dask, cold = [], [], [], []
    with tempfile.TemporaryDirectory() as work, \
            LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        out = os.path.join(work, "index")
        dask_index.run(tree, out, client=client)  # untimed: the workers load the library
        for _ in range(rounds):
            start = time.perf_counter()
            loop(paths)
            one.append(len(paths) / (time.perf_counter() - start))
            start = time.perf_counter()
            dask_index.index_shard(0, tree, ("files", paths), out)  # the workers' whole job, in this one process
            same.append(len(paths) / (time.perf_counter() - start))
            start = time.perf_counter()
            dask_index.run(tree, out, client=client)
            dask.append(len(paths) / (time.perf_counter() - start))
        for _ in range(rounds):
            start = time.perf_counter()
            dask_index.run(tree, out, workers=2)
            cold.append(len(paths) / (time.perf_counter() - start))
    a, s, b, c = (statistics.median(x) for x in (one, same, dask, cold))
    print(f"{len(paths)} files, median of {rounds} rounds")
    print("| run | files per second | vs one process |")
    print("|---|---:|---:|")
    print(f"| one process, read() in a loop | {a:,.0f} | 1.00x |")
    print(f"| one process, the workers' job (read(), the JSON line, the part written) | {s:,.0f} | {s / a:.2f}x |")
    print(f"| dask_index.py on a running 2-worker LocalCluster (a task a folder) | {b:,.0f} | {b / a:.2f}x |")
    print(f"| the same, starting and stopping the cluster each time | {c:,.0f} | {c / a:.2f}x |")


if __name__ == "__main__":
    main()
