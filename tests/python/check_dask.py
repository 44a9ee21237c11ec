# SPDX-License-Identifier: MIT
"""examples/dask_index.py on a 2-worker LocalCluster gives exifinfo -r --json's output byte for
byte once its parts are put end to end in their order; the workers list the shards and write
the parts. Usage: check_dask.py EXIFINFO FOLDER (Debian's python3; exits 77 without Dask)."""
import glob
import os
import shutil
import subprocess
import sys
import tempfile

try:
    import dask  # noqa: F401
    import distributed  # noqa: F401
except ImportError:
    print("python3-dask and python3-distributed are not installed: skipped")
    sys.exit(77)

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "examples"))
import dask_index  # noqa: E402



def main():
    tool, folder = sys.argv[1], sys.argv[2]
    if not os.path.isdir(folder):
        print(f"no folder {folder}: skipped")
        sys.exit(77)
    with tempfile.TemporaryDirectory() as work:
        # A tree with a folder inside the folder, files before and after it, and a file that is
        # no photo: several shards, in exifinfo's order.
        tree = os.path.join(work, "tree")
        shutil.copytree(folder, os.path.join(tree, "m-folder"))
        names = sorted(n for n in os.listdir(folder) if n.endswith(".jpg"))
        for name in names[:5]:
            shutil.copy(os.path.join(folder, name), os.path.join(tree, "a-" + name))
        for name in names[5:9]:
            shutil.copy(os.path.join(folder, name), os.path.join(tree, "z-" + name))
        for k, name in enumerate(names[9:12]):  # three more folders: with the first, two tasks of two
            os.makedirs(os.path.join(tree, f"n{k}-folder"))
            shutil.copy(os.path.join(folder, name), os.path.join(tree, f"n{k}-folder", name))
        open(os.path.join(tree, "notes.txt"), "w").write("no photo")
        # Sidecars: one read with the first photo, one with a photo in a folder, one on its own.
        packet = ("<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                  "<rdf:Description xmlns:xmp='http://ns.adobe.com/xap/1.0/' xmp:Rating='4'/></rdf:RDF></x:xmpmeta>")
        for sidecar in ("a-" + names[0][:-4] + ".xmp", os.path.join("n0-folder", names[9] + ".XMP"), "b-alone.xmp"):
            open(os.path.join(tree, sidecar), "w").write(packet)
        expected = subprocess.run([tool, "-r", "--json", tree], capture_output=True).stdout.splitlines(keepends=True)
        out = os.path.join(work, "index")
        dask_index._SHARD_FILES = 3  # runs of files split into shards of 3 (the listing is the client's)
        dask_index._TASKS_PER_THREAD = 1  # 4 folders for 2 threads: folders go to a task two at a time
        count = dask_index.run(tree, out, workers=2)
        parts = sorted(glob.glob(os.path.join(out, "part-*.jsonl")))
        got = []
        for part in parts:
            with open(part, "rb") as f:
                got.extend(f.read().splitlines(keepends=True))
    assert len(parts) == 6, parts  # 6 files (3 + 3), 4 folders (2 + 2), 4 files and notes.txt (3 + 2)
    assert sum(b'"sidecar":"' in line for line in got) == 2 and sum(b'"container":"xmp"' in line for line in got) == 1
    assert count == len(expected) == len(got), (count, len(expected), len(got))
    for line, want in zip(got, expected):
        assert line == want, (line, want)
    print(f"{count} lines from Dask are exifinfo -r --json's, byte for byte")


if __name__ == "__main__":  # the workers are processes that import this file
    main()
