# SPDX-License-Identifier: MIT
"""libexifinfo's result as ctypes sees it, and the library's functions declared once."""
import ctypes
import operator
import os
import struct
import sys
import threading

from ._loader import _open_library

API_LIBRARY_VARIABLE = "EXIFINFO_LIBRARY"
API_SONAME = "libexifinfo.so.1"

_TEXT, _INT32, _FLOAT, _DOUBLE = 0, 1, 2, 3
_FLAG, _ENDING, _CONTAINER, _CALLER, _LIST = 4, 5, 6, 7, 8  # the record table's own types
_CTYPES = {_TEXT: ctypes.c_char_p, _INT32: ctypes.c_int32, _FLOAT: ctypes.c_float, _DOUBLE: ctypes.c_double}
_REPORT_FIELDS = 29  # the field table's first entries are the report's values


class _FileValues(ctypes.Structure):
    """exifinfo_file_values: its members are read by the record table's offsets, not by name."""
    _fields_ = [(n, ctypes.c_char_p) for n in ("Make", "Model", "DateTimeOriginal", "UserComment", "Comment",
                                              "LensInfo")] + \
               [(n, ctypes.c_int32) for n in ("ExposureProgram", "MeteringMode", "LightSource", "Flash",
                                             "WhiteBalance", "Orientation", "ResolutionUnit", "ImageWidth",
                                             "ImageHeight", "ThumbnailLength", "HasExif")] + \
               [(n, ctypes.c_double) for n in ("ExposureTime", "FNumber", "ExposureCompensation", "FocalLength",
                                              "MaxApertureValue", "SubjectDistance", "DigitalZoomRatio",
                                              "XResolution", "YResolution")]


