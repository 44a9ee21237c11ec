# SPDX-License-Identifier: MIT
"""The Python module against the built libraries. Run with TOLVANE_EXIF_INFO_LIBRARY and
EXIFINFO_LIBRARY set, the module's folder on PYTHONPATH, EXIFINFO_SAMPLE and EXIFINFO_TOOL
naming the files, and EXIFINFO_CORPUS the shared corpus (optional)."""
import io
import json
import math
import os
import pathlib
import shutil
import struct
import threading
import types
import subprocess
import tempfile
import sys
import unittest

import tolvane_exif_info as tei

SAMPLE = os.environ["EXIFINFO_SAMPLE"]
TOOL = os.environ["EXIFINFO_TOOL"]


class Broken(io.BytesIO):
    """A remote file whose store went away: its reads raise."""

    def read(self, *args):
        raise KeyError("storage went away")


class Stream(io.RawIOBase):
    """A pipe's file object: forward reads only, short reads allowed, no descriptor."""

    def __init__(self, data, piece=1000):
        self.data, self.at, self.piece = memoryview(data), 0, piece

    def readable(self):
        return True

    def readinto(self, buffer):
        n = min(len(buffer), self.piece, len(self.data) - self.at)
        buffer[:n] = self.data[self.at:self.at + n]
        self.at += n
        return n


class Answers(io.BytesIO):
    """A remote file whose read(n) answers what `answer(n, data)` makes of the n bytes asked."""

    def __init__(self, data, answer, seekable=True):
        super().__init__(data)
        self.answer, self.can_seek = answer, seekable

    def seekable(self):
        return self.can_seek

    def read(self, n=-1):
        return self.answer(n, super().read(n))


