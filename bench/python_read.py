# SPDX-License-Identifier: MIT
"""Per-file cost of the Python read() against fields() and Pillow, and its scaling on threads.

Usage: /usr/bin/python3 bench/python_read.py CORPUS_DIR [ROUNDS]
with PYTHONPATH=python, EXIFINFO_LIBRARY and TOLVANE_EXIF_INFO_LIBRARY naming the built
libraries. Copies the corpus's JPEGs into a temporary folder until there are 2,000 files,
then prints medians over ROUNDS (default 7) of the time per file, each timed pass preceded by
an untimed one over the same files.
"""
import os
import shutil
import statistics
import sys
import tempfile
import threading
import time

import tolvane_exif_info as tei

try:
    from PIL import Image
except ImportError:
    Image = None


def workload(corpus, count, folder):
    sources = sorted(os.path.join(corpus, n) for n in os.listdir(corpus) if n.endswith(".jpg"))
    paths = []
    for i in range(count):
        path = os.path.join(folder, f"{i:05d}.jpg")
        shutil.copyfile(sources[i % len(sources)], path)
        paths.append(path)
    return paths


def pillow(path):
    try:
        with Image.open(path) as image:
            return image.getexif()
    except Exception:  # damaged files: Pillow refuses some that the library reads in part
        return None


def per_file(function, paths, rounds):
    times = []
    for _ in range(rounds):
        for p in paths:  # untimed: the files are in the page cache, the code is warm
            function(p)
        start = time.perf_counter()
        for p in paths:
            function(p)
        times.append((time.perf_counter() - start) / len(paths))
    return statistics.median(times)


def threaded(paths, threads, rounds):
    """Files per second with `threads` threads sharing the list."""
    rates = []
    for _ in range(rounds):
        for p in paths:
            tei.read(p)
        chunks = [paths[k::threads] for k in range(threads)]
        workers = [threading.Thread(target=lambda c=c: [tei.read(p) for p in c]) for c in chunks]
        start = time.perf_counter()
        for w in workers:
            w.start()
        for w in workers:
            w.join()
        rates.append(len(paths) / (time.perf_counter() - start))
    return statistics.median(rates)


def batched(paths, rounds):
    """Files per second of a loop of read(), of read_many and of records on 1 and 2 threads, side
    by side: each round runs them all, each timed pass preceded by an untimed one."""
    runs = {"a loop of read()": lambda: [tei.read(p) for p in paths],
            "read_many, 1 thread": lambda: tei.read_many(paths, threads=1),
            "read_many, 2 threads": lambda: tei.read_many(paths, threads=2),
            "records lines, 1 thread": lambda: tei.records(paths, threads=1, lines=True),
            "records lines, 2 threads": lambda: tei.records(paths, threads=2, lines=True),
            "records dicts, 2 threads": lambda: tei.records(paths, threads=2)}
    rates = {name: [] for name in runs}
    for _ in range(rounds):
        for name, run in runs.items():
            run()
            start = time.perf_counter()
            run()
            rates[name].append(len(paths) / (time.perf_counter() - start))
    return {name: statistics.median(values) for name, values in rates.items()}


def main():
    corpus = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    with tempfile.TemporaryDirectory() as folder:
        paths = workload(corpus, 2000, folder)
        first = paths[:1000]
        rows = [("read(path)", per_file(tei.read, first, rounds)),
                ("fields(path)", per_file(tei.fields, first, rounds))]
        if Image is not None:
            rows.append(("Pillow Image.open(p).getexif()", per_file(pillow, first, rounds)))
        base = rows[0][1]
        print(f"{len(first)} files, median of {rounds} rounds")
        print("| reader | per file | vs read() |")
        print("|---|---:|---:|")
        for name, seconds in rows:
            print(f"| {name} | {seconds * 1e6:.1f} us | {seconds / base:.2f}x |")
        one, two = threaded(paths, 1, rounds), threaded(paths, 2, rounds)
        print(f"\n{len(paths)} files: 1 thread {one:,.0f} files/s, 2 threads {two:,.0f} files/s: {two / one:.2f}x")
        rates = batched(paths, rounds)
        print(f"{len(paths)} files: " + ", ".join(f"{name} {rate:,.0f} files/s" for name, rate in rates.items()) +
              f"; read_many 2 threads against 1: {rates['read_many, 2 threads'] / rates['read_many, 1 thread']:.2f}x, "
              f"against the loop: {rates['read_many, 2 threads'] / rates['a loop of read()']:.2f}x; "
              f"records (lines) 2 threads against 1: "
              f"{rates['records lines, 2 threads'] / rates['records lines, 1 thread']:.2f}x, "
              f"against the loop: {rates['records lines, 2 threads'] / rates['a loop of read()']:.2f}x")


if __name__ == "__main__":
    main()
