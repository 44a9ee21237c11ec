"""TolvaneEXIFInfo from Python, through ctypes (no build step).

    import tolvane_exif_info as tei
    print(tei.report("photo.jpg"))          # the report text, CR LF line ends
    tei.fields("photo.jpg")["ISOequivalent"]  # 200: typed values under the report's keys

The library is the one named by the environment variable TOLVANE_EXIF_INFO_LIBRARY when it
is set, else libTOLVANEEXIFINFO.so.1 found by the system's loader.
"""
import ctypes
import os
import threading

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
    named = os.environ.get(LIBRARY_VARIABLE)
    target = named if named else SONAME
    how = f"{LIBRARY_VARIABLE}={named}" if named else f"{SONAME} through the system's loader"
    try:
        library = ctypes.CDLL(target)
    except OSError as error:
        hint = (f"check the path in {LIBRARY_VARIABLE}" if named else
                f"install the library where the loader finds it, or set {LIBRARY_VARIABLE} to its path")
        raise OSError(f"cannot load the TolvaneEXIFInfo library: tried {how}: {error}; {hint}") from None
    library.EXIFInfo.argtypes = [ctypes.c_wchar_p, ctypes.c_wchar_p]
    library.EXIFInfo.restype = ctypes.c_wchar_p
    _library = library
    return library


def report(path, output_path=""):
    """The report of the JPEG file at `path`; also written to `output_path` when not empty."""
    library = _load()
    with _lock:
        return library.EXIFInfo(os.fspath(path), os.fspath(output_path))


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
    """The report of the JPEG file at `path`, as a dict of typed values."""
    return parse(report(path))