class RangesTest(unittest.TestCase):
    def test_an_answer_that_is_no_bytes_of_the_length_asked_is_the_objects_error(self):
        data = pathlib.Path(SAMPLE).read_bytes()
        answers = {"100,000 bytes too many": lambda n, got: got + b"\0" * 100000,
                   "one byte too many": lambda n, got: got.ljust(n + 1, b"\0"),
                   "the whole object": lambda n, got: data * 3,
                   "str": lambda n, got: got.decode("latin-1"),
                   "None": lambda n, got: None,
                   "a number": lambda n, got: len(got)}
        for what, answer in answers.items():
            for seekable in (True, False):
                with self.subTest(what, seekable=seekable):
                    source = Answers(data, answer, seekable)
                    with self.assertRaisesRegex(OSError, r"read\(\d+\) of a file object gave") as raised:
                        tei.read(source)
                    self.assertEqual(raised.exception.filename, repr(source))
                    got = tei.read_many([source, SAMPLE], errors="return")
                    self.assertRegex(got[0]["error"], r"^cannot read: read\(\d+\) of a file object gave")
                    self.assertEqual((got[1]["Make"], got[1]["error"]), ("Tolvane Optics", None))
        fine = Answers(data, lambda n, got: bytearray(got))  # bytes-like of the length asked is data
        self.assertEqual(tei.read(fine).Make, "Tolvane Optics")

    def test_a_stream_is_read_forward_within_the_bound(self):
        # 1 GiB through a pipe: a TIFF whose only directory lies 60 MiB in (Make "Far"). The
        # reader follows it forward, keeps no more than the bound, and leaves the rest unread.
        writer = ("import struct, sys\nout = sys.stdout.buffer\nat = 60 << 20\n"
                  "head = b'II*\\0' + struct.pack('<I', at)\nout.write(head + bytes(at - len(head)))\n"
                  "out.write(struct.pack('<HHHI4sI', 1, 0x10F, 2, 4, b'Far\\0', 0))\nwritten = at + 18\n"
                  "try:\n    for _ in range(1024):\n        out.write(bytes(1 << 20)); written += 1 << 20\n"
                  "except BrokenPipeError:\n    pass\nsys.stderr.write(str(written))\n")
        child = ("import resource, subprocess, sys, tolvane_exif_info as tei\n"
                 "writer = subprocess.Popen([sys.executable, '-c', sys.argv[1]], stdout=subprocess.PIPE,"
                 " stderr=subprocess.PIPE)\n"
                 "photo = tei.read(writer.stdout)\n"
                 "writer.stdout.close(); written = writer.stderr.read().decode(); writer.wait()\n"
                 "print(photo.Make, written, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024)\n")
        out = subprocess.run([sys.executable, "-c", child, writer], capture_output=True, text=True,
                             check=True).stdout.split()
        self.assertEqual(out[0], "Far")
        self.assertLess(int(out[1]), 100 << 20)  # of the 1 GiB offered
        self.assertLess(int(out[2]), 80, "peak MiB")

    def test_read_many_refuses_a_source_of_no_known_type_as_that_sources_error(self):
        got = tei.read_many([None, SAMPLE, 12345, object()], errors="return")
        for k in (0, 2, 3):
            self.assertIn("read_many() takes paths", got[k]["error"])
            self.assertIsNone(got[k]["Make"])
        self.assertEqual(got[1]["Make"], "Tolvane Optics")
        with self.assertRaises(TypeError):
            tei.read_many([SAMPLE, 12345])

    def test_a_file_object_without_a_descriptor_is_read_by_ranges(self):
        data = pathlib.Path(SAMPLE).read_bytes()
        padded = io.BytesIO(b"x" * 10 + data + b"\0" * 500000)  # read from its position
        padded.seek(10)
        photo = tei.read(padded)
        self.assertEqual(tei.record("p", photo), tei.record("p", tei.read(data)))
        self.assertEqual(padded.tell(), 10)
        self.assertEqual(photo.requests, 1)  # one range, not the half megabyte
        self.assertLess(photo.bytes_read, 200000)

    def test_a_video_of_2_gib_with_its_movie_box_last_takes_the_head_and_the_tail(self):
        def box(kind, body):
            return struct.pack(">I", 8 + len(body)) + kind + body
        mvhd = box(b"mvhd", bytes(4) + struct.pack(">IIII", 3818631845, 3818632140, 600, 2401) + bytes(80))
        matrix = struct.pack(">9i", 0, 0x10000, 0, -0x10000, 0, 0, 0, 0, 0x40000000)
        tkhd = box(b"tkhd", bytes(4 + 20 + 16) + matrix + struct.pack(">II", 1920 << 16, 1080 << 16))
        hdlr = box(b"hdlr", bytes(4) + b"mhlr" + b"vide" + bytes(13))
        moov = box(b"moov", mvhd + box(b"trak", tkhd + box(b"mdia", hdlr)))
        ftyp = box(b"ftyp", b"qt  " + bytes(4) + b"qt  ")
        size = 2 << 30
        mdat = struct.pack(">I", 1) + b"mdat" + struct.pack(">Q", size - len(ftyp) - len(moov))

        class Sparse(io.RawIOBase):  # a file object with no descriptor, counting what it is asked
            def __init__(self):
                self.at, self.reads, self.given = 0, 0, 0

            def readable(self):
                return True

            def seekable(self):
                return True

            def seek(self, offset, whence=0):
                self.at = offset if whence == 0 else (self.at + offset if whence == 1 else size + offset)
                return self.at

            def tell(self):
                return self.at

            def readinto(self, buffer):
                n = max(0, min(len(buffer), size - self.at))
                chunk = bytearray(n)
                for start, data in ((0, ftyp + mdat), (size - len(moov), moov)):
                    lo, hi = max(start, self.at), min(start + len(data), self.at + n)
                    if lo < hi:
                        chunk[lo - self.at:hi - self.at] = data[lo - start:hi - start]
                buffer[:n] = chunk
                self.at += n
                self.reads += 1
                self.given += n
                return n

        source = Sparse()
        photo = tei.read(source)
        self.assertEqual(photo.container, tei.Container.MOV)
        self.assertEqual((photo.ImageWidth, photo.ImageHeight, photo.Rotation), (1920, 1080, 90))
        self.assertEqual((photo.CreateDate, photo.CaptureTime, photo.CaptureTimeSource),
                         ("2025:01:02 03:04:05", "2025-01-02T03:04:05Z", "mvhd"))
        self.assertAlmostEqual(photo.Duration, 2401 / 600)
        self.assertLessEqual(photo.requests, 3)
        self.assertLess(source.given, 1 << 20)

    def test_an_exception_in_the_file_object_reaches_the_caller(self):
        with self.assertRaises(KeyError):
            tei.read(Broken(b"\xff\xd8" * 100))

    def test_read_many_gives_what_read_gives_in_order(self):
        data = pathlib.Path(SAMPLE).read_bytes()

        class Opener:  # opens to a file, as fsspec's OpenFile does
            opened = closed = 0

            def open(self):
                return io.BytesIO(data)

            def __enter__(self):
                Opener.opened += 1
                return self.open()

            def __exit__(self, *exc):
                Opener.closed += 1

        expected = tei.record("p", tei.read(data))
        with open(SAMPLE, "rb") as f:
            kinds = [SAMPLE, data, io.BytesIO(data), f, pathlib.Path(SAMPLE), Opener(), b"no photo"]
            # More sources than one chunk, so the reads of later chunks overlap the conversions;
            # each object listed 60 times (read once, not by two threads at once), then new ones.
            sources = kinds * 60 + [io.BytesIO(data) for _ in range(20)] + [Opener() for _ in range(20)]
            for threads in (1, 2, 8):
                got = tei.read_many(sources, threads=threads)
                self.assertEqual(len(got), len(sources))
                for source, photo in zip(sources, got):
                    if isinstance(source, bytes) and source == b"no photo":
                        self.assertEqual(photo.container, tei.Container.UNKNOWN)
                    else:
                        self.assertEqual(tei.record("p", photo), expected)
                f.seek(0)
        self.assertEqual((Opener.opened, Opener.closed), (63, 63))
        with tempfile.NamedTemporaryFile() as padded:  # a buffered file read ahead of its position
            padded.write(b"x" * 10 + data)
            padded.flush()
            with open(padded.name, "rb") as f:
                f.read(10)
                self.assertEqual(tei.record("p", tei.read_many([f])[0]), expected)
                self.assertEqual(f.tell(), 10)
        gone = "/nonexistent/photo.jpg"
        with self.assertRaises(FileNotFoundError):
            tei.read_many([SAMPLE] * 300 + [gone])
        with self.assertRaises(KeyError):  # a file object's own exception, unchanged
            tei.read_many([SAMPLE, Broken(data)], threads=2)
        got = tei.read_many([gone, SAMPLE, Broken(data)], threads=2, errors="return")
        self.assertEqual((got[0]["path"], got[0]["error"]), (gone, "cannot open: No such file or directory"))
        self.assertEqual(dict(got[1], path="p"), expected)
        self.assertIsNotNone(got[2]["error"])  # the file object's own exception, as text
        # A table of the batch, the unreadable file a row of its own.
        try:
            import pandas
        except ImportError:
            return
        table = pandas.DataFrame(got)
        self.assertEqual(list(table.columns), list(expected))
        self.assertEqual(table["error"].notna().tolist(), [True, False, True])


    def test_records_are_the_tools_lines_for_every_kind_of_source(self):
        corpus = os.environ.get("EXIFINFO_CORPUS", "")
        paths = [SAMPLE, "/nonexistent/photo.jpg"]
        if os.path.isdir(corpus):
            paths += sorted(os.path.join(corpus, n) for n in os.listdir(corpus) if n.endswith(".jpg"))
        tool = subprocess.run([TOOL, "--json", *paths], capture_output=True).stdout
        for threads in (1, 2):
            self.assertEqual(tei.records(paths, threads=threads, lines=True), tool)
        data = pathlib.Path(SAMPLE).read_bytes()
        expected = tei.record("p", tei.read(data))
        with open(SAMPLE, "rb") as f:
            kinds = [SAMPLE, data, io.BytesIO(data), f, pathlib.Path(SAMPLE), b"no photo", Broken(data)]
            names = [f"n{k}" for k in range(len(kinds))]
            got = tei.records(kinds * 3, names=names * 3, threads=2, skip_unknown=True)
            self.assertEqual(len(got), 6 * 3)  # b"no photo" gives no record
            for k, record in enumerate(got):
                name = names[[0, 1, 2, 3, 4, 6][k % 6]]
                self.assertEqual(record["path"], name)
                if name == "n6":  # the file object's own exception, as text
                    self.assertIsNotNone(record["error"])
                else:
                    self.assertEqual(dict(record, path="p"), expected)
            f.seek(0)
            lines = tei.records(kinds, names=names, lines=True)
            buffer = io.BytesIO()
            self.assertEqual(tei.write_records(kinds, buffer, names=names), len(kinds))
            with tempfile.TemporaryDirectory() as folder:
                written = os.path.join(folder, "lines.jsonl")
                self.assertEqual(tei.write_records(kinds, written, names=names), len(kinds))
                self.assertEqual(pathlib.Path(written).read_bytes(), lines)
            self.assertEqual(buffer.getvalue(), lines)
        with self.assertRaises(TypeError):
            tei.records([SAMPLE, None])
        try:
            import fsspec
        except ImportError:
            return
        # (filesystem, path) pairs on a store without an event loop: fetched range by range.
        fs = fsspec.filesystem("memory")
        fs.pipe("/photos/a.jpg", data)
        got = tei.records([(fs, "/photos/a.jpg"), (fs, "/photos/gone.jpg")])
        self.assertEqual(dict(got[0], path="p"), expected)
        self.assertEqual(got[0]["path"], "/photos/a.jpg")
        self.assertEqual(got[1]["error"], "cannot open: No such file or directory")
        photo = tei.read_many([(fs, "/photos/a.jpg")])[0]
        self.assertEqual((photo.requests, photo.bytes_read), (1, len(data)))
        self.assertEqual(tei.records(["memory://photos/a.jpg"], lines=True),  # a URL: the same photo
                         tei.records([(fs, "/photos/a.jpg")], names=["memory://photos/a.jpg"], lines=True))


