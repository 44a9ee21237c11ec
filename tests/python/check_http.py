# SPDX-License-Identifier: MIT
"""Photos on a real HTTP store: nginx, started here on a free loopback port, serves a tree of
photos; fsspec's HTTP file system opens each, and read() takes only the ranges the library asks
for. Every photo must give the values of a local read; nginx's log counts the requests and
bytes. Usage: check_http.py CORPUS_DIR CONTAINERS_DIR (skips, exit 77, without nginx or fsspec)"""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

import tolvane_exif_info as tei

# Dask's worker processes import this file: the test runs in the main process only.
if __name__ == "__main__":
    CORPUS, CONTAINERS = sys.argv[1:3]
    nginx = shutil.which("nginx") or "/usr/sbin/nginx"
    try:
        import fsspec
        import aiohttp  # noqa: F401  fsspec's HTTP file system needs it
    except ImportError as missing:
        print(f"skipped: {missing}")
        sys.exit(77)
    if not os.path.exists(nginx):
        print("skipped: no nginx")
        sys.exit(77)

    work = tempfile.mkdtemp()
    os.chmod(work, 0o755)  # nginx's workers run as another user when the test runs as root
    tree = os.path.join(work, "tree")
    os.makedirs(tree)
    names = []
    for folder, count in ((CORPUS, 20), (CONTAINERS, 38)):
        for name in sorted(n for n in os.listdir(folder) if n not in ("README.md", "SHA256SUMS") and not n.startswith("."))[:count]:
            shutil.copy(os.path.join(folder, name), tree)
            names.append(name)
    failed = 0
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples"))
    try:
        import dask_index
        index_with_dask = True
    except ImportError:
        index_with_dask = False


    def check_dask_over_http(base):
        """examples/dask_index.py over the URL prefix (nginx's autoindex as the listing): the parts,
        end to end, hold every photo's object in the tree's order, as a local read gives it."""
        global failed
        out = os.path.join(work, "dask-out")
        count = dask_index.run(base, out, workers=2)
        got = []
        for part in sorted(os.listdir(out)):
            got.extend(json.loads(line) for line in open(os.path.join(out, part), encoding="utf-8"))
        expected = []
        for name in sorted(os.listdir(tree), key=os.fsencode):
            photo = tei.read(os.path.join(tree, name))
            if photo.ending != tei.Ending.NOT_A_JPEG:
                expected.append(tei.record(base + name, photo))
        if count != len(expected) or [dict(g, path=None) for g in got] != [dict(e, path=None) for e in expected]:
            failed += 1
            print(f"FAILED: Dask over HTTP gave {count} objects, {len(expected)} expected")
        else:
            print(f"Dask over HTTP: {count} objects equal the local reads")


    def serve_and_read(address, prefix=()):
        """nginx on `address` (run under `prefix`, e.g. ip netns exec), every photo read through
        fsspec; the values checked, and (requests, KiB, seconds) a photo returned."""
        global failed
        if address == "127.0.0.1":
            with socket.socket() as s:
                s.bind(("127.0.0.1", 0))
                port = s.getsockname()[1]
        else:
            port = 8080
        logs = tempfile.mkdtemp(dir=work)
        os.chmod(logs, 0o755)
        config = os.path.join(logs, "nginx.conf")
        open(config, "w").write(f"""
    daemon off;
    worker_processes 1;
    pid {logs}/nginx.pid;
    error_log {logs}/error.log;
    events {{ worker_connections 64; }}
    http {{
      access_log off;
      log_format ranges '$request_method $status $body_bytes_sent';
      client_body_temp_path {logs}; proxy_temp_path {logs}; fastcgi_temp_path {logs};
      uwsgi_temp_path {logs}; scgi_temp_path {logs};
      server {{
        listen {address}:{port};
        root {tree};
        autoindex on;
        access_log {logs}/ranges.log ranges;
      }}
    }}
    """)
        server = subprocess.Popen([*prefix, nginx, "-p", logs, "-c", config], stderr=subprocess.DEVNULL)
        rows = []
        try:
            for _ in range(100):
                try:
                    socket.create_connection((address, port), timeout=0.2).close()
                    break
                except OSError:
                    time.sleep(0.05)
            fs = fsspec.filesystem("http", skip_instance_cache=True)
            base = f"http://{address}:{port}/"
            log = os.path.join(logs, "ranges.log")
            for name in names:
                before = sum(1 for _ in open(log)) if os.path.exists(log) else 0
                start = time.perf_counter()
                with fs.open(base + name, "rb", cache_type="none") as f:  # no read-ahead: each read, one ranged GET
                    remote = tei.read(f)
                seconds = time.perf_counter() - start
                local = tei.read(os.path.join(tree, name))
                if tei.record(name, remote) != tei.record(name, local):
                    failed += 1
                    print("FAILED: values differ for", name)
                lines = [line.split() for line in open(log)][before:]
                gets = [l for l in lines if l[0] == "GET"]
                rows.append((name, len(lines), sum(int(l[2]) for l in gets), os.path.getsize(os.path.join(tree, name)), seconds))
            if address == "127.0.0.1" and index_with_dask:
                check_dask_over_http(base)
        finally:
            server.terminate()
            server.wait()
        whole = [r for r in rows if r[2] >= r[3] and r[3] > 256 * 1024]
        if whole:
            failed += 1
            print("FAILED: read whole:", whole)
        requests = sorted(r[1] for r in rows)
        fetched = sorted(r[2] for r in rows)
        seconds = sorted(r[4] for r in rows)
        print(f"{len(rows)} photos over HTTP ({address}): requests a photo (fsspec's HEAD included) median "
              f"{requests[len(rows) // 2]}, max {requests[-1]}; KiB median {fetched[len(rows) // 2] / 1024:.1f}, max "
              f"{fetched[-1] / 1024:.1f} (files: median {sorted(r[3] for r in rows)[len(rows) // 2] / 1024:.1f} KiB, "
              f"max {max(r[3] for r in rows) / 1024:.0f} KiB); {len(rows) / sum(seconds):.1f} photos/s in a loop")


    try:
        serve_and_read("127.0.0.1")
        # Like object storage: nginx in a network namespace whose link adds 20 ms each way.
        ns = f"exifinfo{os.getpid()}"
        if os.geteuid() != 0 or not shutil.which("ip") or not shutil.which("tc"):
            print("skipped: the 20 ms link needs root, ip and tc")
        else:
            setup = [["ip", "netns", "add", ns],
                     ["ip", "link", "add", f"{ns[:9]}a", "type", "veth", "peer", "name", f"{ns[:9]}b"],
                     ["ip", "link", "set", f"{ns[:9]}b", "netns", ns],
                     ["ip", "addr", "add", "10.231.0.1/24", "dev", f"{ns[:9]}a"],
                     ["ip", "link", "set", f"{ns[:9]}a", "up"],
                     ["ip", "netns", "exec", ns, "ip", "addr", "add", "10.231.0.2/24", "dev", f"{ns[:9]}b"],
                     ["ip", "netns", "exec", ns, "ip", "link", "set", f"{ns[:9]}b", "up"],
                     ["ip", "netns", "exec", ns, "ip", "link", "set", "lo", "up"],
                     ["tc", "qdisc", "add", "dev", f"{ns[:9]}a", "root", "netem", "delay", "20ms"],
                     ["ip", "netns", "exec", ns, "tc", "qdisc", "add", "dev", f"{ns[:9]}b", "root", "netem", "delay", "20ms"]]
            try:
                why = None
                for step in setup:
                    done = subprocess.run(step, capture_output=True)
                    if done.returncode != 0:
                        why = f"{' '.join(step[:4])}...: {done.stderr.decode().strip()}"
                        break
                if why is None:
                    serve_and_read("10.231.0.2", ["ip", "netns", "exec", ns])
                else:
                    print(f"skipped: the 20 ms link cannot be set up on this machine ({why})")
            finally:
                subprocess.run(["ip", "link", "del", f"{ns[:9]}a"], capture_output=True)
                subprocess.run(["ip", "netns", "del", ns], capture_output=True)
    finally:
        shutil.rmtree(work)
    print(f"{'FAILED' if failed else 'passed'}: {failed} failures")
    sys.exit(1 if failed else 0)
