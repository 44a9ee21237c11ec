# SPDX-License-Identifier: MIT
"""examples/dask_index.py on a 2-worker LocalCluster gives exifinfo -r --json's objects, line for
line. Usage: check_dask.py EXIFINFO FOLDER (run with Debian's python3; exits 77 without Dask)."""
import json
import os
import subprocess
import sys
import tempfile

try:
    import dask  # noqa: F401
    import distributed  # noqa: F401
except ImportError:
    print("python3-dask and python3-distributed are not installed: skipped")
    sys.exit(77)

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "examples"))
import dask_index  # noqa: E402



def main():
    tool, folder = sys.argv[1], sys.argv[2]
    if not os.path.isdir(folder):
        print(f"no folder {folder}: skipped")
        sys.exit(77)
    expected = subprocess.run([tool, "-r", "--json", folder], capture_output=True, check=True).stdout.decode().splitlines()
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "index.jsonl")
        # Small partitions here, so that the 2 workers each get several tasks.
        count = dask_index.run(folder, out, partition_size=8, workers=2)
        with open(out, encoding="utf-8") as f:
            got = f.read().splitlines()
    assert count == len(expected) == len(got), (count, len(expected), len(got))
    for line, want in zip(got, expected):
        assert json.loads(line) == json.loads(want), (line, want)
    print(f"{count} objects from Dask equal exifinfo -r --json's")


if __name__ == "__main__":  # the workers are processes that import this file
    main()
