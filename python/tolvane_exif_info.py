# SPDX-License-Identifier: MIT
"""TolvaneEXIFInfo from Python, through ctypes (no build step).

    import tolvane_exif_info as tei
    photo = tei.read("photo.jpg")             # a path, bytes in memory, or a binary file
    photo.ISOequivalent, photo.ExposureTime   # 200, 0.004000000189989805: typed, every bit
    photo.thumbnail, photo.ending             # b'\xff\xd8...' or None, Ending.START_OF_SCAN
    print(tei.report("photo.jpg"))            # the report text, CR LF line ends
    tei.fields("photo.jpg")["ISOequivalent"]  # 200: the report's values under its keys

read() uses libexifinfo (the reentrant C API): the library named by the environment variable
EXIFINFO_LIBRARY when it is set, else libexifinfo.so.1 through the system's loader. Reads run
in parallel from any number of threads: ctypes lets go of the interpreter lock during a call.
The module has three parts, fenced below: 1. report() and fields(), 2. read() and its
Photo, 3. record(), the objects exifinfo --json prints.

report() and fields() give the report of read(path): for a JPEG the very text EXIFInfo
returns, with nothing printed. report() with an output path calls EXIFInfo of
libTOLVANEEXIFINFO itself: the library named by TOLVANE_EXIF_INFO_LIBRARY when it is set, else
libTOLVANEEXIFINFO.so.1; that call takes a lock, since that library's report buffer is shared.
"""
import bisect
import collections
import concurrent.futures
import ctypes
import datetime
import enum
import functools
import errno
import io
import itertools
import operator
import os
import struct
import sys
import threading

LIBRARY_VARIABLE = "TOLVANE_EXIF_INFO_LIBRARY"
SONAME = "libTOLVANEEXIFINFO.so.1"

TEXT_KEYS = (("Version", "Version: "), ("CameraMake", "Camera Make: "), ("CameraModel", "CameraModel: "),
             ("DateTime", "DateTime: "), ("Comments", "Comments: "))
INT_KEYS = ("Height", "Width", "Orientation", "IsColor", "Process", "FlashUsed", "Whitebalance", "MeteringMode",
            "ExposureProgram", "ISOequivalent", "CompressionLevel")
DATA_KEYS = ("Height", "Width", "Orientation", "IsColor", "Process", "FlashUsed", "FocalLength", "ExposureTime",
             "ApertureFNumber", "Distance", "CCDWidth", "ExposureBias", "Whitebalance", "MeteringMode",
             "ExposureProgram", "ISOequivalent", "CompressionLevel", "FocalplaneXRes", "FocalplaneYRes",
             "FocalplaneUnits", "Xresolution", "Yresolution", "ResolutionUnit", "Brightness")

API_LIBRARY_VARIABLE = "EXIFINFO_LIBRARY"
API_SONAME = "libexifinfo.so.1"

# ==== 1. report() and fields(): the report text, and EXIFInfo of libTOLVANEEXIFINFO ====

_lock = threading.Lock()  # the library's report buffer is shared: calls must not overlap
_library = None


def _open_library(variable, soname):
    named = os.environ.get(variable)
    target = named if named else soname
    how = f"{variable}={named}" if named else f"{soname} through the system's loader"
    try:
        return ctypes.CDLL(target)
    except OSError as error:
        hint = (f"check the path in {variable}" if named else
                f"install the library where the loader finds it, or set {variable} to its path")
        raise OSError(f"cannot load the TolvaneEXIFInfo library: tried {how}: {error}; {hint}") from None


def _load():
    global _library
    if _library is not None:
        return _library
    library = _open_library(LIBRARY_VARIABLE, SONAME)
    library.EXIFInfo.argtypes = [ctypes.c_wchar_p, ctypes.c_wchar_p]
    library.EXIFInfo.restype = ctypes.c_wchar_p
    _library = library
    return library


