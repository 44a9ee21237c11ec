# SPDX-License-Identifier: MIT
"""TolvaneEXIFInfo from Python, through ctypes (no build step).

    import tolvane_exif_info as tei
    photo = tei.read("photo.jpg")             # a path, bytes in memory, or a binary file
    photo.ISO, photo.ExposureTime, photo.Make # 200, 0.004, 'Tolvane Optics': the file's own values
    photo.thumbnail, photo.ending             # b'\xff\xd8...' or None, Ending.START_OF_SCAN
    print(tei.report("photo.jpg"))            # the report text, CR LF line ends
    tei.fields("photo.jpg")["ISOequivalent"]  # 200: the report's values under its keys

read() uses libexifinfo (the reentrant C API): the library named by the environment variable
EXIFINFO_LIBRARY when it is set, else libexifinfo.so.1 through the system's loader. Reads run
in parallel from any number of threads: ctypes lets go of the interpreter lock during a call.
The module has three parts, fenced below: 1. report() and fields(), 2. read() and its
Photo, 3. record(), the objects exifinfo --json prints, and records() and write_records(), which
have the library make those lines for a whole batch on its own threads.

report() and fields() give the report of read(path): for a JPEG the very text EXIFInfo
returns, with nothing printed. report() with an output path calls EXIFInfo of
libTOLVANEEXIFINFO itself: the library named by TOLVANE_EXIF_INFO_LIBRARY when it is set, else
libTOLVANEEXIFINFO.so.1; that call takes a lock, since that library's report buffer is shared.
"""
from ._binding import _load_api
from .batch import read_many
from .legacy import fields, parse, report
from .lines import records, sidecar_paths, write_records
from .photo import _types
from .reading import read, read_bytes, read_file, read_path
from .record import record, shortest

__all__ = ["read", "read_path", "read_bytes", "read_file", "read_many", "records", "write_records", "sidecar_paths", "record",
           "shortest", "report", "parse", "fields", "Photo", "Ending", "Container"]


def __getattr__(name):
    if name == "Ending":
        return _types()[0]
    if name == "Photo":
        return _types()[1]
    if name == "Container":
        _types()
        from . import photo
        return photo._container
    if name == "__version__":
        return _load_api().version
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
