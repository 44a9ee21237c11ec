// SPDX-License-Identifier: MIT
// An XMP packet read with expat in namespace mode: properties are known by their namespace URI,
// never by the prefix a writer chose, in any of RDF's forms (attributes or elements, Bag, Seq
// and Alt, structures such as face regions). No document type is read: a packet that declares
// one is refused before any of it is expanded, so no entity but XML's own and no external
// anything is ever looked at.
#pragma once

#include <cstddef>

#include "io/byte_view.h"
#include "xmp/meta_values.h"

namespace exifinfo {

constexpr size_t kMaxXmpBytes = size_t{4} << 20;  // a larger packet is passed over unread
constexpr int kMaxXmpDepth = 64;                  // elements nested deeper end the packet

enum class XmpOutcome {
  kRead,         // read to its end
  kDamaged,      // not well-formed XML: the values before the fault are kept
  kTooLarge,     // larger than kMaxXmpBytes: passed over
  kRefused,      // declares a document type: passed over
  kTooDeep,      // nested past kMaxXmpDepth: the values before are kept
  kOutOfMemory,  // the values before are kept
};

// Reads `packet` (a whole xpacket, or any RDF/XML; bytes before its first '<' and after its last
// '>' are passed over, as writers pad packets) into `out` as one packet (MetaValues::BeginPacket).
XmpOutcome ParseXmp(ByteView packet, MetaValues& out);

// What the record says of a packet that was not read to its end; null for kRead.
const char* XmpOutcomeText(XmpOutcome outcome);

}  // namespace exifinfo