def report(path, output_path=""):
    """The report of the photo at `path`; the report of defaults when it cannot be read.

    Without `output_path` it comes from libexifinfo (read(path).report), so nothing is printed
    and any container is read; for a JPEG it is the very text EXIFInfo returns. With
    `output_path`, EXIFInfo itself is called (a JPEG reader) and also writes the report there.
    """
    target = os.fspath(output_path)
    if target:
        library = _load()
        with _lock:
            return library.EXIFInfo(os.fspath(path), target)
    try:
        return read_path(path).report
    except OSError:
        return read_bytes(b"").report  # what EXIFInfo returns for a file it cannot read


def parse(text):
    """The report text's values under its keys: texts as str, integers as int, others as float."""
    values = {}
    data_at = text.rfind("\r\nData:\r\n")
    if data_at < 0:
        raise ValueError("not a report: no Data: line")
    head = text[:data_at + 2]
    at = 0
    for i, (key, label) in enumerate(TEXT_KEYS):
        if not head.startswith(label, at):
            raise ValueError(f"not a report: expected {label!r}")
        at += len(label)
        # A text may hold line ends itself: it runs up to the next label (or the Data: line).
        end = head.find("\r\n" + TEXT_KEYS[i + 1][1], at) if i + 1 < len(TEXT_KEYS) else len(head) - 2
        values[key] = head[at:end]
        at = end + 2
    lines = text[data_at + len("\r\nData:\r\n"):].split("\r\n")
    if lines[-1] != "" or len(lines) != len(DATA_KEYS) + 1:
        raise ValueError("not a report: wrong number of data lines")
    for key, line in zip(DATA_KEYS, lines):
        name, _, value = line.partition("=")
        if name != key:
            raise ValueError(f"not a report: expected {key}, found {name}")
        values[key] = int(value) if key in INT_KEYS else float(value)
    return values


def fields(path):
    """The report's values of the photo at `path`, as a dict of typed values. A path that cannot
    be opened raises the matching OSError, as read() does."""
    return parse(read_path(path).report)


# ==== 2. read(): typed values through libexifinfo ====

_TEXT, _INT32, _FLOAT, _DOUBLE = 0, 1, 2, 3
_CTYPES = {_TEXT: ctypes.c_char_p, _INT32: ctypes.c_int32, _FLOAT: ctypes.c_float, _DOUBLE: ctypes.c_double}
_REPORT_FIELDS = 29  # the field table's first entries are the report's values


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
    ]


def _struct_code(ctype):
    """The struct-module code of a member, for the one unpack of a whole result."""
    if ctype in (ctypes.c_char_p, ctypes.c_void_p, ctypes.c_size_t):
        return "Q" if ctypes.sizeof(ctype) == 8 else "I"
    return {ctypes.c_int32: "i", ctypes.c_uint32: "I", ctypes.c_float: "f", ctypes.c_double: "d",
            ctypes.c_uint64: "Q"}[ctype]


# exifinfo_read_source's callback and source, and exifinfo_read_many's input (exifinfo.h).
_READ_AT = ctypes.CFUNCTYPE(ctypes.c_int64, ctypes.c_void_p, ctypes.c_uint64, ctypes.c_void_p, ctypes.c_size_t,
                            ctypes.POINTER(ctypes.c_int))


class _Source(ctypes.Structure):
    _fields_ = [("read_at", _READ_AT), ("context", ctypes.c_void_p), ("size", ctypes.c_uint64)]


class _Input(ctypes.Structure):
    _fields_ = [("path", ctypes.c_char_p), ("data", ctypes.c_void_p), ("size", ctypes.c_size_t), ("fd", ctypes.c_int)]


