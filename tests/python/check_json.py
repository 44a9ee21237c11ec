# SPDX-License-Identifier: MIT
"""exifinfo -r --json and --csv over a folder: one valid JSON object and one CSV row per JPEG,
in name order, the same with -j 1 and -j 2, each the record: its keys in --list-fields order, and
where a record value and a report value come from the same bytes, one is a prefix of the other.
Usage: check_json.py EXIFINFO FOLDER"""
import csv
import io
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


keys = [line.split()[0] for line in subprocess.run([tool, "--list-fields"], capture_output=True,
                                                   text=True).stdout.splitlines()]
# Record key -> the report's key for the same tag, whose copy is cut at a fixed size.
SAME_BYTES = {"Make": "CameraMake", "Model": "CameraModel", "DateTimeOriginal": "DateTime"}
lines = runs[0].stdout.decode("utf-8").splitlines()
assert len(lines) == len(jpegs), (len(lines), len(jpegs))
for line, row, path in zip(lines, rows, jpegs):
    obj = json.loads(line)
    assert obj["path"] == path == row["path"], (obj["path"], row["path"], path)
    assert list(obj) == keys and list(row) == keys, "JSON and CSV carry the record's keys, in order"
    text = subprocess.run([tool, "--crlf", path], capture_output=True).stdout.decode("utf-8")
    report = tei.parse(text)
    for key, report_key in SAME_BYTES.items():
        ours, theirs = obj[key], report.get(report_key, "").rstrip()
        # The report's copy is cut at its size, or runs on past the tag's bytes where the tag has no NUL.
        prefix = (ours or "").startswith(theirs) or theirs.startswith(ours or "\0")
        assert prefix or ours is None and theirs == "", (path, key, ours, theirs)
        assert row[key] == ("" if ours is None else ours) or "," in ours or '"' in ours, (path, key, row[key])
    # The report stops at its 20th section or at stray bytes; the record reads on to the frame
    # (a frame the report did read stays the record's).
    if obj["ending"] in ("too_many_sections", "invalid_marker") and (report["Width"], report["Height"]) == (0, 0):
        assert obj["ImageWidth"] is None or obj["ImageWidth"] > 0 and obj["ImageHeight"] > 0, path
    elif obj["ImageWidth"] is not None:
        assert (obj["ImageWidth"], obj["ImageHeight"]) == (report["Width"], report["Height"]), path
    for key, value in obj.items():
        assert value is None or value != "" or key not in ("CaptureTime", "GPSDateTime"), (path, key)
        if isinstance(value, float):
            assert math.isfinite(value) and float(row[key]) == value, (path, key, value, row[key])
    assert isinstance(obj["HasExif"], bool) and isinstance(obj["HasGPS"], bool)
    assert obj["ThumbnailLength"] is None or type(obj["ThumbnailLength"]) is int and obj["ThumbnailLength"] >= 0  # as written
    assert obj["ending"] in ("start_of_scan", "invalid_marker", "premature_end", "too_many_sections",
                             "end_of_image", "too_many_padding"), obj["ending"]
    assert obj["error"] is None and row["error"] == "" and row["ending"] == obj["ending"]
print(f"{len(lines)} JSON objects and CSV rows checked ({len(jpegs)} JPEGs)")
