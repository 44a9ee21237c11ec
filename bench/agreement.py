#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""How far exifinfo's JSON agrees with exiftool -n -G, key by key, over the files given.

Usage: bench/agreement.py EXIFINFO FILE_OR_DIR... [--examples] [--peer FILE | --write-peer FILE]
                          [--least TOTAL,PER_KEY]

--write-peer keeps exiftool's values (the tags the comparison reads) in FILE, by file name;
--peer compares against such a FILE instead of running exiftool, so a test needs no peer.
--least fails (exit 1) when the agreement is below TOTAL percent, or below PER_KEY percent for a
key with ten or more values, or when HasExif is missing from more than (100 - TOTAL) percent of
the files in which the peer finds EXIF.

A value counts where either side has it (exiftool: the tag; exifinfo: a value that is not null). Numbers agree within a relative 1e-4 (the report's
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
# name is exiftool's own needs no line: EXIF:KEY, then Composite:KEY, are tried; a video's keys
# read QuickTime:KEY after them.
PEER_TAGS = {
    "ImageWidth": ["Composite:ImageSize#0"],
    "ImageHeight": ["Composite:ImageSize#1"],
    "Comment": ["File:Comment"],
    # A video's: the phone's own time with its zone, else the movie header's (UTC).
    "CaptureTime": ["Composite:SubSecDateTimeOriginal", "EXIF:DateTimeOriginal", "QuickTime:CreationDate",
                    "XMP:DateTimeOriginal", "XMP:DateCreated", "XMP:CreateDate", "Composite:DateTimeCreated",
                    "IPTC:DateCreated", "QuickTime:CreateDate"],
    "GPSDateTime": ["Composite:GPSDateTime"],
    "GPSLatitude": ["Composite:GPSLatitude", "XMP:GPSLatitude"],
    "GPSLongitude": ["Composite:GPSLongitude", "XMP:GPSLongitude"],
    "GPSAltitude": ["Composite:GPSAltitude"],
    # XMP and IPTC: a key named as exiftool names it reads XMP:KEY; these read elsewhere.
    "City": ["XMP:City", "IPTC:City"],
    "DateCreated": ["XMP:DateCreated", "Composite:DateTimeCreated", "IPTC:DateCreated"],
    "Keywords": ["IPTC:Keywords"],
    "ObjectName": ["IPTC:ObjectName"],
    "Caption": ["IPTC:Caption-Abstract"],
    "ByLine": ["IPTC:By-line"],
}
META_KEYS = {"Rating", "Label", "Subject", "HierarchicalSubject", "Title", "Description", "Creator", "Rights",
             "State", "Country", "RegionName"}
# The keys a video's QuickTime tags give.
VIDEO_KEYS = {"Make", "Model", "Software", "CreateDate", "ModifyDate", "Duration"}
# The read's own keys: no peer has them.
OWN = {"path", "ending", "error", "container", "HasExif", "HasGPS", "CaptureTimeSource", "warning"}
TIME = re.compile(r"^(\d{4}):(\d{2}):(\d{2})([ T]|$)")
UTC = re.compile(r"^\d{4}[-:]\d{2}[-:]\d{2}[ T]\d{2}:\d{2}:\d{2}(\.\d+)?Z$")
ZERO_TIME = "0000:00:00 00:00:00"  # exiftool's writing of a movie header's 0: no time


def default_tags(key):
    if key in META_KEYS:
        return [f"XMP:{key}"]
    return [f"EXIF:{key}", f"Composite:{key}"] + ([f"QuickTime:{key}"] if key in VIDEO_KEYS else [])


def peer_value(tags, key):
    for name in PEER_TAGS.get(key, default_tags(key)):
        name, _, part = name.partition("#")
        if name in tags:
            value = tags[name]
            if value == ZERO_TIME and name.startswith("QuickTime:"):
                return None
            if part:
                pieces = str(value).split()
                return float(pieces[int(part)]) if int(part) < len(pieces) else None
            return value
    return None


def normal(value):
    if isinstance(value, list):  # exiftool writes a list of one item as the item
        return tuple(str(normal(v)) for v in value)
    if isinstance(value, (int, float)) and not isinstance(value, bool):
        return float(value)
    text = str(value).strip().rstrip("\0").strip()
    if UTC.match(text):
        text = text[:-1]  # a movie header's UTC time, which exiftool writes with no zone
    try:
        return float(text)
    except ValueError:
        return TIME.sub(lambda m: f"{m[1]}-{m[2]}-{m[3]}" + ("T" if m[4] else ""), text)


def agree(ours, theirs):
    if isinstance(ours, list) and not isinstance(theirs, list):
        theirs = [theirs]
    a, b = normal(ours), normal(theirs)
    if isinstance(a, float) and isinstance(b, float):
        return a == b or (math.isfinite(a) and math.isfinite(b) and abs(a - b) <= 1e-4 * max(abs(a), abs(b)))
    return str(a) == str(b)


def option(argv, name):
    if name not in argv:
        return None
    at = argv.index(name)
    value = argv[at + 1]
    del argv[at:at + 2]
    return value


def peer_tags(tags):
    """The tags the comparison reads: EXIF, Composite, QuickTime, XMP and IPTC values, and the JPEG comment."""
    return {k: v for k, v in tags.items()
            if k.startswith(("EXIF:", "Composite:", "QuickTime:", "XMP:", "IPTC:")) or k == "File:Comment"}


def main(argv):
    examples = "--examples" in argv
    argv = [a for a in argv if a != "--examples"]
    stored, write, least = option(argv, "--peer"), option(argv, "--write-peer"), option(argv, "--least")
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
    if stored:
        by_name = json.load(open(stored, encoding="utf-8"))
        peer = {p: by_name.get(os.path.basename(p), {}) for p in files}
    else:
        peer = {r["SourceFile"]: peer_tags(r) for r in json.loads(subprocess.run(
            ["exiftool", "-j", "-n", "-G", "-q", "-q", *files], capture_output=True, text=True).stdout or "[]")}
    order = list(next(iter(ours.values()))) if ours else []
    keys = [k for k in order if k not in OWN]
    if write:
        read = {n.partition("#")[0] for k in keys for n in PEER_TAGS.get(k, default_tags(k))}
        with open(write, "w", encoding="utf-8") as out:
            json.dump({os.path.basename(p): {t: v for t, v in peer.get(p, {}).items()
                                             if t in read or t == "EXIF:ExifByteOrder"}
                       for p in files}, out, indent=0, sort_keys=True, ensure_ascii=False)
            out.write("\n")
    totals, weak = [0, 0, 0, 0, 0], []
    print(f"{'key':26} {'either':>6} {'agree':>6} {'ours':>6} {'theirs':>6} {'differ':>6}")
    for key in keys:
        counts, bad = [0, 0, 0, 0, 0], []
        for path in files:
            record = ours.get(path, {})
            mine = record.get(key)
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
                bad.append((path, mine, theirs))
        totals = [t + c for t, c in zip(totals, counts)]
        if least and counts[0] >= 10 and counts[1] < float(least.split(",")[1]) / 100 * counts[0]:
            weak.append(key)
        print(f"{key:26} {counts[0]:6} {counts[1]:6} {counts[2]:6} {counts[3]:6} {counts[4]:6}")
        for path, mine, theirs in bad[:int(os.environ.get("EXAMPLES", "3"))] if examples else []:
            print(f"    {os.path.basename(path)}: {mine!r} against {theirs!r}")
    share = totals[1] / totals[0] if totals[0] else 1.0
    print(f"{'all':26} {totals[0]:6} {totals[1]:6} {totals[2]:6} {totals[3]:6} {totals[4]:6}  agreement {share:.1%}")
    with_exif = [p for p in files if any(k.startswith("EXIF:") for k in peer.get(p, {}))]
    found = [p for p in with_exif if ours.get(p, {}).get("HasExif")]
    print(f"HasExif: {len(found)} of the {len(with_exif)} files in which exiftool finds EXIF")
    for path in sorted(set(with_exif) - set(found)) if examples else []:
        print(f"    no EXIF: {os.path.basename(path)}")
    if least:
        total = float(least.split(",")[0]) / 100
        if share < total or len(found) < total * len(with_exif) or weak:
            print(f"below {least}: agreement {share:.1%}, keys {weak}")
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