class _PhotoStruct(ctypes.Structure):
    """exifinfo_photo as exifinfo.h declares it, member for member; members are only ever added
    at its end. The 29 report values are checked against the library's field table at import."""
    _fields_ = [
        ("size", ctypes.c_size_t),
        ("Version", ctypes.c_char_p), ("CameraMake", ctypes.c_char_p), ("CameraModel", ctypes.c_char_p),
        ("DateTime", ctypes.c_char_p), ("Comments", ctypes.c_char_p),
        ("Height", ctypes.c_int32), ("Width", ctypes.c_int32), ("Orientation", ctypes.c_int32),
        ("IsColor", ctypes.c_int32), ("Process", ctypes.c_int32), ("FlashUsed", ctypes.c_int32),
        ("FocalLength", ctypes.c_float), ("ExposureTime", ctypes.c_float), ("ApertureFNumber", ctypes.c_float),
        ("Distance", ctypes.c_float), ("CCDWidth", ctypes.c_float), ("ExposureBias", ctypes.c_float),
        ("Whitebalance", ctypes.c_int32), ("MeteringMode", ctypes.c_int32), ("ExposureProgram", ctypes.c_int32),
        ("ISOequivalent", ctypes.c_int32), ("CompressionLevel", ctypes.c_int32),
        ("FocalplaneXRes", ctypes.c_float), ("FocalplaneYRes", ctypes.c_float), ("FocalplaneUnits", ctypes.c_float),
        ("Xresolution", ctypes.c_float), ("Yresolution", ctypes.c_float), ("ResolutionUnit", ctypes.c_float),
        ("Brightness", ctypes.c_float),
        ("HasExif", ctypes.c_int32), ("ending", ctypes.c_int32), ("read_errno", ctypes.c_int32),
        ("thumbnail_offset", ctypes.c_uint32), ("last_error", ctypes.c_void_p), ("thumbnail", ctypes.c_void_p),
        ("thumbnail_size", ctypes.c_size_t), ("report", ctypes.c_void_p), ("report_length", ctypes.c_size_t),
        ("report_wide", ctypes.c_void_p), ("report_wide_length", ctypes.c_size_t),
        # Since 1.1.
        ("ModifyDate", ctypes.c_char_p), ("CreateDate", ctypes.c_char_p), ("OffsetTime", ctypes.c_char_p),
        ("OffsetTimeOriginal", ctypes.c_char_p), ("OffsetTimeDigitized", ctypes.c_char_p),
        ("SubSecTime", ctypes.c_char_p), ("SubSecTimeOriginal", ctypes.c_char_p),
        ("SubSecTimeDigitized", ctypes.c_char_p), ("Software", ctypes.c_char_p), ("Artist", ctypes.c_char_p),
        ("Copyright", ctypes.c_char_p), ("ImageDescription", ctypes.c_char_p), ("ImageUniqueID", ctypes.c_char_p),
        ("CameraOwnerName", ctypes.c_char_p), ("BodySerialNumber", ctypes.c_char_p), ("LensMake", ctypes.c_char_p),
        ("LensModel", ctypes.c_char_p), ("LensSerialNumber", ctypes.c_char_p), ("CaptureTime", ctypes.c_char_p),
        ("GPSDateTime", ctypes.c_char_p),
        ("ISO", ctypes.c_int32), ("FocalLengthIn35mmFormat", ctypes.c_int32), ("ColorSpace", ctypes.c_int32),
        ("ExifImageWidth", ctypes.c_int32), ("ExifImageHeight", ctypes.c_int32), ("ExposureMode", ctypes.c_int32),
        ("SceneCaptureType", ctypes.c_int32), ("HasGPS", ctypes.c_int32),
        ("GPSLatitude", ctypes.c_double), ("GPSLongitude", ctypes.c_double), ("GPSAltitude", ctypes.c_double),
        ("GPSImgDirection", ctypes.c_double), ("LensMinFocalLength", ctypes.c_double),
        ("LensMaxFocalLength", ctypes.c_double), ("LensMinFNumber", ctypes.c_double),
        ("LensMaxFNumber", ctypes.c_double),
        ("container", ctypes.c_int32),
        ("requests", ctypes.c_uint64), ("bytes_read", ctypes.c_uint64),
        ("next_offset", ctypes.c_uint64), ("next_length", ctypes.c_uint64),
        # Since 1.5: the file's own values (read through the record table) and which keys have one.
        ("file", _FileValues), ("record_present", ctypes.c_uint64 * 2),
        # Since 1.7: where CaptureTime came from; a video's length and rotation.
        ("CaptureTimeSource", ctypes.c_char_p), ("Duration", ctypes.c_double), ("Rotation", ctypes.c_int32),
        # Since 1.8: what the read passed over; XMP and IPTC (lists are null-terminated arrays).
        ("warning", ctypes.c_char_p), ("Rating", ctypes.c_double), ("Label", ctypes.c_char_p),
        ("Subject", ctypes.c_void_p), ("HierarchicalSubject", ctypes.c_void_p), ("Title", ctypes.c_char_p),
        ("Description", ctypes.c_char_p), ("Creator", ctypes.c_void_p), ("Rights", ctypes.c_char_p),
        ("City", ctypes.c_char_p), ("State", ctypes.c_char_p), ("Country", ctypes.c_char_p),
        ("RegionName", ctypes.c_void_p), ("DateCreated", ctypes.c_char_p), ("Keywords", ctypes.c_void_p),
        ("ObjectName", ctypes.c_char_p), ("Caption", ctypes.c_char_p), ("ByLine", ctypes.c_void_p),
        ("sidecar", ctypes.c_char_p),
    ]


def _struct_code(ctype):
    """The struct-module code of a member, for the one unpack of a whole result."""
    if ctype in (ctypes.c_char_p, ctypes.c_void_p, ctypes.c_size_t):
        return "Q" if ctypes.sizeof(ctype) == 8 else "I"
    return {ctypes.c_int32: "i", ctypes.c_uint32: "I", ctypes.c_float: "f", ctypes.c_double: "d",
            ctypes.c_uint64: "Q"}[ctype]


# exifinfo_read_source's callback and source, and exifinfo_read_many's input (exifinfo.h).
def _unpacker(placed):
    """One unpack of a result's bytes giving the members at (offset, struct code), in order."""
    layout, at = "=", 0
    for offset, code in placed:
        layout += "x" * (offset - at) + code
        at = offset + struct.calcsize("=" + code)
    return struct.Struct(layout).unpack_from


_READ_AT = ctypes.CFUNCTYPE(ctypes.c_int64, ctypes.c_void_p, ctypes.c_uint64, ctypes.c_void_p, ctypes.c_size_t,
                            ctypes.POINTER(ctypes.c_int))


class _Source(ctypes.Structure):
    _fields_ = [("read_at", _READ_AT), ("context", ctypes.c_void_p), ("size", ctypes.c_uint64)]


class _Input(ctypes.Structure):
    _fields_ = [("path", ctypes.c_char_p), ("data", ctypes.c_void_p), ("size", ctypes.c_size_t), ("fd", ctypes.c_int)]


