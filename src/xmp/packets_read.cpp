// SPDX-License-Identifier: MIT
// The packets read once a read is over: apart from their gathering, so that a reader that never
// reads them (the legacy report's) links no XML parser.
#include <cstdlib>
#include <cstring>

#include "xmp/iptc.h"
#include "xmp/packets.h"
#include "xmp/xmp_packet.h"

namespace exifinfo {
namespace {

const char* const kPartsOverlap = "Extended XMP parts overlap: passed over";
const char* const kPartsDisagree = "Extended XMP parts disagree on its length: passed over";
const char* const kPartsMissing = "Extended XMP incomplete: passed over";
const char* const kPartsTooMany = "Extended XMP in too many parts or too large: passed over";
const char* const kOutOfMemory = "XMP or IPTC lost: out of memory";

}  // namespace

// The parts that carry the GUID the main packet names, laid in place: they must agree on the
// packet's length, and tile it exactly, with no byte given twice and none missing.
const char* MetaPackets::ReadExtended(const MetaValues& main, MetaValues& out) const {
  const ByteView guid = main.text(kHasExtendedXmp);
  if (guid.size != kGuidBytes || partCount_ == 0) return partsLost_ ? kPartsTooMany : nullptr;
  if (partsLost_) return kPartsTooMany;
  int chosen[kMaxExtendedParts];
  int count = 0;
  for (int k = 0; k < partCount_; ++k)
    if (std::memcmp(partList_[k].guid, guid.data, kGuidBytes) == 0) chosen[count++] = k;
  if (count == 0) return kPartsMissing;
  const uint32_t total = partList_[chosen[0]].total;
  if (total > kMaxXmpBytes) return kPartsTooMany;
  // By offset: an insertion sort of at most kMaxExtendedParts.
  for (int i = 1; i < count; ++i)
    for (int j = i; j > 0 && partList_[chosen[j]].offset < partList_[chosen[j - 1]].offset; --j) {
      const int t = chosen[j];
      chosen[j] = chosen[j - 1];
      chosen[j - 1] = t;
    }
  uint64_t covered = 0;
  for (int i = 0; i < count; ++i) {
    const Part& p = partList_[chosen[i]];
    if (p.total != total) return kPartsDisagree;
    if (p.offset < covered) return kPartsOverlap;
    if (p.offset > covered) return kPartsMissing;
    covered += p.length;
  }
  if (covered != total) return covered > total ? kPartsDisagree : kPartsMissing;
  uint8_t* packet = static_cast<uint8_t*>(std::malloc(total == 0 ? 1 : total));
  if (packet == nullptr) return kOutOfMemory;
  for (int i = 0; i < count; ++i) {
    const Part& p = partList_[chosen[i]];
    if (p.length != 0) std::memcpy(packet + p.offset, parts_ + p.at, p.length);
  }
  const XmpOutcome outcome = ParseXmp(ByteView{packet, total}, out);
  std::free(packet);
  return XmpOutcomeText(outcome);
}

const char* MetaPackets::Read(MetaValues& out) const {
  const char* warning = tooLarge_ ? XmpOutcomeText(XmpOutcome::kTooLarge) : nullptr;
  const auto note = [&](const char* text) {
    if (warning == nullptr) warning = text;
  };
  for (int k = 0; k < xmpCount_; ++k) note(XmpOutcomeText(ParseXmp(ByteView{xmp_[k], xmpSize_[k]}, out)));
  if (xmpCount_ > 0 || partCount_ > 0) note(ReadExtended(out, out));
  ByteView iim{iptc_, iptcSize_};
  if (iim.size == 0) iim = IptcOfPhotoshop(ByteView{photoshop_, photoshopSize_});
  if (iim.size != 0) ParseIptc(iim, out);
  if (outOfMemory_ || out.outOfMemory()) note(kOutOfMemory);
  if (out.listCut()) note("A list held more than 10,000 items: the rest passed over");
  return warning;
}

}  // namespace exifinfo
