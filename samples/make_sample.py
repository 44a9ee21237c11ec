#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes samples/sample.jpg: a small real baseline JPEG with a comment and an EXIF block.

The picture is 160 x 120 pixels of flat 8 x 8 blocks (a sky-to-sea gradient with a sun),
coded with DC coefficients only, so a tiny encoder can make it and any JPEG decoder reads it.
The EXIF block is little-endian and holds a realistic camera: IFD0 with make, model,
orientation and resolution, the EXIF sub-directory with exposure, aperture, ISO, focal data,
flash, user comment and pixel dimensions, an interoperability directory, and IFD1 describing
an embedded 16 x 16 thumbnail (itself a JPEG made by the same encoder).

Usage: make_sample.py [OUTPUT]   (default: sample.jpg beside this script)
"""
import os
import struct
import sys

# --- A baseline JPEG encoder for flat blocks -------------------------------------------------

# The standard luminance DC table: code lengths 1..16 and the categories 0..11.
DC_BITS = [0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0]
DC_VALUES = list(range(12))
# An AC table with the end-of-block symbol alone: every block has no AC coefficients.
AC_BITS = [1] + [0] * 15
AC_VALUES = [0x00]


def huffman_codes(bits, values):
    codes, code, k = {}, 0, 0
    for length in range(1, 17):
        for _ in range(bits[length - 1]):
            codes[values[k]] = (code, length)
            code += 1
            k += 1
        code <<= 1
    return codes


DC_CODES = huffman_codes(DC_BITS, DC_VALUES)
EOB = huffman_codes(AC_BITS, AC_VALUES)[0]


class BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.count = 0

    def put(self, value, length):
        for i in range(length - 1, -1, -1):
            self.acc = (self.acc << 1) | ((value >> i) & 1)
            self.count += 1
            if self.count == 8:
                self.out.append(self.acc)
                if self.acc == 0xFF:
                    self.out.append(0x00)  # byte stuffing
                self.acc, self.count = 0, 0

    def flush(self):
        while self.count:
            self.put(1, 1)  # pad with one bits
        return bytes(self.out)


def segment(marker, payload):
    return bytes([0xFF, marker]) + struct.pack(">H", len(payload) + 2) + payload


def encode(width, height, block_colour, extra_segments=b""):
    """block_colour(bx, by) -> (Y, Cb, Cr), each 0..255, for the 8 x 8 block at (bx, by)."""
    quant = bytes([8] + [1] * 63)  # DC step 8: a flat block's DC is its level-shifted value
    dqt = segment(0xDB, b"\x00" + quant)
    sof = segment(0xC0, struct.pack(">BHHB", 8, height, width, 3) + bytes([1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0]))
    dht = segment(0xC4, b"\x00" + bytes(DC_BITS) + bytes(DC_VALUES) + b"\x10" + bytes(AC_BITS) + bytes(AC_VALUES))
    sos = segment(0xDA, bytes([3, 1, 0x00, 2, 0x00, 3, 0x00, 0, 63, 0]))
    bits = BitWriter()
    previous = [0, 0, 0]
    for by in range((height + 7) // 8):
        for bx in range((width + 7) // 8):
            for c, level in enumerate(block_colour(bx, by)):
                dc = level - 128
                diff = dc - previous[c]
                previous[c] = dc
                category = abs(diff).bit_length()
                code, length = DC_CODES[category]
                bits.put(code, length)
                if category:
                    bits.put(diff if diff > 0 else diff + (1 << category) - 1, category)
                bits.put(*EOB)
    return b"\xFF\xD8" + extra_segments + dqt + sof + dht + sos + bits.flush() + b"\xFF\xD9"


def scene(bx, by, blocks_x=20, blocks_y=15):
    horizon = blocks_y * 3 // 5
    sun = (bx - 14) ** 2 + (by - 5) ** 2 <= 5
    if sun:
        return (235, 60, 160)
    if by < horizon:  # sky: light near the horizon
        return (120 + 8 * by, 150, 110)
    return (70 - 4 * (by - horizon) + (bx % 3) * 4, 160, 110)  # sea


# --- A little-endian TIFF block -----------------------------------------------------------

ASCII, SHORT, LONG, RATIONAL, UNDEFINED, SRATIONAL = 2, 3, 4, 5, 7, 10


def value_bytes(fmt, value):
    if fmt in (ASCII, UNDEFINED):
        data = value.encode("latin-1") + (b"\0" if fmt == ASCII else b"")
        return data, len(data)
    if fmt == SHORT:
        return struct.pack("<H", value), 1
    if fmt == LONG:
        return struct.pack("<I", value), 1
    if fmt == RATIONAL:
        return struct.pack("<II", *value), 1
    if fmt == SRATIONAL:
        return struct.pack("<ii", *value), 1
    raise ValueError(fmt)


def tiff_block(directories, thumbnail):
    """directories: name -> list of (tag, fmt, value); a value may be ('dir', name) for a
    link, or ('thumbnail',) for the thumbnail's offset. IFD1 follows IFD0 by its next link."""
    order = ["ifd0", "exif", "interop", "ifd1"]
    offsets, blobs = {}, {}
    # Lay out each directory with its values right after it; the thumbnail goes last.
    at = 8
    for name in order:
        entries = directories[name]
        offsets[name] = at
        at += 2 + 12 * len(entries) + 4
        for tag, fmt, value in entries:
            if isinstance(value, tuple) and value and value[0] in ("dir", "thumbnail"):
                continue
            data, _ = value_bytes(fmt, value)
            if len(data) > 4:
                at += len(data) + (len(data) & 1)  # values start on even offsets
    thumbnail_at = at
    out = bytearray(b"II" + struct.pack("<HI", 42, 8))
    for name in order:
        entries = sorted(directories[name], key=lambda e: e[0])
        values_at = offsets[name] + 2 + 12 * len(entries) + 4
        body, values = bytearray(struct.pack("<H", len(entries))), bytearray()
        for tag, fmt, value in entries:
            if isinstance(value, tuple) and value and value[0] == "dir":
                body += struct.pack("<HHII", tag, LONG, 1, offsets[value[1]])
                continue
            if isinstance(value, tuple) and value and value[0] == "thumbnail":
                body += struct.pack("<HHII", tag, LONG, 1, thumbnail_at)
                continue
            data, count = value_bytes(fmt, value)
            if len(data) <= 4:
                body += struct.pack("<HHI", tag, fmt, count) + data.ljust(4, b"\0")
            else:
                body += struct.pack("<HHII", tag, fmt, count, values_at + len(values))
                values += data + (b"\0" if len(data) & 1 else b"")
        body += struct.pack("<I", offsets["ifd1"] if name == "ifd0" else 0)
        out += body + values
    assert len(out) == thumbnail_at, (len(out), thumbnail_at)
    return bytes(out + thumbnail)


