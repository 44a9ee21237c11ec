# SPDX-License-Identifier: MIT
"""Throughput of examples/dask_index.py on a 2-worker LocalCluster against one plain Python
process over the same tree, with the CPU time each process spent and a profile of the workers'
job, to show what bounds the cluster on this machine.

Usage: /usr/bin/python3 bench/dask_bench.py TREE [ROUNDS] [EXIFINFO]
with PYTHONPATH=python:examples and EXIFINFO_LIBRARY naming the built library; TREE is a
folder of photos in subfolders (a task a subfolder). With EXIFINFO (the built tool), each round
also times `exifinfo -r --json TREE` into a file, side by side with the cluster.
"""
import cProfile
import io
import os
import pstats
import statistics
import subprocess
import sys
import tempfile
import time

import psutil
from distributed import Client, LocalCluster

import dask_index
import tolvane_exif_info as tei


def loop(paths):
    """The plain process: read() of each (path, sidecar) pair, as the example lists them."""
    return sum(tei.read(path, sidecar=sidecar).ending != tei.Ending.NOT_A_JPEG for path, sidecar in paths)


def cpu_seconds(processes):
    return {name: sum(p.cpu_times()[:2]) for name, p in processes.items()}


def main():
    tree = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    tool = sys.argv[3] if len(sys.argv) > 3 else None
    import fsspec
    paths = list(dask_index._walk(fsspec.filesystem("file"), tree, True))
    loop(paths)  # untimed: the page cache and the library
    one, same, dask, cold, cpu, native = [], [], [], [], [], []
    with tempfile.TemporaryDirectory() as work, \
            LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0") as cluster, \
            Client(cluster) as client:
        out = os.path.join(work, "index")
        dask_index.run(tree, out, client=client)  # untimed: the workers load the library
        processes = {"client and scheduler": psutil.Process()}
        for address, pid in client.run(os.getpid).items():
            processes[f"worker {len(processes)}"] = psutil.Process(pid)
        for nanny in psutil.Process().children(recursive=True):
            if nanny.pid not in (p.pid for p in processes.values()):
                processes[f"other {nanny.pid}"] = nanny
        for _ in range(rounds):
            start = time.perf_counter()
            loop(paths)
            one.append(len(paths) / (time.perf_counter() - start))
            start = time.perf_counter()
            dask_index.index_shard(0, tree, ("files", paths), out)  # the workers' whole job, in this one process
            same.append(len(paths) / (time.perf_counter() - start))
            before = cpu_seconds(processes)
            start = time.perf_counter()
            dask_index.run(tree, out, client=client)
            seconds = time.perf_counter() - start
            dask.append(len(paths) / seconds)
            after = cpu_seconds(processes)
            cpu.append((seconds, {name: after[name] - before[name] for name in processes}))
            if tool:
                with open(os.path.join(work, "tool.jsonl"), "wb") as lines:
                    start = time.perf_counter()
                    subprocess.run([tool, "-r", "--json", tree], stdout=lines, check=True)
                    native.append(len(paths) / (time.perf_counter() - start))
        for _ in range(rounds):
            start = time.perf_counter()
            dask_index.run(tree, out, workers=2)
            cold.append(len(paths) / (time.perf_counter() - start))
        # Where a worker's time goes: its job over a tenth of the files, profiled in this process.
        profile = cProfile.Profile()
        tenth = paths[:len(paths) // 10]
        profile.runcall(dask_index.index_shard, 0, tree, ("files", tenth), out)
    a, s, b, c = (statistics.median(x) for x in (one, same, dask, cold))
    print(f"{len(paths)} files, median of {rounds} rounds")
    print("| run | files per second | vs one process |")
    print("|---|---:|---:|")
    print(f"| one process, read() in a loop | {a:,.0f} | 1.00x |")
    print(f"| one process, the workers' job (the library's lines written to the part) | {s:,.0f} | {s / a:.2f}x |")
    print(f"| dask_index.py on a running 2-worker LocalCluster (folders grouped into tasks) | {b:,.0f} | {b / a:.2f}x |")
    print(f"| the same, starting and stopping the cluster each time | {c:,.0f} | {c / a:.2f}x |")
    if native:
        t = statistics.median(native)
        print(f"| `exifinfo -r --json` into a file, the same rounds | {t:,.0f} | {t / a:.2f}x |")
        print(f"\nThe running cluster against the tool: {b / t:.2f}x")
    seconds, spent = sorted(cpu, key=lambda r: r[0])[len(cpu) // 2]
    print(f"\nCPU seconds of each process during the median Dask run ({seconds:.2f} s wall, "
          f"{2 * seconds:.2f} s of CPU on 2 cores):")
    for name, value in spent.items():
        print(f"- {name}: {value:.2f} s")
    print(f"- all: {sum(spent.values()):.2f} s ({sum(spent.values()) / (2 * seconds):.0%} of both cores)")
    text = io.StringIO()
    pstats.Stats(profile, stream=text).sort_stats("tottime").print_stats(12)
    print(f"\nThe workers' job over {len(tenth)} files, by own time:\n" + text.getvalue())


if __name__ == "__main__":
    main()