class _Api:
    """libexifinfo, with its result read by member name from _PhotoStruct."""

    def __init__(self):
        lib = _open_library(API_LIBRARY_VARIABLE, API_SONAME)
        photo_pp = ctypes.POINTER(ctypes.c_void_p)
        for name, args in (("exifinfo_read_path", [ctypes.c_char_p, photo_pp]),
                           ("exifinfo_read_fd", [ctypes.c_int, photo_pp]),
                           ("exifinfo_read_memory", [ctypes.c_void_p, ctypes.c_size_t, photo_pp])):
            getattr(lib, name).argtypes = args
            getattr(lib, name).restype = ctypes.c_int
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
        lib.exifinfo_ending_name.restype = ctypes.c_char_p
        lib.exifinfo_container_name.restype = ctypes.c_char_p
        lib.exifinfo_version.restype = ctypes.c_char_p
        self.lib = lib
        self.read_path = lib.exifinfo_read_path
        self.version = lib.exifinfo_version().decode()

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

        # The report's values: the library's field table, whose every entry must be the member
        # of the same name, type and place here.
        table = [(lib.exifinfo_field_name(i).decode(), lib.exifinfo_field_type(i), lib.exifinfo_field_offset(i))
                 for i in range(lib.exifinfo_field_count())]
        for name, kind, offset in table:
            member = getattr(_PhotoStruct, name, None)
            declared = dict(_PhotoStruct._fields_).get(name)
            if member is None or member.offset != offset or declared is not _CTYPES.get(kind):
                raise ImportError(f"libexifinfo's field {name} (type {kind}, offset {offset}) is not this "
                                  f"module's member of that name")
        self.names = tuple(name for name, _, _ in table)
        self.float_fields = frozenset(name for name, kind, _ in table if kind == _FLOAT)
        # The values added since the report: absent is "" (a text), -1 (an integer) or NaN.
        self.extra_names = self.names[_REPORT_FIELDS:]
        self.extra_ints = tuple(k for k, (_, kind, _) in enumerate(table) if k >= _REPORT_FIELDS and kind == _INT32)
        self.extra_doubles = tuple(k for k, (_, kind, _) in enumerate(table) if kind == _DOUBLE)

        # Every member in one unpack of the struct's bytes, each then taken by its name.
        members = [name for name, _ in _PhotoStruct._fields_]
        layout, at = "=", 0
        for name, ctype in _PhotoStruct._fields_:
            offset = getattr(_PhotoStruct, name).offset
            code = _struct_code(ctype)
            layout += "x" * (offset - at) + code
            at = offset + struct.calcsize("=" + code)
        self.unpack = struct.Struct(layout).unpack_from
        index = {name: i for i, name in enumerate(members)}
        self.values_of = operator.itemgetter(*(index[name] for name in self.names))
        self.text_positions = tuple(k for k, name in enumerate(self.names)
                                    if dict(_PhotoStruct._fields_)[name] is ctypes.c_char_p)
        # The texts' pointers, in the values' order, taken from an unpacked result at once.
        self.text_pointers = operator.itemgetter(*(index[self.names[k]] for k in self.text_positions))
        self.at = index
        self.tail = operator.itemgetter(*(index[name] for name in (
            "report", "report_length", "last_error", "HasExif", "thumbnail", "thumbnail_size", "ending", "read_errno",
            "thumbnail_offset", "container", "requests", "bytes_read")))
        self.endings = []
        while (name := lib.exifinfo_ending_name(len(self.endings))) is not None:
            self.endings.append(name.decode())
        self.containers = []
        while (name := lib.exifinfo_container_name(len(self.containers))) is not None:
            self.containers.append(name.decode())


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
        api = _load_api()
        ending = enum.Enum("Ending", [(n.upper(), n) for n in api.endings], type=str, module=__name__)
        api.ending_members = [ending(n) for n in api.endings]
        container = enum.Enum("Container", [(n.upper(), n) for n in api.containers], type=str, module=__name__)
        api.container_members = [container(n) for n in api.containers]
        base = collections.namedtuple("Photo", api.names + ("has_exif", "thumbnail", "ending", "read_errno",
                                                            "thumbnail_offset", "last_error", "report",
                                                            "container", "requests", "bytes_read"))
        photo = type("Photo", (_PhotoMethods, base), {"__slots__": (), "__module__": __name__})
        photo.__doc__ = ("One photo's values: the report's 29 under its keys, the values added since (GPS, "
                         "time zones, lens and body; None when absent), has_exif, thumbnail (bytes or None), "
                         "ending (an Ending), read_errno, thumbnail_offset, last_error, report and "
                         "container (a Container: Container.JPEG, Container.HEIF...), requests and bytes_read "
                         "(what the read asked of its file or source); capture_time and gps.")
        _ending, _container, _photo_type = ending, container, photo
    return _ending, _photo_type


