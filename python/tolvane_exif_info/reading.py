# SPDX-License-Identifier: MIT
"""read() and its kinds of source: paths, bytes, file objects by descriptor, by ranges or forward."""
import bisect
import ctypes
import errno
import io
import os

from . import _binding
from ._binding import _FS_ENCODING, _READ_AT, _Source, _load_api
from .photo import _result

def read_path(path, make=_result):
    """The Photo of the file at `path`: str, bytes or path-like; any file name, UTF-8 or not."""
    api = _binding._api or _load_api()
    # os.fsencode, spelled out for str: the common case, and this is the hot path.
    name = path.encode(_FS_ENCODING, "surrogateescape") if type(path) is str else os.fsencode(path)
    pointer = ctypes.c_void_p()
    return make(api.read_path(name, ctypes.byref(pointer)), pointer, path)


def read_bytes(data, make=_result):
    """The Photo of a JPEG held in memory: bytes, bytearray, memoryview or any buffer."""
    api = _load_api()
    pointer = ctypes.c_void_p()
    if isinstance(data, bytes):
        buffer = data
    else:
        view = memoryview(data)
        buffer = (ctypes.c_char * view.nbytes).from_buffer(view) if not view.readonly and view.contiguous \
            else bytes(view)
    return make(api.lib.exifinfo_read_memory(buffer, len(buffer) if isinstance(buffer, bytes)
                                             else ctypes.sizeof(buffer), ctypes.byref(pointer)), pointer)


# What a stream (a file object that cannot seek) may make a read keep: the bound the library
# keeps for a pipe it reads itself. Past it the stream reads as ended.
_STREAM_BOUND = 64 << 20


def _source_name(file):
    name = getattr(file, "name", None)
    return name if isinstance(name, (str, bytes, int)) else repr(file)


def _answer_of(file, data, length):
    """The bytes a file object gave for a read of `length`, checked before anything copies
    them: bytes-like and at most `length` long (an HTTP file whose server ignores ranges gives
    the whole object), else an OSError naming the object."""
    if isinstance(data, bytes):
        given = len(data)
    elif isinstance(data, (bytearray, memoryview)):
        data = bytes(data)  # a copy of what the object may change under us
        given = len(data)
    else:
        raise OSError(errno.EIO, f"read({length}) of a file object gave {type(data).__name__}, not bytes",
                      _source_name(file))
    if given > length:
        raise OSError(errno.EIO, f"read({length}) of a file object gave {given} bytes, more than asked",
                      _source_name(file))
    return data


def _read_through(file, read_at, size, make=_result):
    """The Photo of `file` (or what `make` makes of the result) read through the library's
    callback `read_at` (which appends what the object raised to its `failures`, for the caller
    to raise once the library returns)."""
    api = _load_api()
    source = _Source(_READ_AT(read_at), None, size)
    pointer = ctypes.c_void_p()
    status = api.lib.exifinfo_read_source(ctypes.byref(source), ctypes.byref(pointer))
    if read_at.failures:
        if pointer.value:
            api.free(pointer.value)
        raise read_at.failures[0]
    return make(status, pointer, _source_name(file))


def _callback(answer):
    """read_at for the library, over `answer(offset, length)`, which gives bytes at most
    `length` long. Exceptions are kept and the library told EIO: none may cross into C."""
    def read_at(context, offset, buffer, length, error):
        try:
            data = answer(offset, length)
            ctypes.memmove(buffer, data, len(data))
            return len(data)
        except BaseException as failure:  # kept, and raised again once the read returns
            read_at.failures.append(failure)
            error[0] = errno.EIO
            return -1
    read_at.failures = []
    return read_at


def _read_ranges_of(file, make=_result):
    """The Photo of a file object that can seek but has no descriptor (io.BytesIO, a remote
    file such as fsspec's): the library asks for the ranges it needs through seek and read, and
    an exception the object raises reaches the caller unchanged. The position is kept."""
    start = file.tell()
    size = file.seek(0, io.SEEK_END) - start

    def answer(offset, length):
        file.seek(start + offset)
        return _answer_of(file, file.read(length), length)

    try:
        return _read_through(file, _callback(answer), max(size, 0), make)
    finally:
        file.seek(start)


