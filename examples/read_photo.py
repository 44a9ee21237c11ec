# SPDX-License-Identifier: MIT
"""Prints a few typed values of each JPEG named, from several threads at once."""
import sys
from concurrent.futures import ThreadPoolExecutor

import tolvane_exif_info as tei  # PYTHONPATH=python; finds libexifinfo.so.1 or $EXIFINFO_LIBRARY

with ThreadPoolExecutor(max_workers=4) as pool:  # reads run in parallel: no lock
    for path, photo in zip(sys.argv[1:], pool.map(tei.read, sys.argv[1:])):
        thumbnail = len(photo.thumbnail) if photo.thumbnail else 0
        print(f"{path}: {photo.Make} {photo.ImageWidth}x{photo.ImageHeight} ISO {photo.ISO} "
              f"{photo.ExposureTime} s, thumbnail {thumbnail} bytes, {photo.ending.value}")