def __getattr__(name):
    if name == "Ending":
        return _types()[0]
    if name == "Photo":
        return _types()[1]
    if name == "Container":
        _types()
        return _container
    if name == "__version__":
        return _load_api().version
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def _result(status, pointer, filename=None):
    """The Photo of a call's result, freed here; an OSError or MemoryError for its errno."""
    if status != 0:
        if status == errno.ENOMEM:
            raise MemoryError("libexifinfo: out of memory")
        raise OSError(status, os.strerror(status), filename)
    api = _api
    photo_type = _photo_type or _types()[1]
    address = pointer.value
    try:
        # One copy of the struct and what follows it up to the UTF-8 report's end: the library
        # lays the texts out there, and they are sliced from the copy. A text found elsewhere
        # (another layout) is copied on its own.
        head = api.unpack(ctypes.string_at(address, api.size))
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
                   api.container_members[container], requests, bytes_read)
        return photo_type._make(values)
    finally:
        api.free(address)


def read_path(path):
    """The Photo of the file at `path`: str, bytes or path-like; any file name, UTF-8 or not."""
    api = _api or _load_api()
    # os.fsencode, spelled out for str: the common case, and this is the hot path.
    name = path.encode(_FS_ENCODING, "surrogateescape") if type(path) is str else os.fsencode(path)
    pointer = ctypes.c_void_p()
    return _result(api.read_path(name, ctypes.byref(pointer)), pointer, path)


