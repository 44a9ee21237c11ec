# SPDX-License-Identifier: MIT
"""Writes tests/data/corpus_extras.json: the values beyond the report for every file of the shared
corpus, as an independent reader (exiftool -n, a peer) gives them, under this library's keys.
Run by hand when the corpus changes: expected_extras.py CORPUS_DIR > tests/data/corpus_extras.json
With --containers, for the photos in other containers (every file of the folder), also the
container, the frame size, the thumbnail's length and the report's camera values:
expected_extras.py --containers CONTAINERS_DIR > tests/data/containers_expected.json
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
# The report's values the peer gives under a tag of its own (the report's rescaled ISO and derived
# values are left out), and the frame's size by container.
REPORT_TAGS = {
    "CameraMake": ["IFD0:Make"], "CameraModel": ["IFD0:Model"], "Orientation": ["IFD0:Orientation"],
    "ExposureTime": ["ExifIFD:ExposureTime"], "ApertureFNumber": ["ExifIFD:FNumber"],
    "FocalLength": ["ExifIFD:FocalLength"], "ExposureBias": ["ExifIFD:ExposureCompensation"],
    "MeteringMode": ["ExifIFD:MeteringMode"], "ExposureProgram": ["ExifIFD:ExposureProgram"],
    "Whitebalance": ["ExifIFD:LightSource"], "Xresolution": ["IFD0:XResolution"],
    "Yresolution": ["IFD0:YResolution"], "ThumbnailLength": ["IFD1:ThumbnailLength"],
    "Width": ["QuickTime:ImageSpatialExtent", "PNG:ImageWidth", "RIFF:ImageWidth", "IFD0:ImageWidth"],
    "Height": ["QuickTime:ImageSpatialExtent", "PNG:ImageHeight", "RIFF:ImageHeight", "IFD0:ImageHeight"],
}
# The peer's file type -> our container.
CONTAINERS = {"HEIC": "heif", "AVIF": "avif", "PNG": "png", "WEBP": "webp", "Extended WEBP": "webp",
              "TIFF": "tiff", "BTF": "tiff", "DNG": "tiff", "NEF": "tiff", "CR2": "tiff", "RW2": "tiff",
              "CR3": "cr3", "RAF": "raf"}


def first(values, tags):
    for tag in tags:
        if tag in values:
            return values[tag]
    return None


def main(corpus, containers=False):
    if containers:
        names = sorted(n for n in os.listdir(corpus) if n not in ("README.md", "SHA256SUMS"))
        more = ["-IFD1:ThumbnailLength", "-File:FileType", "-QuickTime:ImageSpatialExtent", "-PNG:ImageWidth",
                "-PNG:ImageHeight", "-RIFF:ImageWidth", "-RIFF:ImageHeight"]
    else:
        names = sorted(n for n in os.listdir(corpus) if n.endswith(".jpg"))
        more = []
    out = subprocess.run(["exiftool", "-n", "-j", "-G1", "-a", "-IFD0:all", "-ExifIFD:all", "-GPS:all",
                          "-Composite:GPSLatitude", "-Composite:GPSLongitude", "-Composite:GPSAltitude",
                          "-Composite:GPSDateTime"] + more + names, cwd=corpus, capture_output=True,
                         check=False).stdout
    expected = {}
    for values in json.loads(out):
        row = {key: first(values, tags) for key, tags in TAGS.items()}
        lens = str(values.get("ExifIFD:LensInfo", "")).split()
        for key, part in zip(LENS, lens + [None] * 4):
            row[key] = float(part) if part not in (None, "undef", "inf", "nan") else None
        stamp = values.get("Composite:GPSDateTime")
        row["GPSDateTime"] = (str(stamp)[:10].replace(":", "-") + "T" + str(stamp)[11:]) if stamp else None
        row["DateTimeOriginal"] = values.get("ExifIFD:DateTimeOriginal", values.get("IFD0:DateTimeOriginal"))
        if containers:
            for key, tags in REPORT_TAGS.items():
                row[key] = first(values, tags)
            for key, part in (("Width", 0), ("Height", 1)):
                if isinstance(row[key], str):  # ispe's "width height"
                    row[key] = int(row[key].split()[part])
            row["ThumbnailLength"] = row["ThumbnailLength"] or 0
            row["container"] = CONTAINERS.get(values.get("File:FileType"), values.get("File:FileType"))
        expected[values["SourceFile"]] = row
    json.dump(expected, sys.stdout, indent=1, sort_keys=True)
    print()


if __name__ == "__main__":
    if sys.argv[1] == "--containers":
        main(sys.argv[2], containers=True)
    else:
        main(sys.argv[1])
