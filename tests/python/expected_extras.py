# SPDX-License-Identifier: MIT
"""Writes tests/data/corpus_extras.json: the values beyond the report for every file of the shared
corpus, as an independent reader (exiftool -n, a peer) gives them, under this library's keys.
Run by hand when the corpus changes: expected_extras.py CORPUS_DIR > tests/data/corpus_extras.json
The suite itself never runs the peer; check_extras.py compares the tool with the file this writes."""
import json
import os
import subprocess
import sys

# Our key -> the peer's tags that hold the same value, first present wins.
TAGS = {
    "ModifyDate": ["IFD0:ModifyDate"], "CreateDate": ["ExifIFD:CreateDate", "IFD0:CreateDate"],
    "OffsetTime": ["ExifIFD:OffsetTime"], "OffsetTimeOriginal": ["ExifIFD:OffsetTimeOriginal"],
    "OffsetTimeDigitized": ["ExifIFD:OffsetTimeDigitized"], "SubSecTime": ["ExifIFD:SubSecTime"],
    "SubSecTimeOriginal": ["ExifIFD:SubSecTimeOriginal"], "SubSecTimeDigitized": ["ExifIFD:SubSecTimeDigitized"],
    "Software": ["IFD0:Software"], "Artist": ["IFD0:Artist"], "Copyright": ["IFD0:Copyright"],
    "ImageDescription": ["IFD0:ImageDescription"], "ImageUniqueID": ["ExifIFD:ImageUniqueID"],
    "CameraOwnerName": ["ExifIFD:OwnerName"], "BodySerialNumber": ["ExifIFD:SerialNumber"],
    "LensMake": ["ExifIFD:LensMake"], "LensModel": ["ExifIFD:LensModel"],
    "LensSerialNumber": ["ExifIFD:LensSerialNumber"],
    "ISO": ["ExifIFD:ISO", "IFD0:ISO"], "FocalLengthIn35mmFormat": ["ExifIFD:FocalLengthIn35mmFormat"],
    "ColorSpace": ["ExifIFD:ColorSpace"], "ExifImageWidth": ["ExifIFD:ExifImageWidth"],
    "ExifImageHeight": ["ExifIFD:ExifImageHeight"], "ExposureMode": ["ExifIFD:ExposureMode"],
    "SceneCaptureType": ["ExifIFD:SceneCaptureType"],
    "GPSLatitude": ["Composite:GPSLatitude"], "GPSLongitude": ["Composite:GPSLongitude"],
    "GPSAltitude": ["Composite:GPSAltitude"], "GPSImgDirection": ["GPS:GPSImgDirection"],
}
LENS = ["LensMinFocalLength", "LensMaxFocalLength", "LensMinFNumber", "LensMaxFNumber"]


def first(values, tags):
    for tag in tags:
        if tag in values:
            return values[tag]
    return None


def main(corpus):
    names = sorted(n for n in os.listdir(corpus) if n.endswith(".jpg"))
    out = subprocess.run(["exiftool", "-n", "-j", "-G1", "-a", "-IFD0:all", "-ExifIFD:all", "-GPS:all",
                          "-Composite:GPSLatitude", "-Composite:GPSLongitude", "-Composite:GPSAltitude",
                          "-Composite:GPSDateTime"] + names, cwd=corpus, capture_output=True, check=False).stdout
    expected = {}
    for values in json.loads(out):
        row = {key: first(values, tags) for key, tags in TAGS.items()}
        lens = str(values.get("ExifIFD:LensInfo", "")).split()
        for key, part in zip(LENS, lens + [None] * 4):
            row[key] = float(part) if part not in (None, "undef", "inf", "nan") else None
        stamp = values.get("Composite:GPSDateTime")
        row["GPSDateTime"] = (str(stamp)[:10].replace(":", "-") + "T" + str(stamp)[11:]) if stamp else None
        row["DateTimeOriginal"] = values.get("ExifIFD:DateTimeOriginal", values.get("IFD0:DateTimeOriginal"))
        expected[values["SourceFile"]] = row
    json.dump(expected, sys.stdout, indent=1, sort_keys=True)
    print()


if __name__ == "__main__":
    main(sys.argv[1])
