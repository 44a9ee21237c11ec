# SPDX-License-Identifier: MIT
"""The kept fuzz corpus holds generated inputs only: no file of it is a copy of a photo of the
shared corpus (nor of the contents of one's EXIF section). Usage: check_fuzz_corpus.py FUZZ_CORPUS SHARED"""
import hashlib
import os
import sys

kept, shared = sys.argv[1], sys.argv[2]
if not os.path.isdir(shared):
    print(f"no folder {shared}: skipped")
    sys.exit(77)


def digests(folder):
    out = {}
    for base, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(base, name)
            with open(path, "rb") as f:
                data = f.read()
            out[hashlib.sha256(data).hexdigest()] = path
            at = data.find(b"Exif\0\0")
            if at > 0:  # an APP1 section's contents, as the EXIF target takes them
                length = int.from_bytes(data[at - 2:at], "big")
                out[hashlib.sha256(data[at:at + length - 2]).hexdigest()] = path + " (its EXIF section)"
    return out


photos = digests(shared)
copies = [(path, photos[d]) for d, path in digests(kept).items() if d in photos]
assert not copies, f"copies of shared photos in the kept corpus: {copies[:5]}"
print(f"no copies of {len(photos)} shared photos and sections among the kept corpus")