class ModuleTest(unittest.TestCase):
    def test_every_container_is_named_and_read(self):
        # A PNG: IHDR 64 x 32 grey, then an eXIf chunk whose TIFF block holds Make "Tolvane".
        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + b"\0\0\0\0"
        tiff = b"II*\0\x08\0\0\0\x01\0\x0f\x01\x02\0\x08\0\0\0\x1a\0\0\0\0\0\0\0Tolvane\0"
        png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 64, 32, 8, 0, 0, 0, 0)) +
               chunk(b"eXIf", tiff) + chunk(b"IEND", b""))
        photo = tei.read(png)
        self.assertEqual(photo.container, tei.Container.PNG)
        self.assertEqual((photo.Make, photo.ImageWidth, photo.ImageHeight, photo.report_values["IsColor"]),
                         ("Tolvane", 64, 32, 0))
        self.assertEqual(photo.ending, tei.Ending.END_OF_METADATA)
        self.assertEqual(tei.record("x.png", photo)["container"], "png")
        self.assertEqual(tei.read(SAMPLE).container, "jpeg")
        self.assertEqual(tei.read(b"not a photo").container, tei.Container.UNKNOWN)
        self.assertIsNone(tei.record("gone", None, "cannot open")["container"])

    def test_a_sidecar_given_any_way_wins_and_lists_are_lists(self):
        packet = (b"<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                  b"<rdf:Description xmlns:dc='http://purl.org/dc/elements/1.1/' xmlns:xmp='http://ns.adobe.com/xap/1.0/'"
                  b" xmp:Rating='5'><dc:subject><rdf:Bag><rdf:li>bay</rdf:li><rdf:li>ferry</rdf:li></rdf:Bag></dc:subject>"
                  b"</rdf:Description></rdf:RDF></x:xmpmeta>")
        alone = tei.read(packet)
        self.assertEqual((alone.container, alone.Rating, alone.Subject, alone.Keywords), ("xmp", 5.0, ["bay", "ferry"], None))
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "sample.jpg.xmp")
            with open(path, "wb") as f:
                f.write(packet)
            for given, name in ((path, path), (pathlib.Path(path), path), (packet, ""), (io.BytesIO(packet), ""),
                                (open(path, "rb"), path)):
                with self.subTest(type(given).__name__):
                    photo = tei.read(SAMPLE, sidecar=given)
                    self.assertEqual((photo.Subject, photo.Rating, photo.sidecar), (["bay", "ferry"], 5.0, name))
                    self.assertEqual((photo.Make, photo.CaptureTimeSource), (tei.read(SAMPLE).Make, "exif"))
                    self.assertEqual(tei.record(SAMPLE, photo)["Subject"], ["bay", "ferry"])
                    if hasattr(given, "close"):
                        given.close()
            with self.assertRaises(FileNotFoundError):
                tei.read(SAMPLE, sidecar=os.path.join(folder, "gone.xmp"))

    def test_sidecar_paths_pair_as_the_tool_does(self):
        names = ["IMG_1.CR2", "IMG_1.JPG", "img_1.xmp", "IMG_2.jpg", "IMG_2.jpg.XMP", "IMG_2.xmp", "lonely.xmp",
                 "noext", "noext.xmp", ".xmp", "a.b.c", "A.B.xmp"]
        with tempfile.TemporaryDirectory() as folder:
            for name in names:
                shutil.copy(SAMPLE, os.path.join(folder, name))
            printed = subprocess.run([TOOL, "-r", "--json", "-q", folder], check=True, capture_output=True).stdout
        tool = {os.path.basename(r["path"]): os.path.basename(r["sidecar"])
                for r in map(json.loads, printed.splitlines()) if r["sidecar"]}
        self.assertEqual(tei.sidecar_paths(names), tool)
        self.assertEqual(tool["IMG_2.jpg"], "IMG_2.jpg.XMP")

    def test_where_and_when(self):
        corpus = os.environ.get("EXIFINFO_CORPUS", "")
        apple = os.path.join(corpus, "exiftool-Apple.jpg")
        if not os.path.exists(apple):
            self.skipTest("no shared corpus")
        photo = tei.read(apple)
        latitude, longitude, altitude = photo.gps
        self.assertAlmostEqual(latitude, 53.382847222, places=6)
        self.assertLess(longitude, 0)  # west
        self.assertAlmostEqual(altitude, 72.366492, places=5)
        self.assertEqual(photo.capture_time.isoformat(), "2016-09-28T18:18:05.813000")
        self.assertIsNone(photo.capture_time.tzinfo)  # no OffsetTimeOriginal: naive
        sample = tei.read(SAMPLE)
        self.assertIsNone(sample.gps)
        self.assertIsNone(sample.GPSLatitude)  # NaN in C is None here, never 0.0
        zoned = sample._replace(CaptureTime="2019-05-03T14:22:11.42+02:00")
        self.assertEqual(zoned.capture_time.utcoffset().total_seconds(), 7200)
        self.assertEqual(tei.record(SAMPLE, sample)["GPSLatitude"], None)

    def test_a_library_older_than_the_module_is_refused_at_import(self):
        # The module as it would be with one member more than this library's results have.
        source = pathlib.Path(tei._binding.__file__).read_text()
        marker = '("report_wide_length", ctypes.c_size_t),\n'
        self.assertIn(marker, source)
        newer = types.ModuleType("tolvane_exif_info.newer_module")
        newer.__package__ = "tolvane_exif_info"  # its imports of the package's other modules
        exec(compile(source.replace(marker, marker + '        ("from_the_future", ctypes.c_double),\n'),
                     "newer_module", "exec"), newer.__dict__)
        with self.assertRaisesRegex(ImportError, "older than this module"):
            newer._load_api()

    def test_report_is_the_tools_report(self):
        printed = subprocess.run([TOOL, "--crlf", SAMPLE], check=True, capture_output=True).stdout.decode("utf-8")
        self.assertEqual(tei.report(SAMPLE), printed)

    def test_fields_are_typed_under_the_report_keys(self):
        f = tei.fields(SAMPLE)
        self.assertEqual(f["CameraMake"], "Tolvane Optics")
        self.assertEqual(f["Comments"], "Sunset over the bay, from the ferry.")
        self.assertEqual((f["Width"], f["Height"], f["ISOequivalent"]), (160, 120, 200))
        self.assertIsInstance(f["Width"], int)
        self.assertAlmostEqual(f["ExposureTime"], 0.004)
        self.assertIsInstance(f["ResolutionUnit"], float)
        self.assertEqual(len(f), 29)

    def test_parse_keeps_line_ends_inside_texts_and_infinities(self):
        text = tei.report(SAMPLE).replace("Comments: Sunset", "Comments: two\r\nlines\nSunset")
        text = text.replace("Brightness=-0.550000", "Brightness=-inf")
        f = tei.parse(text)
        self.assertEqual(f["Comments"], "two\r\nlines\nSunset over the bay, from the ferry.")
        self.assertTrue(math.isinf(f["Brightness"]) and f["Brightness"] < 0)
        with self.assertRaises(ValueError):
            tei.parse("Version: \r\n")

    def test_missing_file_gives_the_report_of_defaults_and_fields_raise(self):
        f = tei.parse(tei.report("/nonexistent/photo.jpg"))
        self.assertEqual((f["Width"], f["CameraMake"], f["Brightness"]), (0, "", 0.0))
        with self.assertRaises(FileNotFoundError):
            tei.fields("/nonexistent/photo.jpg")

    def test_report_prints_nothing(self):
        # Seven fill bytes: EXIFInfo prints its "too many padding" line to standard output.
        with tempfile.NamedTemporaryFile(suffix=".jpg") as f:
            f.write(b"\xff\xd8" + b"\xff" * 8)
            f.flush()
            code = "import sys, tolvane_exif_info as t; t.report(sys.argv[1]); t.fields(sys.argv[1])"
            run = subprocess.run([sys.executable, "-c", code, f.name], capture_output=True, check=True)
            self.assertEqual(run.stdout, b"")
            self.assertEqual(tei.fields(f.name)["Width"], 0)

    def test_output_path_and_path_like(self):
        import pathlib
        with tempfile.TemporaryDirectory() as d:
            out = pathlib.Path(d) / "r.txt"
            text = tei.report(pathlib.Path(SAMPLE), out)
            self.assertEqual(out.read_bytes(), text.encode("utf-8"))

    def test_a_library_that_cannot_be_loaded_says_what_was_tried(self):
        code = "import tolvane_exif_info as t\ntry:\n  t.report('x', 'x.txt')\nexcept OSError as e:\n  print(e)\n"
        for env, expected in ((dict(os.environ, TOLVANE_EXIF_INFO_LIBRARY="/nowhere/libX.so"),
                               "tried TOLVANE_EXIF_INFO_LIBRARY=/nowhere/libX.so"),
                              ({k: v for k, v in os.environ.items() if k not in ("TOLVANE_EXIF_INFO_LIBRARY", "LD_LIBRARY_PATH")},
                               "through the system's loader")):
            out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True).stdout
            if "through" in expected and out == "":
                continue  # the library is installed system-wide here: the loader found it
            self.assertIn(expected, out)
            self.assertIn("cannot load the TolvaneEXIFInfo library", out)


