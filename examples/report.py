# SPDX-License-Identifier: MIT
"""Prints the report of one JPEG file through ctypes."""
import ctypes
import sys

library = ctypes.CDLL(sys.argv[2] if len(sys.argv) > 2 else "libTOLVANEEXIFINFO.so.1")
library.EXIFInfo.argtypes = [ctypes.c_wchar_p, ctypes.c_wchar_p]
library.EXIFInfo.restype = ctypes.c_wchar_p  # copied into a Python str at once

report = library.EXIFInfo(sys.argv[1], "")  # "" writes no output file
for line in report.splitlines():
    key, _, value = line.partition("=")
    if key in ("Width", "Height", "ISOequivalent"):
        print(key, int(value))
