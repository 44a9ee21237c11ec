# SPDX-License-Identifier: MIT
"""record(): the object exifinfo --json prints for a photo."""
import functools
import itertools
import struct

from ._binding import _CALLER, _CONTAINER, _ENDING, _load_api

_NAMED = (_ENDING, _CONTAINER)


@functools.lru_cache(maxsize=65536)  # a collection repeats its values: 72.0, 1/60, f/2.8...
def shortest(value):
    """The shortest decimal that reads back as the same single-precision value, as a float:
    0.004 rather than 0.004000000189989805, for the report's values (report_values), which are
    single precision; None for infinities."""
    if value != value or value in (float("inf"), float("-inf")):
        return None
    for digits in range(1, 10):
        candidate = float(f"{value:.{digits}g}")
        if _SINGLE.unpack(_SINGLE.pack(candidate))[0] == value:
            return candidate
    return value


_SINGLE = struct.Struct("f")


def record(path, photo=None, error=None):
    """The JSON object exifinfo --json prints for `path`: its Photo's record under the record's
    keys, or, for a file that could not be read (photo None), every key None but the path and
    the error text (such as "cannot open: No such file or directory")."""
    api = _load_api()
    values = iter(photo) if photo is not None else itertools.repeat(None)
    out = {}
    for key, kind in zip(api.record_keys, api.record_kinds):
        if kind == _CALLER:
            out[key] = path if key == "path" else error
        else:
            value = next(values)
            out[key] = value.value if kind in _NAMED and value is not None else value  # an Ending's name
    return out