def corpus_files():
    folder = os.environ.get("EXIFINFO_CORPUS", "")
    if not os.path.isdir(folder):
        return []
    return sorted(os.path.join(folder, n) for n in os.listdir(folder) if n.endswith(".jpg"))


class ReadTest(unittest.TestCase):
    def test_path_bytes_and_file_objects_give_the_same_photo(self):
        for path in [SAMPLE] + corpus_files():
            data = pathlib.Path(path).read_bytes()
            photo = tei.read(path)
            with open(path, "rb") as f:
                f.read(1)
                f.seek(0)  # read from the object's position, whatever its buffer holds
                from_file = tei.read(f)
                self.assertEqual(f.tell(), 0)
            sources = [pathlib.Path(path), os.fsencode(path).decode("utf-8"), data, bytearray(data),
                       memoryview(data), io.BytesIO(data), Stream(data)]
            # The same photo every way; only what the read asked of its file or source differs.
            for other in [from_file] + [tei.read(s) for s in sources] + [tei.read_path(os.fsencode(path))]:
                self.assertEqual(other._replace(requests=0, bytes_read=0), photo._replace(requests=0, bytes_read=0), path)
            self.assertGreaterEqual(photo.requests, 1)
            self.assertTrue(0 < photo.bytes_read <= len(data), path)
            self.assertEqual((tei.read(data).requests, tei.read(data).bytes_read), (0, 0))

    def test_values_are_the_reports_and_keep_every_bit(self):
        for path in [SAMPLE] + corpus_files():
            photo = tei.read(path)
            self.assertEqual(photo.report, tei.report(path), path)
            reported = tei.fields(path)
            for key, value in reported.items():
                typed = photo.report_values[key]
                if isinstance(value, float):
                    self.assertEqual(typed, struct.unpack("f", struct.pack("f", typed))[0])  # a single
                    self.assertEqual("%f" % typed, "%f" % value, (path, key))
                else:
                    self.assertEqual(typed, value, (path, key))

    def test_sample_values_thumbnail_and_ending(self):
        photo = tei.read(SAMPLE)
        self.assertEqual((photo.Make, photo.ImageWidth, photo.ISO), ("Tolvane Optics", 160, 200))
        self.assertEqual(photo.ExposureTime, 0.004)  # the file's rational, not the report's single
        self.assertEqual(photo.report_values["ExposureTime"], struct.unpack("f", struct.pack("f", 0.004))[0])
        self.assertIs(photo.HasExif, True)
        self.assertIsNone(photo.LensSerialNumber)  # absent: None, whatever the type
        self.assertEqual((photo.FocalLengthIn35mmFormat, photo.GPSLatitude), (None, None))
        self.assertEqual(photo.thumbnail[:2], b"\xff\xd8")
        self.assertEqual(photo.ending, tei.Ending.START_OF_SCAN)
        self.assertEqual(photo.ending, "start_of_scan")
        self.assertEqual(photo.last_error, "")
        with self.assertRaises(AttributeError):
            photo.ImageWidth = 1  # immutable

    def test_failures_are_the_errors_python_gives(self):
        with self.assertRaises(FileNotFoundError):
            tei.read("/nonexistent/photo.jpg")
        with self.assertRaises(IsADirectoryError):
            tei.read(os.path.dirname(SAMPLE))
        with self.assertRaises(TypeError):
            tei.read(42)
        not_a_jpeg = tei.read(b"GIF89a")
        self.assertEqual(not_a_jpeg.ending, tei.Ending.NOT_A_JPEG)
        self.assertEqual((not_a_jpeg.ImageWidth, not_a_jpeg.Make, not_a_jpeg.thumbnail), (None, None, None))
        self.assertEqual((not_a_jpeg.report_values["Width"], not_a_jpeg.report_values["CameraMake"]), (0, ""))
        cut = tei.read(pathlib.Path(SAMPLE).read_bytes()[:100])
        self.assertEqual(cut.ending, tei.Ending.PREMATURE_END)
        self.assertEqual(cut.last_error, "Premature end of file?")

    def test_file_names_that_are_not_utf8(self):
        with tempfile.TemporaryDirectory() as d:
            name = os.path.join(os.fsencode(d), b"caf\xe9.jpg")  # Latin-1, not UTF-8
            shutil.copyfile(SAMPLE, name)
            expected = tei.read(SAMPLE)
            self.assertEqual(tei.read_path(name), expected)
            self.assertEqual(tei.read(os.fsdecode(name)), expected)  # surrogate-escaped str

    def test_threads_read_in_parallel_and_agree(self):
        paths = ([SAMPLE] + corpus_files()) * 3
        expected = {p: tei.read(p) for p in paths}
        failures = []

        def work(offset):
            for p in paths[offset:] + paths[:offset]:
                if tei.read(p) != expected[p]:
                    failures.append(p)
        threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(failures, [])

    def test_version_is_the_librarys(self):
        self.assertRegex(tei.__version__, r"^\d+\.\d+\.\d+$")


if __name__ == "__main__":
    unittest.main()