def read_bytes(data):
    """The Photo of a JPEG held in memory: bytes, bytearray, memoryview or any buffer."""
    api = _load_api()
    pointer = ctypes.c_void_p()
    if isinstance(data, bytes):
        buffer = data
    else:
        view = memoryview(data)
        buffer = (ctypes.c_char * view.nbytes).from_buffer(view) if not view.readonly and view.contiguous \
            else bytes(view)
    return _result(api.lib.exifinfo_read_memory(buffer, len(buffer) if isinstance(buffer, bytes)
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


def _read_through(file, read_at, size):
    """The Photo of `file` read through the library's callback `read_at` (which appends what the
    object raised to its `failures`, for the caller to raise once the library returns)."""
    api = _load_api()
    source = _Source(_READ_AT(read_at), None, size)
    pointer = ctypes.c_void_p()
    status = api.lib.exifinfo_read_source(ctypes.byref(source), ctypes.byref(pointer))
    if read_at.failures:
        if pointer.value:
            api.free(pointer.value)
        raise read_at.failures[0]
    return _result(status, pointer, _source_name(file))


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


def _read_ranges_of(file):
    """The Photo of a file object that can seek but has no descriptor (io.BytesIO, a remote
    file such as fsspec's): the library asks for the ranges it needs through seek and read, and
    an exception the object raises reaches the caller unchanged. The position is kept."""
    start = file.tell()
    size = file.seek(0, io.SEEK_END) - start

    def answer(offset, length):
        file.seek(start + offset)
        return _answer_of(file, file.read(length), length)

    try:
        return _read_through(file, _callback(answer), max(size, 0))
    finally:
        file.seek(start)


def _read_stream_of(file):
    """The Photo of a file object that cannot seek (a pipe, a socket, a decompressor): read
    forward only as far as the library asks, keeping what it gave up to _STREAM_BOUND."""
    chunks, starts = [], []  # what the stream gave, and each chunk's offset
    state = {"kept": 0, "ended": False}

    def answer(offset, length):
        end = min(offset + length, _STREAM_BOUND)
        while state["kept"] < end and not state["ended"]:
            want = min(end - state["kept"], 1 << 20)  # pieces: no transient copy of a long run
            data = _answer_of(file, file.read(want), want)
            if not data:
                state["ended"] = True
                break
            starts.append(state["kept"])
            chunks.append(data)
            state["kept"] += len(data)
        if offset >= state["kept"]:
            return b""
        k = bisect.bisect_right(starts, offset) - 1
        pieces, at = [], offset
        while at < min(offset + length, state["kept"]):
            piece = chunks[k][at - starts[k]:offset + length - starts[k]]
            pieces.append(piece)
            at += len(piece)
            k += 1
        return b"".join(pieces)

    return _read_through(file, _callback(answer), _SIZE_UNKNOWN)


_SIZE_UNKNOWN = (1 << 64) - 1


def read_file(file):
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
        return _read_ranges_of(file) if ranged else _read_stream_of(file)
    # The object may have read ahead of its position: read from its position, then put the
    # descriptor back where the object's buffer expects it.
    raw = os.lseek(fd, 0, os.SEEK_CUR)
    os.lseek(fd, file.tell(), os.SEEK_SET)
    pointer = ctypes.c_void_p()
    try:
        return _result(api.lib.exifinfo_read_fd(fd, ctypes.byref(pointer)), pointer, getattr(file, "name", None))
    finally:
        os.lseek(fd, raw, os.SEEK_SET)


def read(source):
    """The Photo of a photo in any known container (JPEG, HEIF, TIFF and raw, PNG, WebP...): a path
    (str or path-like), bytes-like data, or a binary file object.

    A path that cannot be opened raises the matching OSError (FileNotFoundError,
    IsADirectoryError...); running out of memory raises MemoryError. A file in no known container
    is a Photo whose ending says so. Bytes are data: pass a file name held in bytes to
    read_path(), or as a path-like object.
    """
    if _is_path(source):
        return read_path(source)
    if isinstance(source, (bytes, bytearray, memoryview)):
        return read_bytes(source)
    if hasattr(source, "read"):
        return read_file(source)
    try:
        return read_bytes(memoryview(source))
    except TypeError:
        raise TypeError(f"read() takes a path, bytes-like data or a binary file, not {type(source).__name__}") from None


# Results converted a chunk at a time while the library reads the next chunks; at most this many
# chunks wait, so a batch of any size holds a bounded number of results in C memory.
_CHUNK = 128
_CHUNKS_AHEAD = 4


def _is_path(source):
    return type(source) is str or hasattr(source, "__fspath__")


def _opens_to_file(source):
    """True for an object that is opened to give a file (fsspec's OpenFile): `with source as f`."""
    return not hasattr(source, "read") and hasattr(source, "open") and hasattr(source, "__enter__")


def _read_opened(source):
    with source as file:
        return read(file)


def read_many(sources, threads=2, errors="raise"):
    """The Photos of many sources, in order, read on `threads` threads with the interpreter lock
    released while they read.

    Paths, bytes-like data and files on a descriptor are read by the library's own threads, a
    chunk at a time, while the calling thread turns finished chunks into Photos. File objects
    without a descriptor (a remote file, io.BytesIO) and objects that open to a file (fsspec's
    OpenFile, opened and closed here) are read by ranges on `threads` Python threads at once:
    their waits on storage overlap.

    A source that cannot be read raises as read() would (the first such source's error,
    exceptions of file objects unchanged), once the batch is done; with errors="return" its
    place in the list holds that exception instead, and the others are read all the same.
    """
    if errors not in ("raise", "return"):
        raise ValueError(f'errors must be "raise" or "return", not {errors!r}')
    api = _load_api()
    photo_type = _photo_type or _types()[1]
    threads = max(int(threads), 1)
    sources = list(sources)
    count = len(sources)
    outcomes = [None] * count  # a Photo, or the exception its source raised
    direct, entries, ranged, keep = [], [], [], []  # entries: the _Input of each direct source
    for i, source in enumerate(sources):
        if type(source) is str:  # the common case first
            direct.append(i)
            entries.append((source.encode(_FS_ENCODING, "surrogateescape"), None, 0, -1))
            continue
        if _is_path(source):
            direct.append(i)
            entries.append((os.fsencode(source), None, 0, -1))
            continue
        if _opens_to_file(source):
            ranged.append((i, _read_opened))
            continue
        if not isinstance(source, (bytes, bytearray, memoryview)) and hasattr(source, "read"):
            try:
                seekable = source.seekable()
            except (AttributeError, OSError, ValueError):
                seekable = False
            if not seekable:
                ranged.append((i, _read_stream_of))  # a stream (a pipe): forward, within the bound
                continue
            # The library reads a descriptor from its offset: a file without one, or whose
            # object has read ahead of its own position, is read through the object.
            try:
                fd = source.fileno()
                if os.lseek(fd, 0, os.SEEK_CUR) == source.tell():
                    direct.append(i)
                    entries.append((None, None, 0, fd))
                    continue
            except (AttributeError, OSError, ValueError):
                pass
            ranged.append((i, _read_ranges_of))
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

    pool, futures = None, []
    if ranged:
        pool = concurrent.futures.ThreadPoolExecutor(max_workers=min(threads, len(ranged)))
        # An object listed twice is read once: two threads must not seek one file at once.
        submitted = {}
        for i, reader in ranged:
            source = sources[i]
            if id(source) not in submitted:
                submitted[id(source)] = pool.submit(reader, source)
            futures.append((i, submitted[id(source)]))
    inputs = (_Input * max(len(direct), 1))(*entries)
    pointers = (ctypes.c_void_p * max(len(direct), 1))()
    statuses = (ctypes.c_int * max(len(direct), 1))()
    chunks = [(k, min(k + _CHUNK, len(direct))) for k in range(0, len(direct), _CHUNK)]
    worker = None
    try:
        def read_chunk(begin, end, readers):
            api.lib.exifinfo_read_many(ctypes.addressof(inputs) + begin * ctypes.sizeof(_Input), end - begin, readers,
                                       ctypes.addressof(pointers) + begin * ctypes.sizeof(ctypes.c_void_p),
                                       ctypes.addressof(statuses) + begin * ctypes.sizeof(ctypes.c_int))

        def convert(begin, end):
            for k in range(begin, end):
                i, pointer, status = direct[k], ctypes.c_void_p(pointers[k]), statuses[k]
                pointers[k] = None  # _result frees it
                name = None
                if status:
                    name = sources[i] if _is_path(sources[i]) else getattr(sources[i], "name", None)
                try:
                    outcomes[i] = _result(status, pointer, name)
                except (OSError, MemoryError) as error:
                    outcomes[i] = error

        if threads == 1 or len(chunks) < 2:
            for begin, end in chunks:
                read_chunk(begin, end, 1)
                convert(begin, end)
        else:
            # This thread makes the Photos of one chunk while threads - 1 of the library's read
            # the next ones (turning a result into a Photo takes about as long as the read).
            done = [threading.Semaphore(0) for _ in chunks]
            room = threading.Semaphore(_CHUNKS_AHEAD)
            failed = []

            def reader():
                try:
                    for n, (begin, end) in enumerate(chunks):
                        room.acquire()
                        read_chunk(begin, end, threads - 1)
                        done[n].release()
                except BaseException as error:  # never leave the converting thread waiting
                    failed.append(error)
                    for each in done:
                        each.release()

            worker = threading.Thread(target=reader, daemon=True)
            worker.start()
            for n, (begin, end) in enumerate(chunks):
                done[n].acquire()
                if failed:
                    raise failed[0]
                convert(begin, end)
                room.release()
        for i, future in futures:
            try:
                outcomes[i] = future.result()
            except BaseException as error:  # the file object's own exception, as read() raises it
                outcomes[i] = error
    finally:
        if worker is not None:  # an interrupted batch: let the reader finish, free what is left
            for _ in chunks:
                room.release()
            worker.join()
        for pointer in pointers:
            if pointer:
                api.free(pointer)
        if pool is not None:
            pool.shutdown(wait=True)
    if errors == "raise":
        for outcome in outcomes:
            if not isinstance(outcome, photo_type):
                raise outcome
    return outcomes


# ==== 3. the objects of exifinfo --json ====

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
