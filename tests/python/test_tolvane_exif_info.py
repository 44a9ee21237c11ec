"""The Python module against the built library. Run with TOLVANE_EXIF_INFO_LIBRARY set,
the module's folder on PYTHONPATH, and EXIFINFO_SAMPLE and EXIFINFO_TOOL naming the files."""
import math
import os
import subprocess
import sys
import tempfile
import unittest

import tolvane_exif_info as tei

SAMPLE = os.environ["EXIFINFO_SAMPLE"]
TOOL = os.environ["EXIFINFO_TOOL"]


class ModuleTest(unittest.TestCase):
    def test_report_is_the_tools_report(self):
        printed = subprocess.run([TOOL, SAMPLE], check=True, capture_output=True).stdout.decode("utf-8")
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

    def test_missing_file_gives_the_report_of_defaults(self):
        f = tei.fields("/nonexistent/photo.jpg")
        self.assertEqual((f["Width"], f["CameraMake"], f["Brightness"]), (0, "", 0.0))

    def test_output_path_and_path_like(self):
        import pathlib
        with tempfile.TemporaryDirectory() as d:
            out = pathlib.Path(d) / "r.txt"
            text = tei.report(pathlib.Path(SAMPLE), out)
            self.assertEqual(out.read_bytes(), text.encode("utf-8"))

    def test_a_library_that_cannot_be_loaded_says_what_was_tried(self):
        code = "import tolvane_exif_info as t\ntry:\n  t.report('x')\nexcept OSError as e:\n  print(e)\n"
        for env, expected in ((dict(os.environ, TOLVANE_EXIF_INFO_LIBRARY="/nowhere/libX.so"),
                               "tried TOLVANE_EXIF_INFO_LIBRARY=/nowhere/libX.so"),
                              ({k: v for k, v in os.environ.items() if k not in ("TOLVANE_EXIF_INFO_LIBRARY", "LD_LIBRARY_PATH")},
                               "through the system's loader")):
            out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True).stdout
            if "through" in expected and out == "":
                continue  # the library is installed system-wide here: the loader found it
            self.assertIn(expected, out)
            self.assertIn("cannot load the TolvaneEXIFInfo library", out)


if __name__ == "__main__":
    unittest.main()
