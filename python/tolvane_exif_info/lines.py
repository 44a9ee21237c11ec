# SPDX-License-Identifier: MIT
"""records() and write_records(): a batch's records as the library writes them, JSON lines made
on its threads with the interpreter lock released, no Python object per photo on the way."""
import array
import concurrent.futures
import ctypes
import errno
import io
import itertools
import json
import os
import sys

from ._binding import _FS_ENCODING, _Input, _PhotoStruct, _RecordsOptions, _load_api
from .batch import _Nth, _classify
from .remote import _pair, is_remote, read_remote
from .reading import _is_path

# Sources go to the library this many at a time: what a batch holds at once (its lines, the
# names and inputs) stays bounded however many sources an iterator gives.
_CHUNK = 8192
_NOT_A_PHOTO = 1  # exifinfo_ending's EXIFINFO_NOT_A_JPEG: in no known container


def _name_bytes(name):
    if name is None:
        return None
    if type(name) is str:
        return name.encode(_FS_ENCODING, "surrogateescape")
    return os.fsencode(name)


def _default_name(source):
    """A source's "path" unless names says otherwise: a path's own, a remote photo's path."""
    if _is_path(source):
        return source
    return _pair(source)[1] if is_remote(source) else None


def _failure_text(source_error):
    """The record's error for an exception a file object raised: the library's words for an
    errno it carries, else the exception's own text."""
    if isinstance(source_error, OSError) and source_error.errno:
        api = _load_api()
        text = ctypes.create_string_buffer(256)
        api.lib.exifinfo_failure_text(source_error.errno, None, text, len(text))
        return text.value
    return (str(source_error) or type(source_error).__name__).encode("utf-8", "surrogateescape")


def _line_of(api, photo, name, error):
    """One record line (with its line end) from a result's address (or None) through the library."""
    length = api.lib.exifinfo_record_json(photo, name, error, None, 0, None, 0)
    text = ctypes.create_string_buffer(length + 1)
    api.lib.exifinfo_record_json(photo, name, error, None, 0, text, length + 1)
    return text.raw[:length] + b"\n"


def _line_maker(api, skip_unknown):
    """make(status, pointer, name) for a read done in Python: its line (b"" when passed over),
    the result freed."""
    def make(status, pointer, name):
        try:
            if skip_unknown and (status == errno.EISDIR or (
                    status == 0 and ctypes.c_int32.from_address(pointer.value + _PhotoStruct.ending.offset).value
                    == _NOT_A_PHOTO)):
                return b""
            text = ctypes.create_string_buffer(256)
            api.lib.exifinfo_failure_text(status, pointer if status == 0 else None, text, len(text))
            return _line_of(api, pointer if status == 0 else None, name, text.value)
        finally:
            if pointer.value:
                api.free(pointer.value)
    return make


def _ranged_line(api, reader, source, name, skip_unknown):
    """The line of a source read by ranges on a Python thread (an in-memory or opened file
    object); b"" when it is passed over. What the object raises becomes the line's error."""
    make = _line_maker(api, skip_unknown)
    try:
        return reader(source, lambda status, pointer, _: make(status, pointer, name))
    except Exception as error:  # the file object's own failure: the record says why
        return _line_of(api, None, name, _failure_text(error))


def _remote_lines(api, sources, names, threads, skip_unknown):
    """The lines of remote sources, fetched `threads` at once: a store's failure is the line's error."""
    outcomes = read_remote(sources, _line_maker(api, skip_unknown), threads, names)
    return [_line_of(api, None, name, _failure_text(outcome)) if isinstance(outcome, BaseException) else outcome
            for name, outcome in zip(names, outcomes)]


def _library_lines(api, entries, names, threads, skip_unknown, fd=-1):
    """The lines of sources the library reads itself, in order: bytes, or with `fd` the count of
    lines it wrote there. The interpreter lock is released for the whole call."""
    count = len(entries)
    inputs = (_Input * max(count, 1))(*entries)
    named = (ctypes.c_char_p * max(count, 1))(*names)
    return _call(api, inputs, count, ctypes.cast(named, ctypes.c_void_p), threads, skip_unknown, fd)


# An exifinfo_input as 4 machine words: path, data, size, then fd (-1) and its padding.
_NO_DESCRIPTOR = 0xFFFFFFFF if sys.byteorder == "little" else 0xFFFFFFFF << 32


