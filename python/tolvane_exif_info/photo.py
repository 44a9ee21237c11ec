# SPDX-License-Identifier: MIT
"""The Photo: a result of libexifinfo turned into Python values, the result freed."""
import collections
import ctypes
import datetime
import enum
import errno
import itertools
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
        if not self.CaptureTime:
            return None
        return datetime.datetime.fromisoformat(self.CaptureTime)

    @property
    def gps(self):
        """(latitude, longitude, altitude) in degrees and metres (altitude None when absent), or None."""
        if not self.HasGPS:
            return None
        return (self.GPSLatitude, self.GPSLongitude, self.GPSAltitude)


def _types():
    global _ending, _container, _photo_type
    if _photo_type is None:
        api = _binding._load_api()
        ending = enum.Enum("Ending", [(n.upper(), n) for n in api.endings], type=str, module="tolvane_exif_info")
        api.ending_members = [ending(n) for n in api.endings]
        container = enum.Enum("Container", [(n.upper(), n) for n in api.containers], type=str, module="tolvane_exif_info")
        api.container_members = [container(n) for n in api.containers]
        base = collections.namedtuple("Photo", api.names + ("has_exif", "thumbnail", "ending", "read_errno",
                                                            "thumbnail_offset", "last_error", "report",
                                                            "container", "requests", "bytes_read", "values"))
        photo = type("Photo", (_PhotoMethods, base), {"__slots__": (), "__module__": "tolvane_exif_info"})
        photo.__doc__ = ("One photo's values: the report's 29 under its keys, the values added since (GPS, "
                         "time zones, lens and body; None when absent), has_exif, thumbnail (bytes or None), "
                         "ending (an Ending), read_errno, thumbnail_offset, last_error, report and "
                         "container (a Container: Container.JPEG, Container.HEIF...), requests and bytes_read "
                         "(what the read asked of its file or source); values, the record (a dict under the "
                         "record's keys, each the file's own value, None when absent); capture_time and gps.")
        _ending, _container, _photo_type = ending, container, photo
    return _ending, _photo_type


_PRESENT = struct.Struct("=QQ")


def _record_values(api, raw, text):
    """The record of a result's bytes: each key's value, None when the result says it is absent."""
    low, high = _PRESENT.unpack_from(raw, api.record_present_at)
    present = low | high << 64
    values = dict.fromkeys(api.record_keys)
    for k, value in zip(api.record_slots, api.record_unpack(raw)):
        if not (present >> k) & 1:
            continue
        kind = api.record_kinds[k]
        if kind == _binding._TEXT:
            values[api.record_keys[k]] = text(value).decode("utf-8")
        elif kind == _binding._FLAG:
            values[api.record_keys[k]] = value != 0
        elif kind == _binding._ENDING:
            values[api.record_keys[k]] = api.endings[value]
        elif kind == _binding._CONTAINER:
            values[api.record_keys[k]] = api.containers[value]
        else:
            values[api.record_keys[k]] = value
    values["error"] = None
    return values


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
        (report, report_length, last_error, has_exif, thumbnail, thumbnail_size, ending, read_errno, thumbnail_offset,
         container, requests, bytes_read) = api.tail(head)
        report_at = report - address
        block = ctypes.string_at(address, report_at + report_length + 1)

        def text(pointer):
            offset = pointer - address
            if 0 <= offset < len(block):
                return block[offset:block.index(b"\0", offset)]
            return ctypes.string_at(pointer)

        values = list(api.values_of(head))
        # The library lays the values' texts out one after another in their order, last_error
        # next: one decode and one split take them all. The pointers are checked against that
        # layout (a later library may lay them out otherwise) and each text is taken on its own
        # when they differ.
        pointers = api.text_pointers(head)
        first, end = pointers[0] - address, last_error - address
        texts = None
        if 0 <= first < end <= len(block):
            run = block[first:end - 1]
            pieces = run.split(b"\0")
            if len(pieces) == len(pointers) and \
                    tuple(itertools.accumulate(map((1).__add__, map(len, pieces[:-1])), initial=pointers[0])) == pointers:
                texts = run.decode("utf-8").split("\0")
        if texts is None:
            texts = [text(pointer).decode("utf-8") for pointer in pointers]
        for k, value in zip(api.text_positions, texts):
            values[k] = value
        for k in api.extra_ints:
            if values[k] == -1:
                values[k] = None
        for k in api.extra_doubles:
            if values[k] != values[k]:  # NaN
                values[k] = None
        values += (has_exif != 0, ctypes.string_at(thumbnail, thumbnail_size) if thumbnail else None,
                   api.ending_members[ending], read_errno, thumbnail_offset,
                   text(last_error).decode("utf-8", "replace"), block[report_at:-1].decode("utf-8"),
                   api.container_members[container], requests, bytes_read, _record_values(api, raw, text))
        return photo_type._make(values)
    finally:
        api.free(address)

