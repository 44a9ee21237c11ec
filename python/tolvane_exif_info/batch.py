# SPDX-License-Identifier: MIT
"""read_many(): many sources at once, off the interpreter lock."""
import concurrent.futures
import ctypes
import os
import threading

from ._binding import _FS_ENCODING, _Input, _load_api
from . import photo as _photo
from .photo import _result
from .reading import _is_path, _read_ranges_of, _read_stream_of, read
from .record import record
from .remote import is_remote, read_remote

_CHUNK = 128
_CHUNKS_AHEAD = 4


def _opens_to_file(source):
    """True for an object that is opened to give a file (fsspec's OpenFile): `with source as f`."""
    return not hasattr(source, "read") and hasattr(source, "open") and hasattr(source, "__enter__")


def _read_opened(source, make=None):
    with source as file:
        if make is None:
            return read(file)
        return (_read_ranges_of if _seekable(file) else _read_stream_of)(file, make)


def _classify(sources, outcomes):
    """Each source's way: (direct indexes, their _Input entries, bytes kept alive, ranged
    (index, reader) pairs, the reader None for a remote source). A source of no known type gets
    its TypeError in `outcomes`."""
    direct, entries, keep, ranged = [], [], [], []
    for i, source in enumerate(sources):
        if type(source) is str and "://" not in source:  # the common case first
            direct.append(i)
            entries.append((source.encode(_FS_ENCODING, "surrogateescape"), None, 0, -1))
            continue
        if is_remote(source):  # a URL, a (filesystem, path) pair or an OpenFile: fetched range by range here
            ranged.append((i, None))
            continue
        if _is_path(source):
            direct.append(i)
            entries.append((os.fsencode(source), None, 0, -1))
            continue
        if _opens_to_file(source):
            ranged.append((i, _read_opened))
            continue
        if not isinstance(source, (bytes, bytearray, memoryview)) and hasattr(source, "read"):
            fd = _descriptor_at_position(source)
            if fd is None:
                ranged.append((i, _read_ranges_of if _seekable(source) else _read_stream_of))
            else:
                direct.append(i)
                entries.append((None, None, 0, fd))
            continue
        try:
            # Bytes-like only: bytes(12345) would be 12,345 zero bytes, and None no photo at all.
            data = source if type(source) is bytes else bytes(memoryview(source))
        except TypeError:
            outcomes[i] = TypeError(f"read_many() takes paths, bytes-like data or binary files, not "
                                    f"{type(source).__name__} (source {i})")
            continue
        keep.append(data)
        direct.append(i)
        entries.append((None, ctypes.cast(ctypes.c_char_p(data), ctypes.c_void_p), len(data), -1))
    return direct, entries, keep, ranged


def _seekable(file):
    try:
        return bool(file.seekable())
    except (AttributeError, OSError, ValueError):
        return False


def _descriptor_at_position(file):
    """The descriptor of a file object that can seek, when it stands at the object's position:
    the library reads a descriptor from its offset, so a file without one, or whose object
    has read ahead of its own position, is read through the object (None)."""
    if not _seekable(file):
        return None  # a stream (a pipe): read forward through the object, within the bound
    try:
        fd = file.fileno()
        return fd if os.lseek(fd, 0, os.SEEK_CUR) == file.tell() else None
    except (AttributeError, OSError, ValueError):
        return None


class _DirectBatch:
    """The sources the library reads itself (paths, bytes, descriptors), a chunk at a time on
    its threads, turned into Photos by the calling thread."""

    def __init__(self, api, sources, direct, entries, outcomes):
        self.api, self.sources, self.direct, self.outcomes = api, sources, direct, outcomes
        size = max(len(direct), 1)
        self.inputs = (_Input * size)(*entries)
        self.pointers = (ctypes.c_void_p * size)()
        self.statuses = (ctypes.c_int * size)()
        self.chunks = [(k, min(k + _CHUNK, len(direct))) for k in range(0, len(direct), _CHUNK)]

    def read_chunk(self, begin, end, readers):
        self.api.lib.exifinfo_read_many(
            ctypes.addressof(self.inputs) + begin * ctypes.sizeof(_Input), end - begin, readers,
            ctypes.addressof(self.pointers) + begin * ctypes.sizeof(ctypes.c_void_p),
            ctypes.addressof(self.statuses) + begin * ctypes.sizeof(ctypes.c_int))

    def convert(self, begin, end):
        for k in range(begin, end):
            i, pointer, status = self.direct[k], ctypes.c_void_p(self.pointers[k]), self.statuses[k]
            self.pointers[k] = None  # _result frees it
            name = None
            if status:
                source = self.sources[i]
                name = source if _is_path(source) else getattr(source, "name", None)
            try:
                self.outcomes[i] = _result(status, pointer, name)
            except (OSError, MemoryError) as error:
                self.outcomes[i] = error

    def run(self, threads):
        try:
            if threads == 1 or len(self.chunks) < 2:
                for begin, end in self.chunks:
                    self.read_chunk(begin, end, 1)
                    self.convert(begin, end)
            else:
                self._overlapped(threads)
        finally:
            for pointer in self.pointers:  # an interrupted batch: what is left is freed
                if pointer:
                    self.api.free(pointer)

    def _overlapped(self, threads):
        """This thread makes the Photos of one chunk while threads - 1 of the library's read
        the next ones (turning a result into a Photo takes about as long as the read)."""
        done = [threading.Semaphore(0) for _ in self.chunks]
        room = threading.Semaphore(_CHUNKS_AHEAD)
        failed = []

        def reader():
            try:
                for n, (begin, end) in enumerate(self.chunks):
                    room.acquire()
                    self.read_chunk(begin, end, threads - 1)
                    done[n].release()
            except BaseException as error:  # never leave the converting thread waiting
                failed.append(error)
                for each in done:
                    each.release()

        worker = threading.Thread(target=reader, daemon=True)
        worker.start()
        try:
            for n, (begin, end) in enumerate(self.chunks):
                done[n].acquire()
                if failed:
                    raise failed[0]
                self.convert(begin, end)
                room.release()
        finally:
            for _ in self.chunks:  # an interrupted batch: let the reader finish
                room.release()
            worker.join()