def _path_lines(api, paths, threads, skip_unknown, fd=-1, sidecars=None):
    """_library_lines for a chunk of str paths that name themselves, the common case: the inputs
    are laid out in one array of words over one buffer of names, not built a struct at a time."""
    encoded = [p.encode(_FS_ENCODING, "surrogateescape") for p in paths]
    names = ctypes.create_string_buffer(b"\0".join(encoded) + b"\0")
    base = ctypes.addressof(names)
    words = array.array("Q", bytes(32 * len(paths)))
    starts = itertools.accumulate((len(e) + 1 for e in encoded), initial=base)
    words[0::4] = array.array("Q", itertools.islice(starts, len(encoded)))
    words[3::4] = array.array("Q", itertools.repeat(_NO_DESCRIPTOR, len(encoded)))
    address, _ = words.buffer_info()
    paired = None
    if sidecars is not None:
        paired = (ctypes.c_char_p * max(len(paths), 1))(
            *(None if s is None else os.fsencode(s) for s in sidecars))
    return _call(api, address, len(paths), None, threads, skip_unknown, fd,
                 ctypes.cast(paired, ctypes.c_void_p) if paired is not None else None)


def _lines(api, entries, names, threads, skip_unknown, fd=-1, sidecars=None):
    """A run's lines: a chunk of str paths (names None; their sidecars, if any), or _Input
    entries with their names."""
    if names is None:
        return _path_lines(api, entries, threads, skip_unknown, fd, sidecars)
    return _library_lines(api, entries, names, threads, skip_unknown, fd)


def _call(api, inputs, count, names, threads, skip_unknown, fd, sidecars=None):
    options = _RecordsOptions(ctypes.sizeof(_RecordsOptions), None, 0, threads, 1 if skip_unknown else 0, names,
                              sidecars)
    text, length, lines = ctypes.c_void_p(), ctypes.c_size_t(), ctypes.c_size_t()
    status = api.lib.exifinfo_records_json(inputs, count, ctypes.byref(options), fd, ctypes.byref(text),
                                           ctypes.byref(length), ctypes.byref(lines))
    try:
        if status == errno.ENOMEM:
            raise MemoryError("libexifinfo: out of memory")
        if status != 0:
            raise OSError(status, os.strerror(status))
        return lines.value if fd >= 0 else ctypes.string_at(text, length.value)
    finally:
        if text.value:
            api.lib.exifinfo_free_text(text)


def _chunk_lines(api, sources, names, threads, skip_unknown, pool, emit):
    """Hands `emit` the lines of one chunk of sources, in order: runs of paths, bytes and
    descriptors for the library to make (emit(entries, names, None)), and each other file
    object's line (emit(None, None, line)), those read on `pool` meanwhile."""
    outcomes = [None] * len(sources)
    direct, entries, keep, ranged = _classify(sources, outcomes)
    for outcome in outcomes:
        if outcome is not None:
            raise outcome  # a source of no known type: the caller's mistake, not a photo's
    futures, submitted = {}, {}
    remote = [i for i, reader in ranged if reader is None]
    if remote:  # fetched together, on the filesystem's event loop where it has one
        together = pool.submit(_remote_lines, api, [sources[i] for i in remote], [names[i] for i in remote],
                               threads, skip_unknown)
        futures.update((i, _Nth(together, k)) for k, i in enumerate(remote))
    for i, reader in ranged:  # an object listed twice is read once: two threads must not seek it at once
        if reader is None:
            continue
        if id(sources[i]) not in submitted:
            submitted[id(sources[i])] = pool.submit(_ranged_line, api, reader, sources[i], names[i], skip_unknown)
        futures[i] = submitted[id(sources[i])]
    entry_of = dict(zip(direct, entries))
    run_entries, run_names = [], []
    for i in range(len(sources)):
        if i in entry_of:
            run_entries.append(entry_of[i])
            run_names.append(names[i])
            continue
        if run_entries:
            emit(run_entries, run_names, None)
            run_entries, run_names = [], []
        emit(None, None, futures[i].result())
    if run_entries:
        emit(run_entries, run_names, None)
    del keep  # the bytes the library read from, alive until here


