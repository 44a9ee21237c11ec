# SPDX-License-Identifier: MIT
"""Photos on remote storage (fsspec filesystems), read by the ranges the library asks for, each
fetched by the caller: one ranged GET for most photos, no request for the size, many photos at
once on the filesystem's event loop where it has one (fsspec's HTTP does)."""
import concurrent.futures
import ctypes
import os

from ._binding import _PhotoStruct, _load_api

# The first request's length by the name's ending: a photo's metadata lies in its first 64 KiB
# but for what the tail holds (below); a name that says nothing gets the library's own first
# window. Every later miss fetches what the library
# asks for, or this many times the request before it when that is more, so that a walk that
# keeps missing (a PNG of many small chunks, a JPEG of many ICC segments) ends in a few requests.
_VIDEO_ENDINGS = (".mov", ".mp4", ".m4v", ".3gp", ".3g2")
_FIRST_REQUEST = {ending: 64 << 10 for ending in (
    ".jpg", ".jpeg", ".jpe", ".heic", ".heif", ".hif", ".avif", ".webp", ".png", ".tif", ".tiff", ".dng", ".nef",
    ".cr2", ".cr3", ".arw", ".orf", ".rw2", ".pef", ".srw", ".raf", ".mrw", ".jxl", *_VIDEO_ENDINGS)}
_DEFAULT_FIRST_REQUEST = 128 << 10  # a name that says nothing: the library's own first window
_GROWTH = 4
# Containers whose metadata often lies at the end (a HEIF's or TIFF's last directory or item, a
# WebP's or PNG's chunk after the image data): over HTTP the first request asks for the head and
# this much of the tail at once (two ranges in one request; a store that cannot answer so sends
# one range or the whole object, and the read goes on from there).
# A video's movie box, at the end of most recorded videos, is larger: a phone's holds its sample
# tables, tens to a few hundred KiB.
_TAIL = {ending: 16 << 10 for ending in (".heic", ".heif", ".hif", ".avif", ".webp", ".png", ".tif", ".tiff", ".dng",
                                         ".nef", ".cr2", ".arw", ".orf", ".rw2", ".pef", ".srw", ".jxl")}
_TAIL.update({ending: 256 << 10 for ending in _VIDEO_ENDINGS})
_SIZE_UNKNOWN = (1 << 64) - 1
_NEEDS_MORE = 11  # EXIFINFO_NEEDS_MORE


class _Range(ctypes.Structure):
    _fields_ = [("offset", ctypes.c_uint64), ("data", ctypes.c_void_p), ("size", ctypes.c_size_t)]


def _ending(path):
    return os.path.splitext(str(path))[1].lower()


def _first_request(path):
    return _FIRST_REQUEST.get(_ending(path), _DEFAULT_FIRST_REQUEST)


def is_url(source):
    """A str that is a URL of a protocol fsspec knows ("https://...", "s3://..."): read remotely.
    Any other str is a local path."""
    scheme, found, _ = source.partition("://")
    if not found or not scheme.isalnum():
        return False
    try:
        from fsspec.registry import known_implementations
    except ImportError:
        return False
    return scheme in known_implementations


def is_remote(source):
    """A (filesystem, path) pair, an object that names one (fsspec's OpenFile), or a URL."""
    if type(source) is str:
        return "://" in source and is_url(source)
    if type(source) is tuple:
        return len(source) == 2 and hasattr(source[0], "cat_file")
    return hasattr(source, "fs") and hasattr(source, "path") and hasattr(source.fs, "cat_file") \
        and not hasattr(source, "read")


def _pair(source):
    if type(source) is str:
        import fsspec
        return fsspec.core.url_to_fs(source)
    return source if type(source) is tuple else (source.fs, source.path)


def _content_range(text):
    """(first byte, the object's size or None) of a Content-Range "bytes a-b/size"."""
    span, _, size = text.partition(" ")[2].partition("/")
    first = span.partition("-")[0]
    return (int(first) if first.isdigit() else None), (int(size) if size.isdigit() else None)


