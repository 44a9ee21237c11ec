# SPDX-License-Identifier: MIT
"""report(), parse() and fields(): the report text, and EXIFInfo of libTOLVANEEXIFINFO."""
import os
import threading
import ctypes

from ._loader import _open_library
from .reading import read_bytes, read_path

LIBRARY_VARIABLE = "TOLVANE_EXIF_INFO_LIBRARY"
SONAME = "libTOLVANEEXIFINFO.so.1"

TEXT_KEYS = (("Version", "Version: "), ("CameraMake", "Camera Make: "), ("CameraModel", "CameraModel: "),
             ("DateTime", "DateTime: "), ("Comments", "Comments: "))
INT_KEYS = ("Height", "Width", "Orientation", "IsColor", "Process", "FlashUsed", "Whitebalance", "MeteringMode",
            "ExposureProgram", "ISOequivalent", "CompressionLevel")
DATA_KEYS = ("Height", "Width", "Orientation", "IsColor", "Process", "FlashUsed", "FocalLength", "ExposureTime",
             "ApertureFNumber", "Distance", "CCDWidth", "ExposureBias", "Whitebalance", "MeteringMode",
             "ExposureProgram", "ISOequivalent", "CompressionLevel", "FocalplaneXRes", "FocalplaneYRes",
             "FocalplaneUnits", "Xresolution", "Yresolution", "ResolutionUnit", "Brightness")

_lock = threading.Lock()  # the library's report buffer is shared: calls must not overlap
_library = None


def _load():
    global _library
    if _library is not None:
        return _library
    library = _open_library(LIBRARY_VARIABLE, SONAME)
    library.EXIFInfo.argtypes = [ctypes.c_wchar_p, ctypes.c_wchar_p]
    library.EXIFInfo.restype = ctypes.c_wchar_p
    _library = library
    return library


def report(path, output_path=""):
    """The report of the photo at `path`; the report of defaults when it cannot be read.

    Without `output_path` it comes from libexifinfo (read(path).report), so nothing is printed
    and any container is read; for a JPEG it is the very text EXIFInfo returns. With
    `output_path`, EXIFInfo itself is called (a JPEG reader) and also writes the report there.
    """
    target = os.fspath(output_path)
    if target:
        library = _load()
        with _lock:
            return library.EXIFInfo(os.fspath(path), target)
    try:
        return read_path(path).report
    except OSError:
        return read_bytes(b"").report  # what EXIFInfo returns for a file it cannot read


def parse(text):
    """The report text's values under its keys: texts as str, integers as int, others as float."""
    values = {}
    data_at = text.rfind("\r\nData:\r\n")
    if data_at < 0:
        raise ValueError("not a report: no Data: line")
    head = text[:data_at + 2]
    at = 0
    for i, (key, label) in enumerate(TEXT_KEYS):
        if not head.startswith(label, at):
            raise ValueError(f"not a report: expected {label!r}")
        at += len(label)
        # A text may hold line ends itself: it runs up to the next label (or the Data: line).
        end = head.find("\r\n" + TEXT_KEYS[i + 1][1], at) if i + 1 < len(TEXT_KEYS) else len(head) - 2
        values[key] = head[at:end]
        at = end + 2
    lines = text[data_at + len("\r\nData:\r\n"):].split("\r\n")
    if lines[-1] != "" or len(lines) != len(DATA_KEYS) + 1:
        raise ValueError("not a report: wrong number of data lines")
    for key, line in zip(DATA_KEYS, lines):
        name, _, value = line.partition("=")
        if name != key:
            raise ValueError(f"not a report: expected {key}, found {name}")
        values[key] = int(value) if key in INT_KEYS else float(value)
    return values


def fields(path):
    """The report's values of the photo at `path`, as a dict of typed values. A path that cannot
    be opened raises the matching OSError, as read() does."""
    return parse(read_path(path).report)

