#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""How far exifinfo's JSON agrees with exiftool -n -G, key by key, over the files given.

Usage: bench/agreement.py EXIFINFO FILE_OR_DIR...

A value counts where either side has it (exiftool: the tag; exifinfo: a value that is not null,
and not the report's "" or 0 for "absent"). Numbers agree within a relative 1e-4 (the report's
values are single precision), texts once trimmed, times once both are written YYYY-MM-DDTHH:MM:SS.
Prints one line a key (either side, agreeing, exifinfo only, exiftool only, disagreeing) and the
total; with --examples, a few disagreeing files a key.
"""
import json
import math
import os
import re
import subprocess
import sys

# exifinfo's key -> the exiftool tags that hold the same value, first found wins. A key whose
# name is exiftool's own needs no line: EXIF:KEY, then Composite:KEY, are tried.
PEER_TAGS = {
    "CameraMake": ["EXIF:Make"],
    "CameraModel": ["EXIF:Model"],
    "DateTime": ["EXIF:DateTimeOriginal"],
    "Version": ["EXIF:ExifVersion"],
    "ApertureFNumber": ["EXIF:FNumber"],
    "ISOequivalent": ["EXIF:ISO"],
    "Whitebalance": ["EXIF:WhiteBalance"],
    "ExposureBias": ["EXIF:ExposureCompensation"],
    "Distance": ["EXIF:SubjectDistance"],
    "Xresolution": ["EXIF:XResolution"],
    "Yresolution": ["EXIF:YResolution"],
    "Width": ["File:ImageWidth", "EXIF:ImageWidth"],
    "Height": ["File:ImageHeight", "EXIF:ImageHeight"],
    "CameraOwnerName": ["EXIF:OwnerName"],
    "BodySerialNumber": ["EXIF:SerialNumber"],
    "CaptureTime": ["Composite:SubSecDateTimeOriginal", "EXIF:DateTimeOriginal"],
    "GPSDateTime": ["Composite:GPSDateTime"],
    "GPSLatitude": ["Composite:GPSLatitude"],
    "GPSLongitude": ["Composite:GPSLongitude"],
    "GPSAltitude": ["Composite:GPSAltitude"],
    "LensMinFocalLength": ["EXIF:LensInfo#0"],
    "LensMaxFocalLength": ["EXIF:LensInfo#1"],
    "LensMinFNumber": ["EXIF:LensInfo#2"],
    "LensMaxFNumber": ["EXIF:LensInfo#3"],
}
# The read's own keys and the report's derived values: no peer has them.
OWN = {"path", "ending", "error", "container", "HasExif", "HasGPS", "ThumbnailOffset", "IsColor", "Process",
       "CCDWidth", "FlashUsed", "CompressionLevel", "FocalplaneUnits", "ResolutionUnit", "Comments",
       "FocalplaneXRes", "FocalplaneYRes", "Brightness"}
REPORT_ABSENT = ("", 0, 0.0)  # how the report's columns say "absent"
TIME = re.compile(r"^(\d{4}):(\d{2}):(\d{2})[ T]")


def peer_value(tags, key):
    for name in PEER_TAGS.get(key, [f"EXIF:{key}", f"Composite:{key}"]):
        name, _, part = name.partition("#")
        if name in tags:
            value = tags[name]
            if part:
                pieces = str(value).split()
                return float(pieces[int(part)]) if int(part) < len(pieces) else None
            return value
    return None


def normal(value):
    if isinstance(value, (int, float)) and not isinstance(value, bool):
        return float(value)
    text = str(value).strip().rstrip("\0").strip()
    try:
        return float(text)
    except ValueError:
        return TIME.sub(r"\1-\2-\3T", text)


def agree(ours, theirs):
    a, b = normal(ours), normal(theirs)
    if isinstance(a, float) and isinstance(b, float):
        return a == b or (math.isfinite(a) and math.isfinite(b) and abs(a - b) <= 1e-4 * max(abs(a), abs(b)))
    return str(a) == str(b)


def main(argv):
    examples = "--examples" in argv
    argv = [a for a in argv if a != "--examples"]
    tool, targets = argv[1], argv[2:]
    files = []
    for target in targets:
        if os.path.isdir(target):
            files += sorted(os.path.join(target, n) for n in os.listdir(target)
                            if os.path.isfile(os.path.join(target, n)) and not n.endswith((".md", "SHA256SUMS")))
        else:
            files.append(target)
    ours = {}
    for line in subprocess.run([tool, "--json", "-q", *files], capture_output=True, text=True).stdout.splitlines():
        record = json.loads(line)
        ours[record["path"]] = record
    peer = {r["SourceFile"]: r for r in json.loads(subprocess.run(
        ["exiftool", "-j", "-n", "-G", "-a", "-q", "-q", *files], capture_output=True, text=True).stdout or "[]")}
    order = list(next(iter(ours.values()))) if ours else []
    keys = [k for k in order if k not in OWN]
    # The report's 29 columns (after path) and ThumbnailLength give "" or 0 for "absent".
    report_keys = set(order[1:30]) | {"ThumbnailLength"}
    totals = [0, 0, 0, 0, 0]
    print(f"{'key':26} {'either':>6} {'agree':>6} {'ours':>6} {'theirs':>6} {'differ':>6}")
    for key in keys:
        counts, bad = [0, 0, 0, 0, 0], []
        for path in files:
            record = ours.get(path, {})
            mine = record.get(key)
            if key in report_keys and mine in REPORT_ABSENT:
                mine = None
            theirs = peer_value(peer.get(path, {}), key)
            if mine is None and theirs is None:
                continue
            counts[0] += 1
            if mine is not None and theirs is not None:
                if agree(mine, theirs):
                    counts[1] += 1
                else:
                    counts[4] += 1
                    bad.append((path, mine, theirs))
            else:
                counts[2 if mine is not None else 3] += 1
        totals = [t + c for t, c in zip(totals, counts)]
        print(f"{key:26} {counts[0]:6} {counts[1]:6} {counts[2]:6} {counts[3]:6} {counts[4]:6}")
        for path, mine, theirs in bad[:3] if examples else []:
            print(f"    {os.path.basename(path)}: {mine!r} against {theirs!r}")
    share = totals[1] / totals[0] if totals[0] else 1.0
    print(f"{'all':26} {totals[0]:6} {totals[1]:6} {totals[2]:6} {totals[3]:6} {totals[4]:6}  agreement {share:.1%}")


if __name__ == "__main__":
    main(sys.argv)