async def _fetch(fs, path, start, end, tail=0):
    """(pieces, the object's size or None, whether the pieces are the whole object), pieces
    being (offset, bytes). HTTP's answer says the size (Content-Range); `tail` asks for that
    much of the end too, in the same request."""
    if not (hasattr(fs, "set_session") and hasattr(fs, "encode_url")):  # any other fsspec store
        return [(start, await fs._cat_file(path, start=start, end=end))], None, False
    session = await fs.set_session()
    kwargs = dict(fs.kwargs)
    headers = dict(kwargs.pop("headers", {}) or {})
    headers["Range"] = f"bytes={start}-{end - 1}" + (f",-{tail}" if tail else "")
    async with session.get(fs.encode_url(path), headers=headers, **kwargs) as answer:
        fs._raise_not_found_for_status(answer, path)
        if answer.status != 206:  # the whole object
            data = await answer.read()
            return [(0, data)], len(data), True
        if not answer.content_type.startswith("multipart/"):
            first, size = _content_range(answer.headers.get("Content-Range", ""))
            return [(start if first is None else first, await answer.read())], size, False
        import aiohttp  # fsspec's HTTP is built on it; imported once a store answers in parts
        pieces, size = [], None
        async for part in aiohttp.MultipartReader.from_response(answer):
            first, size = _content_range(part.headers.get("Content-Range", ""))
            data = await part.read(decode=False)
            if first is not None:
                pieces.append((first, bytes(data)))
        return pieces, size, False


# A connection the store drops or refuses (a reset under load) is tried again, this many times
# in all, after a pause growing from 50 ms: such failures pass, a missing object does not.
_ATTEMPTS = 3


def _transient(error):
    if isinstance(error, (FileNotFoundError, PermissionError, IsADirectoryError)):
        return False
    if isinstance(error, ConnectionError):
        return True
    try:
        import aiohttp
    except ImportError:
        return False
    return isinstance(error, aiohttp.ClientConnectionError) and not isinstance(error, aiohttp.ServerTimeoutError)


async def _fetch_again(fs, path, start, end, tail=0):
    import asyncio
    for attempt in range(_ATTEMPTS):
        try:
            return await _fetch(fs, path, start, end, tail)
        except Exception as error:
            if attempt + 1 == _ATTEMPTS or not _transient(error):
                raise
            await asyncio.sleep(0.05 * 4 ** attempt)


def _fetch_blocking(fs, path, start, end):
    """_fetch for a filesystem without an event loop: one range through cat_file."""
    return [(start, fs.cat_file(path, start=start, end=end))], None, False


class _Read:
    """One photo's ranges, fetched as the library asks for them."""

    def __init__(self, api, pair, size):
        self.api, (self.fs, self.path) = api, pair
        self.size = size if size is not None else _SIZE_UNKNOWN
        self.held, self.requests, self.fetched = [], 0, 0

    def first(self):
        """The first range: by the name's ending, never past a size the listing gave; and how
        much of the tail to ask for with it."""
        length = _first_request(self.path)
        tail = _TAIL.get(_ending(self.path), 0)
        if self.size != _SIZE_UNKNOWN:
            length = min(length, self.size)
            tail = 0 if self.size <= length + tail else tail
        return 0, length, tail

    def take(self, start, length, answer):
        pieces, total, whole = answer
        self.requests += 1
        self.fetched += sum(len(data) for _, data in pieces)
        if whole:
            self.held, self.size = list(pieces), len(pieces[0][1])
            return
        self.held += pieces
        if total is not None:
            self.size = total
        elif pieces and pieces[0][0] == start and len(pieces[0][1]) < length:  # the object ends there
            self.size = start + len(pieces[0][1])

    def resume(self):
        """(status, result pointer) of a read over the ranges held."""
        ranges = (_Range * max(len(self.held), 1))(
            *((offset, ctypes.cast(ctypes.c_char_p(data), ctypes.c_void_p), len(data)) for offset, data in self.held))
        pointer = ctypes.c_void_p()
        status = self.api.lib.exifinfo_read_ranges(ranges, len(self.held), self.size, ctypes.byref(pointer))
        return status, pointer

    def finish(self, status, pointer):
        """The result as any read's: what was fetched counted in it."""
        if status == 0:
            ctypes.c_uint64.from_address(pointer.value + _PhotoStruct.requests.offset).value = self.requests
            ctypes.c_uint64.from_address(pointer.value + _PhotoStruct.bytes_read.offset).value = self.fetched
        return status, pointer

    def next_range(self, pointer, previous):
        """(start, length) to fetch next, or None when the read is done."""
        at = pointer.value
        if ctypes.c_int32.from_address(at + _PhotoStruct.ending.offset).value != _NEEDS_MORE:
            return None
        start = ctypes.c_uint64.from_address(at + _PhotoStruct.next_offset.offset).value
        length = ctypes.c_uint64.from_address(at + _PhotoStruct.next_length.offset).value
        grown = max(length, previous * _GROWTH)
        # Not again what is held: the grown window stops where a held range starts.
        held_after = [offset for offset, _ in self.held if start + length <= offset < start + grown]
        length = min(held_after, default=start + grown) - start
        if self.size != _SIZE_UNKNOWN:
            length = min(length, self.size - start)
        return (start, length, 0) if length > 0 else None  # nothing left to fetch: the read is what it is


