# SPDX-License-Identifier: MIT
"""Photos on an HTTP store 20 ms away: nginx on loopback behind a proxy that delays each way by
20 ms and carries 100 MB/s (tests/python/delay_proxy.py), serving 2,000 photos (hard links of
the corpora's files in 20 folders). Photos a second, requests and KiB a photo (nginx's log)
for a plain loop of read() over fsspec's files, read_many with 32 threads, records over
(filesystem, URL) pairs, and examples/dask_index.py on a running 2-worker LocalCluster.

Usage: /usr/bin/python3 bench/http_bench.py CORPUS_DIR CONTAINERS_DIR [LOOP_PHOTOS]
with PYTHONPATH=python:examples:tests/python and EXIFINFO_LIBRARY naming the built library.
The loop reads LOOP_PHOTOS (default 200) of the photos, spread over the tree: at a few round
trips a photo, all 2,000 would take minutes.
"""
import os
import sys
import tempfile
import time

import fsspec
from distributed import Client, LocalCluster

import dask_index
import http_store
import tolvane_exif_info as tei

PHOTOS, FOLDERS, DELAY_MS = 2000, 20, 20


def tree(corpus, containers, root):
    sources = sorted(os.path.join(d, n) for d in (corpus, containers) for n in os.listdir(d)
                     if not n.startswith(".") and n not in ("README.md", "SHA256SUMS") and
                     os.path.isfile(os.path.join(d, n)))
    names = []
    for i in range(PHOTOS):
        folder = os.path.join(root, f"f{i % FOLDERS:02d}")
        os.makedirs(folder, exist_ok=True)
        os.chmod(folder, 0o755)
        source = sources[i % len(sources)]
        name = f"f{i % FOLDERS:02d}/{i:05d}{os.path.splitext(source)[1]}"
        os.link(source, os.path.join(root, name))
        names.append(name)
    return names


def measured(log, count, run):
    """(photos a second, requests a photo, KiB a photo) of run()."""
    before = len(log.lines())
    start = time.perf_counter()
    run()
    seconds = time.perf_counter() - start
    lines = log.lines()[before:]
    return count / seconds, len(lines) / count, sum(b for _, _, b in lines) / count / 1024


def main():
    corpus, containers = sys.argv[1:3]
    loop_count = int(sys.argv[3]) if len(sys.argv) > 3 else 200
    with tempfile.TemporaryDirectory() as work:
        os.chmod(work, 0o755)
        root = os.path.join(work, "tree")
        os.makedirs(root)
        os.chmod(root, 0o755)
        names = tree(corpus, containers, root)
        sample = names[::max(1, len(names) // loop_count)][:loop_count]
        rows = []
        with http_store.nginx(root) as (direct, log), http_store.delayed(direct, DELAY_MS) as base, \
                LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0") as cluster, \
                Client(cluster) as client:
            fs = fsspec.filesystem("http", skip_instance_cache=True, cache_type="none")

            def loop():
                for name in sample:
                    with fs.open(base + name, "rb") as f:
                        tei.read(f)

            def many():
                tei.read_many([fsspec.core.OpenFile(fs, base + name) for name in names], threads=32)

            pairs = fsspec.filesystem("http", skip_instance_cache=True)

            def records(at_once):
                return lambda: tei.records([(pairs, base + name) for name in names], threads=at_once, lines=True)

            out = os.path.join(work, "index")
            dask_index.run(base, out, client=client)  # untimed: the workers load the library and connect
            rows.append(("a loop of read() (fsspec, no read-ahead)", *measured(log, len(sample), loop)))
            rows.append(("read_many, 32 threads", *measured(log, len(names), many)))
            records(64)()  # untimed: the session's connections
            for at_once in (32, 64, 128):
                rows.append((f"records, (filesystem, URL) pairs, {at_once} at once",
                             *measured(log, len(names), records(at_once))))
            rows.append(("dask_index.py, running 2-worker LocalCluster (128 reads at once each)",
                         *measured(log, len(names), lambda: dask_index.run(base, out, client=client))))
        print(f"{len(names)} photos on nginx {DELAY_MS} ms away each way (100 MB/s); the loop over {len(sample)}")
        print("| reader | photos/s | vs the loop | requests a photo | KiB a photo |")
        print("|---|---:|---:|---:|---:|")
        for name, rate, requests, kib in rows:
            print(f"| {name} | {rate:,.1f} | {rate / rows[0][1]:.1f}x | {requests:.2f} | {kib:.1f} |")


if __name__ == "__main__":
    main()
