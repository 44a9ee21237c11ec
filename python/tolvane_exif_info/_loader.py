# SPDX-License-Identifier: MIT
"""Loading the libraries, with a message that says what was tried."""
import ctypes
import os


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

