# SPDX-License-Identifier: MIT
"""record(): the object exifinfo --json prints for a photo."""
import functools
import struct

from ._binding import _REPORT_FIELDS, _load_api


@functools.lru_cache(maxsize=65536)  # a collection repeats its values: 72.0, 1/60, f/2.8...
def shortest(value):
    """The shortest decimal that reads back as the same single-precision value, as a float:
    0.004 rather than 0.004000000189989805 (what exifinfo --json prints); None for infinities."""
    if value != value or value in (float("inf"), float("-inf")):
        return None
    for digits in range(1, 10):
        candidate = float(f"{value:.{digits}g}")
        if _SINGLE.unpack(_SINGLE.pack(candidate))[0] == value:
            return candidate
    return value


_SINGLE = struct.Struct("f")


def record(path, photo=None, error=None):
    """The JSON object exifinfo --json prints for `path`: its Photo, or None and an error text
    (such as "cannot open: No such file or directory")."""
    api = _load_api()
    values = {"path": path}
    if photo is None:
        values.update(dict.fromkeys(api.names[:_REPORT_FIELDS] + ("HasExif", "ThumbnailOffset", "ThumbnailLength",
                                                                   "ending")))
        values["error"] = error
        values.update(dict.fromkeys(api.extra_names))
        values["container"] = None
        return values
    values.update(zip(api.names[:_REPORT_FIELDS], photo))  # a Photo starts with the report's values, in order
    for name in api.float_fields:
        values[name] = shortest(values[name])
    has_thumbnail = photo.thumbnail is not None
    values["HasExif"] = photo.has_exif
    values["ThumbnailOffset"] = photo.thumbnail_offset if has_thumbnail else None
    values["ThumbnailLength"] = len(photo.thumbnail) if has_thumbnail else 0
    values["ending"] = photo.ending.value
    values["error"] = error
    for name, value in zip(api.extra_names, photo[_REPORT_FIELDS:]):
        values[name] = None if value == "" else value
    values["container"] = photo.container.value
    return values