def _submit_ranged(pool, sources, ranged, threads):
    """(index, future) of each ranged source; an object listed twice is read once: two threads
    must not seek one file at once. Remote sources are read together, on one future."""
    submitted, futures = {}, []
    remote = [i for i, reader in ranged if reader is None]
    if remote:
        together = pool.submit(read_remote, [sources[i] for i in remote], _result, threads)
        futures += [(i, _Nth(together, k)) for k, i in enumerate(remote)]
    for i, reader in ranged:
        if reader is None:
            continue
        source = sources[i]
        if id(source) not in submitted:
            submitted[id(source)] = pool.submit(reader, source)
        futures.append((i, submitted[id(source)]))
    return futures


class _Nth:
    """The k-th outcome of a future of many, as a future of its own: an exception in the list
    is raised by result()."""

    def __init__(self, future, k):
        self.future, self.k = future, k

    def result(self):
        outcome = self.future.result()[self.k]
        if isinstance(outcome, BaseException):
            raise outcome
        return outcome


def read_many(sources, threads=2, errors="raise"):
    """The Photos of many sources, in order, read on `threads` threads with the interpreter lock
    released while they read.

    Paths, bytes-like data and files on a descriptor are read by the library's own threads, a
    chunk at a time, while the calling thread turns finished chunks into Photos. Remote photos,
    given as (filesystem, path) pairs or fsspec OpenFile objects, are fetched range by range as
    the library asks (one ranged request for most photos, none for the size), `threads` at once
    on the filesystem's event loop where it has one; so are URLs of a protocol fsspec knows
    ("https://...", "s3://..."), where any other str is a local path. File objects without a descriptor
    (io.BytesIO, an opened remote file) and other objects that open to a file are read by ranges
    on `threads` Python threads at once: their waits on storage overlap; streams (a pipe)
    forward, within 64 MiB.

    A source that cannot be read raises as read() would (the first such source's error,
    exceptions of file objects unchanged), once the batch is done. With errors="return" every
    source gives its record instead (record(): a dict under the record's keys, the path for a
    path), and one that cannot be read a record whose "error" says why, so that
    pandas.DataFrame(read_many(paths, errors="return")) is a table of the batch. A source of no
    known type (None, a number) is that source's TypeError.
    """
    if errors not in ("raise", "return"):
        raise ValueError(f'errors must be "raise" or "return", not {errors!r}')
    api = _load_api()
    photo_type = _photo._photo_type or _photo._types()[1]
    threads = max(int(threads), 1)
    sources = list(sources)
    outcomes = [None] * len(sources)  # a Photo, or the exception its source raised
    direct, entries, keep, ranged = _classify(sources, outcomes)
    pool = concurrent.futures.ThreadPoolExecutor(max_workers=min(threads, len(ranged))) if ranged else None
    try:
        futures = _submit_ranged(pool, sources, ranged, threads) if pool else []
        _DirectBatch(api, sources, direct, entries, outcomes).run(threads)
        for i, future in futures:
            try:
                outcomes[i] = future.result()
            except BaseException as error:  # the file object's own exception, as read() raises it
                outcomes[i] = error
    finally:
        if pool is not None:
            pool.shutdown(wait=True)
    del keep  # the bytes the library read from, alive until here
    if errors == "raise":
        for outcome in outcomes:
            if not isinstance(outcome, photo_type):
                raise outcome
        return outcomes
    return [_record_of(source, outcome, photo_type) for source, outcome in zip(sources, outcomes)]


def _record_of(source, outcome, photo_type):
    path = os.fsdecode(source) if isinstance(source, (str, os.PathLike)) else None
    if isinstance(outcome, photo_type):
        return record(path, outcome)
    if isinstance(outcome, OSError) and outcome.strerror:
        opening = isinstance(outcome, (FileNotFoundError, PermissionError, IsADirectoryError))
        return record(path, None, f"cannot {'open' if opening else 'read'}: {outcome.strerror}")
    return record(path, None, str(outcome) or type(outcome).__name__)