def _step(read, status, pointer, previous):
    """The next range, or None; a pointer that needs more is freed here."""
    if status != 0:
        return None
    want = read.next_range(pointer, previous)
    if want is not None:
        read.api.free(pointer.value)
    return want


def _steps(read):
    """A read as a generator: it yields each range to fetch, (start, length, tail), is sent the
    answer, and returns (status, pointer) once the library needs nothing more."""
    want = read.first()
    while True:
        if want[1] > 0:
            read.take(want[0], want[1], (yield want))
        status, pointer = read.resume()
        following = _step(read, status, pointer, want[1])
        if following is None:
            return read.finish(status, pointer)
        want = following


async def _read_async(api, pair, size, make, name):
    read = _Read(api, pair, size)
    steps, answer = _steps(read), None
    try:
        while True:
            start, length, tail = steps.send(answer)
            answer = await _fetch_again(read.fs, read.path, start, start + length, tail)
    except StopIteration as done:
        return make(*done.value, name)


def _read_blocking(api, pair, size, make, name):
    read = _Read(api, pair, size)
    steps, answer = _steps(read), None
    try:
        while True:
            start, length, _ = steps.send(answer)
            answer = _fetch_blocking(read.fs, read.path, start, start + length)
    except StopIteration as done:
        return make(*done.value, name)


def read_remote(sources, make, at_once=32, names=None, sizes=None):
    """What `make(status, pointer, name)` makes of each remote source's read, in order, or the
    exception its read raised (a missing object's FileNotFoundError...). Sources on an async
    filesystem are read `at_once` at a time on its event loop; others on as many threads."""
    import asyncio  # loaded with the first remote read: the module itself stays light
    api = _load_api()
    pairs = [_pair(source) for source in sources]
    names = names if names is not None else [path for _, path in pairs]
    sizes = sizes if sizes is not None else [None] * len(pairs)
    outcomes = [None] * len(pairs)
    by_loop = {}
    blocking = []
    for i, (fs, _) in enumerate(pairs):
        if getattr(fs, "async_impl", False) and getattr(fs, "loop", None) is not None:
            by_loop.setdefault(id(fs.loop), (fs.loop, []))[1].append(i)
        else:
            blocking.append(i)

    async def gather(indexes):
        limit = asyncio.Semaphore(at_once)

        async def one(i):
            async with limit:
                try:
                    outcomes[i] = await _read_async(api, pairs[i], sizes[i], make, names[i])
                except Exception as error:  # the store's own failure, as that source's outcome
                    outcomes[i] = error
        await asyncio.gather(*(one(i) for i in indexes))

    for loop, indexes in by_loop.values():
        asyncio.run_coroutine_threadsafe(gather(indexes), loop).result()
    if blocking:
        with concurrent.futures.ThreadPoolExecutor(max_workers=at_once) as pool:
            futures = {i: pool.submit(_read_blocking, api, pairs[i], sizes[i], make, names[i]) for i in blocking}
            for i, future in futures.items():
                try:
                    outcomes[i] = future.result()
                except Exception as error:
                    outcomes[i] = error
    return outcomes
