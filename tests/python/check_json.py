# SPDX-License-Identifier: MIT
"""exifinfo -r --json over a folder: one valid JSON object per JPEG, in name order, the same
with -j 1 and -j 2, each with the report's values. Usage: check_json.py EXIFINFO FOLDER"""
import json
import math
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "python"))
import tolvane_exif_info as tei  # noqa: E402  (its parse() only; no library is loaded)

tool, folder = sys.argv[1], sys.argv[2]
if not os.path.isdir(folder):
    print(f"no folder {folder}: skipped")
    sys.exit(0)


def walk(path):
    for name in sorted(os.listdir(path)):
        full = os.path.join(path, name)
        if os.path.isdir(full) and not os.path.islink(full):
            yield from walk(full)
        else:
            yield full


jpegs = []
for path in walk(folder):
    with open(path, "rb") as f:
        if f.read(2) == b"\xff\xd8":
            jpegs.append(path)

runs = [subprocess.run([tool, "-r", "--json", "-j", jobs, folder], capture_output=True) for jobs in ("1", "2")]
assert runs[0].returncode == 0, runs[0].stderr
assert runs[0].stdout == runs[1].stdout, "-j 1 and -j 2 differ"
assert runs[0].stderr == runs[1].stderr, "-j 1 and -j 2 differ on standard error"
lines = runs[0].stdout.decode("utf-8").splitlines()
assert len(lines) == len(jpegs), (len(lines), len(jpegs))
for line, path in zip(lines, jpegs):
    obj = json.loads(line)
    assert obj["path"] == path, (obj["path"], path)
    text = subprocess.run([tool, path], capture_output=True).stdout.decode("utf-8")
    for key, value in tei.parse(text).items():
        got = obj[key]
        if isinstance(value, float) and math.isinf(value):
            assert got is None, (path, key, got)
        else:
            assert got == value and type(got) is type(value), (path, key, got, value)
    assert isinstance(obj["HasExif"], bool)
    assert obj["ThumbnailOffset"] is None or obj["ThumbnailLength"] > 0
print(f"{len(lines)} JSON objects checked ({len(jpegs)} JPEGs)")