class _RecordsOptions(ctypes.Structure):
    _fields_ = [("size", ctypes.c_size_t), ("keys", ctypes.c_void_p), ("key_count", ctypes.c_size_t),
                ("threads", ctypes.c_int), ("skip_unknown", ctypes.c_int), ("names", ctypes.c_void_p),
                ("sidecars", ctypes.c_void_p)]  # since 1.8


class _Api:
    """libexifinfo, with its result read by member name from _PhotoStruct."""

    def __init__(self):
        lib = _open_library(API_LIBRARY_VARIABLE, API_SONAME)
        self._declare(lib)
        self.lib = lib
        self.read_path = lib.exifinfo_read_path
        self.version = lib.exifinfo_version().decode()
        self._check_size(lib)
        self._read_field_table(lib)
        self._lay_out()
        self._read_record_table(lib)
        self.endings = []
        while (name := lib.exifinfo_ending_name(len(self.endings))) is not None:
            self.endings.append(name.decode())
        self.containers = []
        while (name := lib.exifinfo_container_name(len(self.containers))) is not None:
            self.containers.append(name.decode())

    def _declare(self, lib):
        """The functions' argument and result types, declared once."""
        photo_pp = ctypes.POINTER(ctypes.c_void_p)
        for name, args in (("exifinfo_read_path", [ctypes.c_char_p, photo_pp]),
                           ("exifinfo_read_fd", [ctypes.c_int, photo_pp]),
                           ("exifinfo_read_memory", [ctypes.c_void_p, ctypes.c_size_t, photo_pp])):
            getattr(lib, name).argtypes = args
            getattr(lib, name).restype = ctypes.c_int
        lib.exifinfo_read_ranges.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_uint64, photo_pp]
        lib.exifinfo_read_ranges.restype = ctypes.c_int
        lib.exifinfo_read_source.argtypes = [ctypes.POINTER(_Source), photo_pp]
        lib.exifinfo_read_source.restype = ctypes.c_int
        # Addresses into arrays of _Input, result pointers and ints: a batch is read a chunk at a time.
        lib.exifinfo_read_many.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int, ctypes.c_void_p,
                                           ctypes.c_void_p]
        lib.exifinfo_read_many.restype = None
        # Freeing is quick: called with the interpreter lock held, so that a read hands the lock
        # over once (for the read itself), not twice, and threads contend for it less.
        self.free = ctypes.PyDLL(lib._name).exifinfo_free
        self.free.argtypes = [ctypes.c_void_p]
        self.free.restype = None
        lib.exifinfo_field_name.restype = ctypes.c_char_p
        lib.exifinfo_field_name.argtypes = [ctypes.c_size_t]
        lib.exifinfo_field_type.argtypes = [ctypes.c_size_t]
        lib.exifinfo_field_offset.restype = ctypes.c_size_t
        lib.exifinfo_field_offset.argtypes = [ctypes.c_size_t]
        lib.exifinfo_record_key.restype = ctypes.c_char_p
        lib.exifinfo_record_key.argtypes = [ctypes.c_size_t]
        lib.exifinfo_record_type.argtypes = [ctypes.c_size_t]
        lib.exifinfo_record_offset.restype = ctypes.c_size_t
        lib.exifinfo_record_offset.argtypes = [ctypes.c_size_t]
        # Since 1.8: a photo's result with its sidecar applied (an older library lacks it).
        if hasattr(lib, "exifinfo_apply_sidecar"):
            lib.exifinfo_apply_sidecar.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
            lib.exifinfo_apply_sidecar.restype = ctypes.c_int
        # Since 1.6: the record's lines, made by the library (an older one lacks them: records()
        # says so when called).
        if hasattr(lib, "exifinfo_records_json"):
            lib.exifinfo_records_json.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_void_p, ctypes.c_int,
                                                  ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(ctypes.c_size_t),
                                                  ctypes.POINTER(ctypes.c_size_t)]
            lib.exifinfo_records_json.restype = ctypes.c_int
            lib.exifinfo_record_json.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_void_p,
                                                 ctypes.c_size_t, ctypes.c_char_p, ctypes.c_size_t]
            lib.exifinfo_record_json.restype = ctypes.c_size_t
            lib.exifinfo_failure_text.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t]
            lib.exifinfo_failure_text.restype = ctypes.c_size_t
            lib.exifinfo_free_text.argtypes = [ctypes.c_void_p]
            lib.exifinfo_free_text.restype = None
        lib.exifinfo_ending_name.restype = ctypes.c_char_p
        lib.exifinfo_container_name.restype = ctypes.c_char_p
        lib.exifinfo_version.restype = ctypes.c_char_p

    def _check_size(self, lib):
        # The header's growth rule: a result's `size` says which members it has. One that lacks
        # a member this module reads is an older library, refused here rather than misread.
        pointer = ctypes.c_void_p()
        status = lib.exifinfo_read_memory(b"", 0, ctypes.byref(pointer))
        if status != 0:
            raise OSError(status, os.strerror(status), "libexifinfo")
        library_size = ctypes.c_size_t.from_address(pointer.value).value
        self.free(pointer.value)
        self.size = ctypes.sizeof(_PhotoStruct)
        if library_size < self.size:
            raise ImportError(f"libexifinfo {self.version} is older than this module: its results have "
                              f"{library_size} bytes, this module reads {self.size}; install a newer library")

    def _read_field_table(self, lib):
        """The report's values: the library's field table, whose every entry must be the member
        of the same name, type and place here."""
        table = [(lib.exifinfo_field_name(i).decode(), lib.exifinfo_field_type(i), lib.exifinfo_field_offset(i))
                 for i in range(lib.exifinfo_field_count())]
        for name, kind, offset in table:
            member = getattr(_PhotoStruct, name, None)
            declared = dict(_PhotoStruct._fields_).get(name)
            if member is None or member.offset != offset or declared is not _CTYPES.get(kind):
                raise ImportError(f"libexifinfo's field {name} (type {kind}, offset {offset}) is not this "
                                  f"module's member of that name")
        self.names = tuple(name for name, _, _ in table)

    def _read_record_table(self, lib):
        """The record's keys, and one unpack of a result's bytes that gives each key's raw value
        (the members lie in any order; the unpack takes them by offset). A Photo carries every
        key but the caller's own (path, error), in the record's order."""
        table = [(lib.exifinfo_record_key(i).decode(), lib.exifinfo_record_type(i), lib.exifinfo_record_offset(i))
                 for i in range(lib.exifinfo_record_count())]
        self.record_keys = tuple(key for key, _, _ in table)
        self.record_kinds = tuple(kind for _, kind, _ in table)
        self.photo_keys = tuple(key for key, kind, _ in table if kind != _CALLER)
        place = {key: k for k, key in enumerate(self.photo_keys)}
        stored = sorted((offset, k) for k, (_, kind, offset) in enumerate(table) if kind != _CALLER)
        pointer = _struct_code(ctypes.c_void_p)
        codes = {_TEXT: pointer, _LIST: pointer, _DOUBLE: "d"}  # the others are int32_t
        self.record_unpack = _unpacker((offset, codes.get(table[k][1], "i")) for offset, k in stored)
        # (key index, place in a Photo, type) for each value the unpack gives, in its order.
        self.record_slots = tuple((k, place[table[k][0]], table[k][1]) for _, k in stored)
        self.record_present_at = _PhotoStruct.record_present.offset

    def _lay_out(self):
        """Every member in one unpack of the struct's bytes, each then taken by its name."""
        # The record's members are read by _read_record_table's unpack.
        fields = [(name, ctype) for name, ctype in _PhotoStruct._fields_ if name not in ("file", "record_present")]
        self.unpack = _unpacker((getattr(_PhotoStruct, name).offset, _struct_code(ctype)) for name, ctype in fields)
        index = {name: i for i, (name, _) in enumerate(fields)}
        self.tail = operator.itemgetter(*(index[name] for name in (
            "report", "report_length", "last_error", "thumbnail", "thumbnail_size", "read_errno",
            "thumbnail_offset", "requests", "bytes_read")))
        # The report's 29 values, and which of them are texts.
        self.report_of = operator.itemgetter(*(index[name] for name in self.names[:_REPORT_FIELDS]))
        self.report_texts = tuple(k for k, name in enumerate(self.names[:_REPORT_FIELDS])
                                  if dict(_PhotoStruct._fields_)[name] is ctypes.c_char_p)


_api = None
_api_lock = threading.Lock()
_FS_ENCODING = sys.getfilesystemencoding()


def _load_api():
    global _api
    if _api is None:
        with _api_lock:
            if _api is None:
                _api = _Api()
    return _api

