# SPDX-License-Identifier: MIT
"""The core's rooms include only the rooms before them, and the tool only public headers and
its own. Usage: check_layers.py SOURCE_DIR"""
import pathlib
import re
import sys

ORDER = ["text", "io", "xmp", "exif", "jpeg", "container", "report", "api"]
root = pathlib.Path(sys.argv[1])
include = re.compile(r'#include "([a-z_]+)/')
wrong = []
for path in sorted((root / "src").glob("*/*")):
    room = path.parent.name
    for other in set(include.findall(path.read_text())):
        if other != room and (other not in ORDER or ORDER.index(other) > ORDER.index(room)):
            wrong.append(f"{path.relative_to(root)} includes {other}/, a room after its own")
for path in sorted((root / "tools").glob("*.[ch]*")):
    for other in set(include.findall(path.read_text())):
        wrong.append(f"{path.relative_to(root)} includes the core's {other}/")
print("\n".join(wrong) or f"rooms in order: {' < '.join(ORDER)}; the tool includes public headers only")
sys.exit(1 if wrong else 0)