def _batches(sources, names, threads, skip_unknown, emit, sidecars=None):
    if threads < 1:
        raise ValueError(f"threads must be at least 1, not {threads}")
    api = _load_api()
    if not hasattr(api.lib, "exifinfo_records_json"):
        raise RuntimeError(f"libexifinfo {api.version} cannot make records; records() needs 1.6 or later")
    if sidecars is not None and not hasattr(api.lib, "exifinfo_apply_sidecar"):
        raise RuntimeError(f"libexifinfo {api.version} cannot apply sidecars; sidecars= needs 1.8 or later")
    sources = iter(sources)
    names = iter(names) if names is not None else None
    sidecars = iter(sidecars) if sidecars is not None else None
    with concurrent.futures.ThreadPoolExecutor(max_workers=threads) as pool:
        while chunk := list(itertools.islice(sources, _CHUNK)):
            local = all(type(s) is str and "://" not in s for s in chunk)
            if sidecars is not None:
                paired = list(itertools.islice(sidecars, len(chunk)))
                if names is not None or not local or len(paired) < len(chunk):
                    raise ValueError("sidecars= goes with local paths, one (or None) for each, and no names")
                emit(api, chunk, None, None, paired)
                continue
            if names is None and local:
                emit(api, chunk, None, None)
                continue
            given = list(itertools.islice(names, len(chunk))) if names is not None else [None] * len(chunk)
            if len(given) < len(chunk):
                raise ValueError("names ends before sources")
            chunk_names = [_name_bytes(n if n is not None else _default_name(s))
                           for s, n in zip(chunk, given)]
            _chunk_lines(api, chunk, chunk_names, threads, skip_unknown, pool,
                         lambda entries, run_names, line: emit(api, entries, run_names, line))


def records(sources, threads=2, *, names=None, skip_unknown=False, lines=False, sidecars=None):
    """The record of each source, in order, made by the library: paths, bytes-like data and
    files on a descriptor are read on `threads` of its threads with the interpreter lock
    released for the whole batch; remote photos ((filesystem, path) pairs, fsspec's OpenFile)
    fetched range by range as the library asks, `threads` at once (one ranged request for most
    photos), and so are URLs of a protocol fsspec knows ("https://...", "s3://..."); other file
    objects (io.BytesIO...) by ranges on Python threads meanwhile.

    Each record is what exifinfo --json prints for the source: a dict under the record's keys,
    or with lines=True all of them as bytes, one JSON line each, the very bytes exifinfo writes.
    "path" is the path for a path, else None; `names` gives one for each source instead (a URL,
    say). A source that cannot be read is a record whose "error" says why. With skip_unknown,
    sources in no known container and directories give no record, as exifinfo -r passes them
    over. A source of no known type (None, a number) raises TypeError. `sidecars`, for sources
    that are local paths, gives each one's XMP sidecar path (or None), laid over its record as
    exifinfo -r does (sidecar_paths() pairs a folder's names as it does).
    """
    made = []

    def emit(api, entries, run_names, line, paired=None):
        made.append(_lines(api, entries, run_names, threads, skip_unknown, sidecars=paired) if entries is not None
                    else line)

    _batches(sources, names, threads, skip_unknown, emit, sidecars)
    text = b"".join(made)
    if lines:
        return text
    return [json.loads(line) for line in text.splitlines()]


def write_records(sources, file, threads=2, *, names=None, skip_unknown=False, sidecars=None):
    """Writes the record lines of `sources` (as records(..., lines=True) makes them) to `file`: a
    path (created or truncated), or a binary file object, and returns how many it wrote. A file
    with a descriptor is written by the library's threads as the lines are made, 64
    at a time, so a batch of any length holds little memory. A failed write raises OSError; the
    lines before it are in the file."""
    if isinstance(file, (str, bytes)) or hasattr(file, "__fspath__"):
        with open(file, "wb") as opened:
            return write_records(sources, opened, threads, names=names, skip_unknown=skip_unknown, sidecars=sidecars)
    try:
        fd = file.fileno()
    except (AttributeError, OSError, io.UnsupportedOperation):
        fd = -1
    written = 0

    def emit(api, entries, run_names, line, paired=None):
        nonlocal written
        if entries is None:
            if line:
                file.write(line)
                written += 1
        elif fd >= 0:
            file.flush()  # what the object holds goes first
            written += _lines(api, entries, run_names, threads, skip_unknown, fd, paired)
        else:
            text = _lines(api, entries, run_names, threads, skip_unknown, sidecars=paired)
            file.write(text)
            written += text.count(b"\n")

    _batches(sources, names, threads, skip_unknown, emit, sidecars)
    file.flush()
    return written


def sidecar_paths(names):
    """The sidecars of one folder's names, as exifinfo -r pairs them: {name: its sidecar's name}
    for each name with an XMP sidecar beside it, NAME.EXT.xmp else NAME.xmp, the case of either
    ignored (the first such name in byte order); the sidecars taken are no photos of their own."""
    by_lower = {}
    for name in sorted(names, key=os.fsencode):
        if name.lower().endswith(".xmp") and len(name) > 4:
            by_lower.setdefault(name.lower(), name)
    paired = {}
    for name in names:
        lower = name.lower()
        if lower.endswith(".xmp") and len(name) > 4:
            continue
        stem = lower.rsplit(".", 1)[0] if "." in lower[1:] else None
        found = by_lower.get(lower + ".xmp") or (by_lower.get(stem + ".xmp") if stem else None)
        if found:
            paired[name] = found
    return paired
