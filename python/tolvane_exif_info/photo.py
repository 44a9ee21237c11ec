# SPDX-License-Identifier: MIT
"""The Photo: a result of libexifinfo turned into Python values, the result freed."""
import collections
import ctypes
import datetime
import enum
import errno
import os
import struct

from . import _binding

_ending = None
_container = None
_photo_type = None


class _PhotoMethods:
    """What a Photo derives from its values."""
    __slots__ = ()

    @property
    def capture_time(self):
        """CaptureTime as a datetime: aware when the zone is known, naive otherwise; None when absent."""
        if self.CaptureTime is None:
            return None
        return datetime.datetime.fromisoformat(self.CaptureTime)

    @property
    def gps(self):
        """(latitude, longitude, altitude) in degrees and metres (altitude None when absent), or None."""
        if not self.HasGPS:
            return None
        return (self.GPSLatitude, self.GPSLongitude, self.GPSAltitude)

    @property
    def report_values(self):
        """The report's 29 values under the report's keys (CameraMake, ISOequivalent...), as
        EXIFInfo's report prints them: never absent, 0 or "" where the file has none."""
        return dict(zip(_binding._api.names[:_binding._REPORT_FIELDS], self.report_fields))


_EXTRA = ("thumbnail", "read_errno", "thumbnail_offset", "last_error", "report", "requests", "bytes_read",
          "report_fields")


def _types():
    global _ending, _container, _photo_type
    if _photo_type is None:
        api = _binding._load_api()
        ending = enum.Enum("Ending", [(n.upper(), n) for n in api.endings], type=str, module="tolvane_exif_info")
        api.ending_members = [ending(n) for n in api.endings]
        container = enum.Enum("Container", [(n.upper(), n) for n in api.containers], type=str, module="tolvane_exif_info")
        api.container_members = [container(n) for n in api.containers]
        base = collections.namedtuple("Photo", api.photo_keys + _EXTRA)
        photo = type("Photo", (_PhotoMethods, base), {"__slots__": (), "__module__": "tolvane_exif_info"})
        photo.__doc__ = ("One photo's record: the file's own values under the record's keys (Make, ISO, "
                         "CaptureTime, GPSLatitude...; None when the file does not have them; ending an Ending, "
                         "container a Container), then thumbnail (bytes or None), read_errno, thumbnail_offset, "
                         "last_error, report (the report text), requests and bytes_read (what the read asked of "
                         "its file or source), report_fields; capture_time, gps and report_values.")
        _ending, _container, _photo_type = ending, container, photo
    return _ending, _photo_type


_PRESENT = struct.Struct("=QQ")
_TEXT, _FLAG, _ENDING, _CONTAINER, _LIST = (_binding._TEXT, _binding._FLAG, _binding._ENDING, _binding._CONTAINER,
                                            _binding._LIST)
_POINTER = struct.Struct("P")


def _result(status, pointer, filename=None):
    """The Photo of a call's result, freed here; an OSError or MemoryError for its errno."""
    if status != 0:
        if status == errno.ENOMEM:
            raise MemoryError("libexifinfo: out of memory")
        raise OSError(status, os.strerror(status), filename)
    api = _binding._api
    photo_type = _photo_type or _types()[1]
    address = pointer.value
    try:
        # One copy of the struct and what follows it up to the UTF-8 report's end: the library
        # lays the texts out there, and they are sliced from the copy. A text found elsewhere
        # (another layout) is copied on its own.
        raw = ctypes.string_at(address, api.size)
        head = api.unpack(raw)
        (report, report_length, last_error, thumbnail, thumbnail_size, read_errno, thumbnail_offset, requests,
         bytes_read) = api.tail(head)
        report_at = report - address
        block = ctypes.string_at(address, report_at + report_length + 1)

        def text(pointer):
            offset = pointer - address
            if 0 <= offset < len(block):
                return block[offset:block.index(b"\0", offset)].decode("utf-8")
            return ctypes.string_at(pointer).decode("utf-8")

        def items(pointer):
            # A list: its items' pointers up to a null, laid out with the texts.
            out = []
            offset = pointer - address
            while True:
                if 0 <= offset <= len(block) - _POINTER.size:
                    item = _POINTER.unpack_from(block, offset)[0]
                else:
                    item = ctypes.cast(address + offset, ctypes.POINTER(ctypes.c_void_p))[0]
                if not item:
                    return out
                out.append(text(item))
                offset += _POINTER.size

        report_fields = list(api.report_of(head))
        for k in api.report_texts:
            report_fields[k] = text(report_fields[k])
        # The record: each key's member in one unpack, kept where the result says it is present.
        low, high = _PRESENT.unpack_from(raw, api.record_present_at)
        present = low | high << 64
        values = [None] * len(api.photo_keys)
        for (k, place, kind), value in zip(api.record_slots, api.record_unpack(raw)):
            if (present >> k) & 1:
                if kind == _TEXT:
                    value = text(value)
                elif kind == _LIST:
                    value = items(value)
                elif kind == _FLAG:
                    value = value != 0
                elif kind == _ENDING:
                    value = api.ending_members[value]
                elif kind == _CONTAINER:
                    value = api.container_members[value]
                values[place] = value
        values += (ctypes.string_at(thumbnail, thumbnail_size) if thumbnail else None, read_errno, thumbnail_offset,
                   text(last_error), block[report_at:-1].decode("utf-8"), requests, bytes_read, tuple(report_fields))
        return photo_type._make(values)
    finally:
        api.free(address)
