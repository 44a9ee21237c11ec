// SPDX-License-Identifier: MIT
#include "xmp/iptc.h"

#include <cstdlib>
#include <cstring>

#include "text/utf8.h"

namespace exifinfo {
namespace {

constexpr uint8_t kTagMarker = 0x1C;  // every dataset starts with it
constexpr size_t kDatasetHeaderBytes = 5;  // marker, record, dataset, 16-bit length
constexpr size_t kMaxLengthBytes = 4;  // an extended length's own bytes
constexpr uint8_t kUtf8Escape[] = {0x1B, 0x25, 0x47};  // ESC % G: ISO 2022's switch to UTF-8

struct Dataset {
  int record = 0, number = 0;
  ByteView value;
};

// The dataset at `at`, and where the next begins; false at the end, before a byte that starts
// no dataset, or where the block ends inside one.
bool NextDataset(ByteView iim, size_t& at, Dataset& out) {
  if (!iim.Has(at, kDatasetHeaderBytes) || *iim.At(at) != kTagMarker) return false;
  out.record = *iim.At(at + 1);
  out.number = *iim.At(at + 2);
  uint64_t length = ReadU16(iim.At(at + 3), true);
  size_t valueAt = at + kDatasetHeaderBytes;
  if (length & 0x8000) {  // an extended dataset: the low bits count the length's own bytes
    const size_t lengthBytes = length & 0x7FFF;
    if (lengthBytes == 0 || lengthBytes > kMaxLengthBytes || !iim.Has(valueAt, lengthBytes)) return false;
    length = 0;
    for (size_t k = 0; k < lengthBytes; ++k) length = length << 8 | *iim.At(valueAt + k);
    valueAt += lengthBytes;
  }
  if (!iim.Has(valueAt, length)) return false;
  out.value = iim.Slice(valueAt, length);
  at = valueAt + static_cast<size_t>(length);
  return true;
}

enum Slot { kNoSlot, kText, kList };
struct Target {
  int number;
  Slot kind;
  int slot;
};
constexpr Target kRecord2[] = {
    {5, kText, kObjectName},      {25, kList, kKeywords},       {55, kText, kIptcDateCreated},
    {60, kText, kIptcTimeCreated}, {80, kList, kByLine},        {90, kText, kIptcCity},
    {120, kText, kCaption},
};

void Store(const Target& target, ByteView value, bool utf8, MetaValues& out) {
  size_t length = value.size;
  while (length > 0 && value.data[length - 1] == 0) --length;  // writers pad with NULs
  const char* text = reinterpret_cast<const char*>(value.data);
  char* decoded = nullptr;
  if (!IsWellFormedUtf8(value.data, length)) {
    // Three bytes out at most for each byte in, either way.
    decoded = static_cast<char*>(std::malloc(3 * length + 1));
    if (decoded == nullptr) return;
    length = utf8 ? Utf8WithReplacement(text, length, decoded) : RecordTextToUtf8(text, length, decoded, 3 * length);
    text = decoded;
  }
  if (target.kind == kText) {
    out.SetText(static_cast<MetaText>(target.slot), text, length);
  } else {
    out.AddItem(static_cast<MetaList>(target.slot), text, length);
  }
  std::free(decoded);
}

}  // namespace

void ParseIptc(ByteView iim, MetaValues& out) {
  out.BeginPacket();
  bool utf8 = false;
  Dataset d;
  for (size_t at = 0; NextDataset(iim, at, d);)
    if (d.record == 1 && d.number == 90)
      utf8 = d.value.size >= sizeof kUtf8Escape && std::memcmp(d.value.data, kUtf8Escape, sizeof kUtf8Escape) == 0;
  for (size_t at = 0; NextDataset(iim, at, d);) {
    if (d.record != 2) continue;
    for (const Target& target : kRecord2)
      if (target.number == d.number) Store(target, d.value, utf8, out);
  }
}

ByteView IptcOfPhotoshop(ByteView resources) {
  constexpr uint8_t kSignature[] = {'8', 'B', 'I', 'M'};
  constexpr uint16_t kIptcResource = 0x0404;
  for (size_t at = 0; resources.Has(at, sizeof kSignature + 2 + 1);) {
    if (std::memcmp(resources.At(at), kSignature, sizeof kSignature) != 0) return ByteView{};
    const uint16_t id = ReadU16(resources.At(at + 4), true);
    // A Pascal name, its length byte included, padded to an even count.
    size_t nameBytes = size_t{*resources.At(at + 6)} + 1;
    nameBytes += nameBytes & 1;
    const size_t sizeAt = at + 6 + nameBytes;
    if (!resources.Has(sizeAt, 4)) return ByteView{};
    const uint64_t size = ReadU32(resources.At(sizeAt), true);
    if (!resources.Has(sizeAt + 4, size)) return ByteView{};
    if (id == kIptcResource) return resources.Slice(sizeAt + 4, size);
    at = sizeAt + 4 + static_cast<size_t>(size + (size & 1));
  }
  return ByteView{};
}

}  // namespace exifinfo
