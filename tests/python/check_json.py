# SPDX-License-Identifier: MIT
"""exifinfo -r --json and --csv over a folder: one valid JSON object and one CSV row per JPEG,
in name order, the same with -j 1 and -j 2, each with the report's values (fixed-point values
as the shortest decimal of the same single-precision number, which prints as the report's).
Usage: check_json.py EXIFINFO FOLDER"""
import csv
import io
import struct
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

runs = [subprocess.run([tool, "-r", "--json", "-j", jobs, folder], capture_output=True) for jobs in ("1", "2", "16")]
assert runs[0].returncode == 0, runs[0].stderr
for run in runs[1:]:
    assert runs[0].stdout == run.stdout, "-j 1 and -j N differ"
    assert runs[0].stderr == run.stderr, "-j 1 and -j N differ on standard error"
csv_run = subprocess.run([tool, "-r", "--csv", folder], capture_output=True)
assert csv_run.returncode == 0, csv_run.stderr
rows = list(csv.DictReader(io.StringIO(csv_run.stdout.decode("utf-8"), newline="")))
assert len(rows) == len(jpegs), (len(rows), len(jpegs))


def single(x):
    """The value as a single-precision number, as the library holds it."""
    return struct.unpack("f", struct.pack("f", x))[0]
lines = runs[0].stdout.decode("utf-8").splitlines()
assert len(lines) == len(jpegs), (len(lines), len(jpegs))
for line, row, path in zip(lines, rows, jpegs):
    obj = json.loads(line)
    assert obj["path"] == path == row["path"], (obj["path"], row["path"], path)
    assert list(row) == list(obj), "CSV columns are the JSON keys"
    text = subprocess.run([tool, "--crlf", path], capture_output=True).stdout.decode("utf-8")
    for key, value in tei.parse(text).items():
        got, cell = obj[key], row[key]
        if isinstance(value, float) and math.isinf(value):
            assert got is None and cell in ("inf", "-inf"), (path, key, got, cell)
        elif isinstance(value, float):
            # The shortest decimal names the very float the report rounds to six places.
            assert isinstance(got, (int, float)) and "%f" % single(got) == "%f" % value, (path, key, got, value)
            assert single(float(cell)) == single(got), (path, key, cell)
        else:
            assert got == value and type(got) is type(value), (path, key, got, value)
            assert cell == str(value), (path, key, cell, value)
    assert isinstance(obj["HasExif"], bool)
    assert obj["ThumbnailOffset"] is None or obj["ThumbnailLength"] > 0
    assert obj["ending"] in ("start_of_scan", "invalid_marker", "premature_end", "too_many_sections",
                             "end_of_image", "too_many_padding"), obj["ending"]
    assert obj["error"] is None and row["error"] == "" and row["ending"] == obj["ending"]
print(f"{len(lines)} JSON objects and CSV rows checked ({len(jpegs)} JPEGs)")
