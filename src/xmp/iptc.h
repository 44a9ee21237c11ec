// SPDX-License-Identifier: MIT
// IPTC IIM: the datasets of record 2 a photo's record takes (object name, keywords, dates,
// by-line, city, caption), decoded by the character set record 1 names: UTF-8 when it says so,
// else UTF-8 where a text is well-formed UTF-8 and Latin-1 (Windows-1252) where it is not.
#pragma once

#include "io/byte_view.h"
#include "xmp/meta_values.h"

namespace exifinfo {

// Reads the datasets of `iim` into `out`, up to the first byte that starts none or the first
// dataset cut by the block's end.
void ParseIptc(ByteView iim, MetaValues& out);

// The IPTC block of a Photoshop image resource block (resource 0x0404: a JPEG's APP13 after its
// "Photoshop 3.0" header, a TIFF's tag 34377); empty without one.
ByteView IptcOfPhotoshop(ByteView resources);

}  // namespace exifinfo
