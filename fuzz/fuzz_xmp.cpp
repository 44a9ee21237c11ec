// SPDX-License-Identifier: MIT
// XMP packets, IPTC blocks and JPEG metadata sections, read into values. The first byte chooses
// what the rest is: 0 an XMP packet, 1 an IPTC block (and Photoshop resources), 2 JPEG APP1 and
// APP13 contents, each after a 2-byte length, joined and read as a photo's packets are.
// Whatever the input, every value is well-formed UTF-8 and no list passes its bound.
#include <cstdint>
#include <cstdlib>

#include "text/utf8.h"
#include "xmp/iptc.h"
#include "xmp/packets.h"
#include "xmp/xmp_packet.h"

namespace {

void Check(const exifinfo::MetaValues& values) {
  using namespace exifinfo;
  for (int t = 0; t < kMetaTextCount; ++t) {
    const ByteView text = values.text(static_cast<MetaText>(t));
    if (values.has(static_cast<MetaText>(t)) && !IsWellFormedUtf8(text.data, text.size)) std::abort();
  }
  for (int l = 0; l < kMetaListCount; ++l) {
    if (values.count(static_cast<MetaList>(l)) > MetaValues::kMaxListItems) std::abort();
    values.ForEachItem(static_cast<MetaList>(l), [](ByteView item) {
      if (!IsWellFormedUtf8(item.data, item.size)) std::abort();
    });
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace exifinfo;
  if (size == 0) return -1;
  const ByteView rest{data + 1, size - 1};
  MetaValues values;
  switch (data[0] % 3) {
    case 0:
      ParseXmp(rest, values);
      break;
    case 1:
      ParseIptc(rest, values);
      ParseIptc(IptcOfPhotoshop(rest), values);
      break;
    default: {
      MetaPackets packets;
      for (size_t at = 0; rest.Has(at, 2);) {
        const size_t length = size_t{rest.data[at]} << 8 | rest.data[at + 1];
        const ByteView section = rest.Slice(at + 2, length < rest.size - at - 2 ? length : rest.size - at - 2);
        packets.AddJpegSection(length & 1 ? 0xED : 0xE1, section);
        at += 2 + section.size;
      }
      packets.Read(values);
    }
  }
  Check(values);
  return 0;
}