def _read_stream_of(file, make=_result):
    """The Photo of a file object that cannot seek (a pipe, a socket, a decompressor): read
    forward only as far as the library asks, keeping what it gave up to _STREAM_BOUND."""
    chunks, starts = [], []  # what the stream gave, and each chunk's offset
    kept, ended = 0, False

    def answer(offset, length):
        nonlocal kept, ended
        end = min(offset + length, _STREAM_BOUND)
        while kept < end and not ended:
            want = min(end - kept, 1 << 20)  # pieces: no transient copy of a long run
            data = _answer_of(file, file.read(want), want)
            ended = not data
            if data:
                starts.append(kept)
                chunks.append(data)
                kept += len(data)
        if offset >= kept:
            return b""
        k = bisect.bisect_right(starts, offset) - 1
        pieces, at = [], offset
        while at < min(offset + length, kept):
            piece = chunks[k][at - starts[k]:offset + length - starts[k]]
            pieces.append(piece)
            at += len(piece)
            k += 1
        return b"".join(pieces)

    return _read_through(file, _callback(answer), _SIZE_UNKNOWN, make)


_SIZE_UNKNOWN = (1 << 64) - 1


def read_file(file, make=_result):
    """The Photo of a binary file object, read from its position, which it keeps when it can seek.

    A file object on a descriptor that can seek is read through the descriptor; one that can
    seek without a descriptor (io.BytesIO, a remote file) by the ranges the library asks for;
    any other (a pipe) forward, as far as the library asks and at most 64 MiB.
    """
    api = _load_api()
    try:
        fd = file.fileno()
        seekable = file.seekable()
    except (AttributeError, OSError, io.UnsupportedOperation):
        fd, seekable = None, False
    if fd is None or not seekable:
        try:
            ranged = file.seekable()
        except (AttributeError, OSError, ValueError):
            ranged = False
        return _read_ranges_of(file, make) if ranged else _read_stream_of(file, make)
    # The object may have read ahead of its position: read from its position, then put the
    # descriptor back where the object's buffer expects it.
    raw = os.lseek(fd, 0, os.SEEK_CUR)
    os.lseek(fd, file.tell(), os.SEEK_SET)
    pointer = ctypes.c_void_p()
    try:
        return make(api.lib.exifinfo_read_fd(fd, ctypes.byref(pointer)), pointer, getattr(file, "name", None))
    finally:
        os.lseek(fd, raw, os.SEEK_SET)


def _is_path(source):
    return type(source) is str or hasattr(source, "__fspath__")


def read(source, sidecar=None):
    """The Photo of a photo in any known container (JPEG, HEIF, TIFF and raw, PNG, WebP, videos,
    an XMP sidecar on its own...): a path (str or path-like), bytes-like data, or a binary file
    object.

    `sidecar`, given the same ways, is the photo's XMP sidecar (NAME.xmp): its XMP values win
    over the photo's embedded XMP and IPTC, and fill the capture time and position the photo
    lacks (exifinfo_apply_sidecar); the Photo's `sidecar` names it (its path, a file object's
    name, or "" for bytes).

    A path that cannot be opened raises the matching OSError (FileNotFoundError,
    IsADirectoryError...); running out of memory raises MemoryError. A file in no known container
    is a Photo whose ending says so. Bytes are data: pass a file name held in bytes to
    read_path(), or as a path-like object.
    """
    if sidecar is not None:
        return _read_with_sidecar(source, sidecar)
    return _read_any(source, _result)


def _read_any(source, make):
    if _is_path(source):
        return read_path(source, make)
    if isinstance(source, (bytes, bytearray, memoryview)):
        return read_bytes(source, make)
    if hasattr(source, "read"):
        return read_file(source, make)
    try:
        return read_bytes(memoryview(source), make)
    except TypeError:
        raise TypeError(f"read() takes a path, bytes-like data or a binary file, not {type(source).__name__}") from None


def _keep(status, pointer, filename=None):
    """The result's address, not yet freed (a failed read raises as read() does)."""
    return _result(status, pointer, filename) if status != 0 else pointer.value


def _read_with_sidecar(source, sidecar):
    api = _load_api()
    photo = _read_any(source, _keep)
    try:
        side = _read_any(sidecar, _keep)
    except BaseException:
        api.free(photo)
        raise
    name = sidecar if _is_path(sidecar) else getattr(sidecar, "name", None)
    name = os.fsencode(name) if isinstance(name, (str, bytes)) or hasattr(name, "__fspath__") else b""
    out = ctypes.c_void_p()
    try:
        status = api.lib.exifinfo_apply_sidecar(ctypes.c_void_p(photo), ctypes.c_void_p(side), name, ctypes.byref(out))
    finally:
        api.free(photo)
        api.free(side)
    return _result(status, out, sidecar if _is_path(sidecar) else None)


# Results converted a chunk at a time while the library reads the next chunks; at most this many
