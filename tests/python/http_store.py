# SPDX-License-Identifier: MIT
"""nginx serving a folder on a free loopback port, as a remote photo store for the tests and the
benchmarks: ranged GET, an HTML index of each folder (autoindex), and a log of each request's
method, status and body bytes. Optionally behind delay_proxy.py, a link with a latency."""
import contextlib
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

NGINX = shutil.which("nginx") or "/usr/sbin/nginx"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _wait_for(address, port, process):
    for _ in range(200):
        if process.poll() is not None:
            raise RuntimeError(f"the server on {address}:{port} exited with {process.returncode}")
        try:
            socket.create_connection((address, port), timeout=0.2).close()
            return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError(f"nothing listens on {address}:{port}")


class Log:
    """The requests nginx served: (method, status, bytes) each."""

    def __init__(self, path):
        self.path = path

    def lines(self):
        if not os.path.exists(self.path):
            return []
        with open(self.path) as f:
            return [(m, int(s), int(b)) for m, s, b in (line.split() for line in f)]


@contextlib.contextmanager
def nginx(root, address="127.0.0.1", port=None, prefix=(), ranges=True):
    """Serves `root`; yields (base URL, Log). `prefix` runs nginx under another command (ip netns
    exec NS); ranges=False makes it answer every ranged GET with the whole file."""
    port = port or free_port()
    work = tempfile.mkdtemp()
    os.chmod(work, 0o755)  # nginx's workers run as another user when the tests run as root
    config = os.path.join(work, "nginx.conf")
    with open(config, "w") as f:
        f.write(f"""
daemon off;
worker_processes 1;
worker_rlimit_nofile 8192;
pid {work}/nginx.pid;
error_log {work}/error.log;
events {{ worker_connections 4096; }}
http {{
  access_log off;
  log_format counts '$request_method $status $body_bytes_sent';
  client_body_temp_path {work}; proxy_temp_path {work}; fastcgi_temp_path {work};
  uwsgi_temp_path {work}; scgi_temp_path {work};
  keepalive_requests 100000;
  server {{
    listen {address}:{port};
    root {root};
    autoindex on;
    {"" if ranges else "max_ranges 0;"}
    access_log {work}/requests.log counts;
  }}
}}
""")
    server = subprocess.Popen([*prefix, NGINX, "-p", work, "-c", config], stderr=subprocess.DEVNULL)
    try:
        _wait_for(address, port, server)
        yield f"http://{address}:{port}/", Log(os.path.join(work, "requests.log"))
    finally:
        server.terminate()
        server.wait()
        shutil.rmtree(work, ignore_errors=True)


@contextlib.contextmanager
def delayed(base, delay_ms, rate_mb_s=100):
    """`base` (http://127.0.0.1:PORT/) behind a proxy whose link takes delay_ms each way."""
    port = int(base.rstrip("/").rsplit(":", 1)[1])
    proxy = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)), "delay_proxy.py"),
                              str(port), str(delay_ms), str(rate_mb_s)], stdout=subprocess.PIPE, text=True)
    try:
        listening = int(proxy.stdout.readline())
        yield f"http://127.0.0.1:{listening}/"
    finally:
        proxy.terminate()
        proxy.wait()


def usable():
    """None when nginx, fsspec and aiohttp are here, else why not."""
    if not os.path.exists(NGINX):
        return "no nginx"
    try:
        import fsspec  # noqa: F401
        import aiohttp  # noqa: F401  fsspec's HTTP file system needs it
    except ImportError as missing:
        return str(missing)
    return None