def exif_segment():
    thumbnail = encode(16, 16, lambda bx, by: scene(bx * 10, by * 7 + 2))
    ifd0 = [
        (0x010F, ASCII, "Tolvane Optics"),
        (0x0110, ASCII, "TX-100 Travel Zoom"),
        (0x0112, SHORT, 1),
        (0x011A, RATIONAL, (300, 1)),
        (0x011B, RATIONAL, (300, 1)),
        (0x0128, SHORT, 2),
        (0x0131, ASCII, "make_sample.py"),
        (0x0132, ASCII, "2024:06:21 19:42:10"),
        (0x8769, LONG, ("dir", "exif")),
    ]
    exif = [
        (0x829A, RATIONAL, (1, 250)),
        (0x829D, RATIONAL, (56, 10)),
        (0x8822, SHORT, 2),
        (0x8827, SHORT, 200),
        (0x9000, UNDEFINED, "0230"),
        (0x9003, ASCII, "2024:06:21 19:42:10"),
        (0x9004, ASCII, "2024:06:21 19:42:10"),
        (0x9102, RATIONAL, (4, 1)),
        (0x9201, SRATIONAL, (7965784, 1000000)),
        (0x9202, RATIONAL, (4970854, 1000000)),
        (0x9203, SRATIONAL, (-55, 100)),
        (0x9204, SRATIONAL, (-1, 3)),
        (0x9205, RATIONAL, (297, 100)),
        (0x9206, RATIONAL, (1250, 100)),
        (0x9207, SHORT, 5),
        (0x9208, SHORT, 1),
        (0x9209, SHORT, 0x18),
        (0x920A, RATIONAL, (244, 10)),
        (0x9286, UNDEFINED, "ASCII\0\0\0Sunset over the bay, from the ferry.   "),
        (0xA001, SHORT, 1),
        (0xA002, LONG, 4000),
        (0xA003, LONG, 3000),
        (0xA005, LONG, ("dir", "interop")),
        (0xA20E, RATIONAL, (4000000, 617)),  # a 6.17 mm wide sensor, in pixels per cm
        (0xA20F, RATIONAL, (3000000, 455)),
        (0xA210, SHORT, 3),
    ]
    interop = [(0x0001, ASCII, "R98"), (0x0002, UNDEFINED, "0100")]
    ifd1 = [
        (0x0103, SHORT, 6),
        (0x011A, RATIONAL, (72, 1)),
        (0x011B, RATIONAL, (72, 1)),
        (0x0128, SHORT, 2),
        (0x0201, LONG, ("thumbnail",)),
        (0x0202, LONG, len(thumbnail)),
    ]
    block = tiff_block({"ifd0": ifd0, "exif": exif, "interop": interop, "ifd1": ifd1}, thumbnail)
    return segment(0xE1, b"Exif\0\0" + block)


def main():
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample.jpg")
    jfif = segment(0xE0, b"JFIF\0" + struct.pack(">BBBHHBB", 1, 1, 1, 300, 300, 0, 0))
    comment = segment(0xFE, b"Evening light, Tolvane harbour.\r\nMade by make_sample.py.")
    with open(output, "wb") as f:
        # The comment stands before the EXIF section, which empties the comment field and
        # fills it with its own user comment instead.
        f.write(encode(160, 120, scene, jfif + comment + exif_segment()))


if __name__ == "__main__":
    main()
