# SPDX-License-Identifier: MIT
"""Photos on a real HTTP store: nginx, started here on a free loopback port, serves a tree of
photos; fsspec's HTTP file system opens each, and read() takes only the ranges the library asks
for. Every photo must give the values of a local read; nginx's log counts the requests and
bytes. Then the same over a link with 20 ms each way (a network namespace with netem as root,
else a delaying proxy), read_many over it, the Dask example over the store, and a store that
ignores ranged GETs. With MEDIA_DIR, its videos join the tree. Usage: check_http.py CORPUS_DIR
CONTAINERS_DIR EXIFINFO [MEDIA_DIR] (skips, exit 77, without nginx or fsspec)"""
import contextlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse

import http_store
import tolvane_exif_info as tei

# Dask's worker processes import this file: the test runs in the main process only.
if __name__ == "__main__":
    CORPUS, CONTAINERS, TOOL = sys.argv[1:4]
    MEDIA = sys.argv[4] if len(sys.argv) > 4 and os.path.isdir(sys.argv[4]) else None
    why = http_store.usable()
    if why:
        print(f"skipped: {why}")
        sys.exit(77)
    import fsspec

    work = tempfile.mkdtemp()
    os.chmod(work, 0o755)
    tree = os.path.join(work, "tree")
    os.makedirs(tree)
    os.chmod(tree, 0o755)
    names = []
    for folder, count in ((CORPUS, 20), (CONTAINERS, 38)):
        for name in sorted(n for n in os.listdir(folder) if n not in ("README.md", "SHA256SUMS") and not n.startswith("."))[:count]:
            shutil.copy(os.path.join(folder, name), tree)
            names.append(name)
    for name in sorted(os.listdir(MEDIA)) if MEDIA else []:  # videos, read from their movie box
        if name.endswith((".mov", ".mp4")):
            shutil.copy(os.path.join(MEDIA, name), tree)
            names.append(name)
    local = {name: tei.record(name, tei.read(os.path.join(tree, name))) for name in names}
    failed = 0
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples"))
    try:
        import dask_index
    except ImportError:
        dask_index = None

    def fail(*what):
        global failed
        failed += 1
        print("FAILED:", *what)

    def read_each(base, log):
        """Every photo read through fsspec, one after another; the values checked against a local
        read, and no photo fetched whole. Prints requests and KiB a photo and photos a second."""
        fs = fsspec.filesystem("http", skip_instance_cache=True)
        rows = []
        for name in names:
            before = len(log.lines())
            start = time.perf_counter()
            with fs.open(base + name, "rb", cache_type="none") as f:  # no read-ahead: each read, one ranged GET
                remote = tei.read(f)
            seconds = time.perf_counter() - start
            if tei.record(name, remote) != local[name]:
                fail("values differ for", name)
            lines = log.lines()[before:]
            rows.append((len(lines), sum(b for m, _, b in lines if m == "GET"), os.path.getsize(os.path.join(tree, name)),
                         seconds))
        whole = [(name, r) for name, r in zip(names, rows) if r[1] >= r[2] > 256 * 1024]
        if whole:
            fail("read whole:", whole)
        median = lambda k: sorted(r[k] for r in rows)[len(rows) // 2]  # noqa: E731
        print(f"{len(rows)} photos over {base}: requests a photo (fsspec's HEAD included) median {median(0)}, max "
              f"{max(r[0] for r in rows)}; KiB median {median(1) / 1024:.1f}, max {max(r[1] for r in rows) / 1024:.1f} "
              f"(files: median {median(2) / 1024:.1f} KiB); {len(rows) / sum(r[3] for r in rows):.1f} photos/s in a loop")

    def read_pairs(base, log, tool):
        """records() over (filesystem, URL) pairs: the tool's lines for the local files, byte for
        byte (each named as its local path), at most 4 requests a photo and 1.15 on average, no
        HEAD, and at most a fifth of the tree's bytes."""
        fs = fsspec.filesystem("http", skip_instance_cache=True)
        paths = [os.path.join(tree, name) for name in names]
        before = len(log.lines())
        lines = tei.records([(fs, base + name) for name in names], names=paths, threads=16, lines=True)
        served = log.lines()[before:]
        if lines != subprocess.run([tool, "--json", *paths], capture_output=True).stdout:
            fail("records over HTTP are not the tool's lines")
        photos = tei.read_many([(fs, base + name) for name in names], threads=16)
        heads = sum(method == "HEAD" for method, _, _ in served)
        fetched = sum(b for _, _, b in served)
        size = sum(os.path.getsize(p) for p in paths)
        most = max(photo.requests for photo in photos)
        print(f"records over {base}: {len(served) / len(names):.2f} requests a photo (at most {most}), {heads} HEAD, "
              f"{fetched / size:.1%} of the bytes")
        if heads or most > 4 or len(served) > 1.15 * len(names) or fetched > 0.2 * size:
            fail("records over HTTP cost too much")

    def read_batch(base):
        """read_many over the store: fsspec's OpenFile objects, opened and read on 16 threads."""
        fs = fsspec.filesystem("http", skip_instance_cache=True, cache_type="none")
        start = time.perf_counter()
        photos = tei.read_many([fsspec.core.OpenFile(fs, base + name) for name in names], threads=16)
        seconds = time.perf_counter() - start
        for name, photo in zip(names, photos):
            if tei.record(name, photo) != local[name]:
                fail("read_many: values differ for", name)
        print(f"read_many over {base}, 16 threads: {len(names) / seconds:.1f} photos/s")

    def index_with_dask(base, log=None):
        """examples/dask_index.py over the URL prefix (nginx's autoindex as the listing): the parts,
        end to end, hold every photo's object in the tree's order, as a local read gives it."""
        out = tempfile.mkdtemp(dir=work)
        count = dask_index.run(base, out, workers=2)
        got = []
        for part in sorted(os.listdir(out)):
            with open(os.path.join(out, part), encoding="utf-8") as f:
                got.extend(json.loads(line) for line in f)
        for record in got:  # the URL as the listing gives it: nginx escapes "(" as %28
            record["path"] = urllib.parse.unquote(record["path"])
        expected = [dict(local[name], path=base + name) for name in sorted(names, key=os.fsencode)
                    if local[name]["ending"] != "not_a_jpeg"]
        if count != len(expected) or got != expected:
            diff = next(((g, e) for g, e in zip(got, expected) if g != e), None)
            if diff:
                diff = {k: (diff[0].get(k), v) for k, v in diff[1].items() if diff[0].get(k) != v}
            fail(f"Dask over {base} gave {count} objects, {len(expected)} expected; first difference {diff}")
        else:
            print(f"Dask over {base}: {count} objects equal the local reads")
        return got

    @contextlib.contextmanager
    def slow_link():
        """A link with 20 ms each way: a network namespace and netem as root, else a proxy."""
        ns = f"exifinfo{os.getpid()}"
        a, b = f"{ns[:9]}a", f"{ns[:9]}b"
        setup = [["ip", "netns", "add", ns],
                 ["ip", "link", "add", a, "type", "veth", "peer", "name", b],
                 ["ip", "link", "set", b, "netns", ns],
                 ["ip", "addr", "add", "10.231.0.1/24", "dev", a],
                 ["ip", "link", "set", a, "up"],
                 ["ip", "netns", "exec", ns, "ip", "addr", "add", "10.231.0.2/24", "dev", b],
                 ["ip", "netns", "exec", ns, "ip", "link", "set", b, "up"],
                 ["ip", "netns", "exec", ns, "ip", "link", "set", "lo", "up"],
                 ["tc", "qdisc", "add", "dev", a, "root", "netem", "delay", "20ms"],
                 ["ip", "netns", "exec", ns, "tc", "qdisc", "add", "dev", b, "root", "netem", "delay", "20ms"]]
        why = None
        if os.geteuid() != 0 or not shutil.which("ip") or not shutil.which("tc"):
            why = "it needs root, ip and tc"
        try:
            for step in setup if why is None else ():
                done = subprocess.run(step, capture_output=True)
                if done.returncode != 0:
                    why = f"{' '.join(step[:4])}...: {done.stderr.decode().strip()}"
                    break
            if why is None:
                with http_store.nginx(tree, "10.231.0.2", 8080, ["ip", "netns", "exec", ns]) as store:
                    yield store
            else:
                print(f"skipped: the 20 ms network namespace ({why}); a proxy that delays each way by 20 ms "
                      f"stands in for it")
                with http_store.nginx(tree) as (base, log), http_store.delayed(base, 20) as slow:
                    yield slow, log
        finally:
            if why is None or not why.startswith("it needs"):
                subprocess.run(["ip", "link", "del", a], capture_output=True)
                subprocess.run(["ip", "netns", "del", ns], capture_output=True)

    def stalled_store():
        """A server that answers HEAD and then never answers a GET: the caller's timeout ends
        the read, and its exception reaches the caller of read()."""
        import aiohttp
        import http.server
        import threading

        release = threading.Event()

        class Stalling(http.server.BaseHTTPRequestHandler):
            def do_HEAD(self):
                self.send_response(200)
                self.send_header("Content-Length", "5000000")
                self.send_header("Accept-Ranges", "bytes")
                self.end_headers()

            def do_GET(self):
                release.wait(30)

            def log_message(self, *args):
                pass

        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Stalling)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        fs = fsspec.filesystem("http", skip_instance_cache=True, cache_type="none",
                               client_kwargs={"timeout": aiohttp.ClientTimeout(total=1)})
        start = time.perf_counter()
        try:
            with fs.open(f"http://127.0.0.1:{server.server_address[1]}/photo.jpg", "rb") as f:
                tei.read(f)
            fail("a stalled store gave a photo")
        except Exception as error:  # aiohttp's or fsspec's timeout, unchanged
            if not isinstance(error, (TimeoutError, aiohttp.ServerTimeoutError)) and "Timeout" not in type(error).__name__:
                fail("a stalled store raised", repr(error))
        seconds = time.perf_counter() - start
        if seconds > 10:
            fail(f"a stalled store took {seconds:.1f} s to give up with a 1 s timeout")
        print(f"a stalled store: the caller's 1 s timeout ended the read in {seconds:.1f} s")
        release.set()
        server.shutdown()

    try:
        stalled_store()
        with http_store.nginx(tree) as (base, log):
            read_each(base, log)
            read_pairs(base, log, TOOL)
            read_batch(base)
            if dask_index is not None:
                index_with_dask(base)
        with slow_link() as (base, log):
            read_each(base, log)
            read_batch(base)
        # A server that answers every ranged GET with the whole file: the example reads each
        # file whole, in one GET, and the values are a local read's.
        with http_store.nginx(tree, ranges=False) as (base, log):
            if dask_index is not None:
                index_with_dask(base)
                gets = [status for method, status, _ in log.lines() if method == "GET"]
                # a GET a file, and the listing's and the check for ranges
                if set(gets) != {200} or len(gets) > len(names) + 2:
                    fail(f"a store without ranged GETs: {len(gets)} GETs for {len(names)} files, statuses {set(gets)}")
    finally:
        shutil.rmtree(work)
    print(f"{'FAILED' if failed else 'passed'}: {failed} failures")
    sys.exit(1 if failed else 0)
