// SPDX-License-Identifier: MIT
// The JPEG section stream, from the start of image up to the start of scan.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "exif/errors.h"
#include "exif/exif_reader.h"

namespace exifinfo {
namespace {

enum Marker : int {
  kSOI = 0xD8,
  kEOI = 0xD9,
  kSOS = 0xDA,
  kAPP0 = 0xE0,
  kAPP1 = 0xE1,
  kAPP13 = 0xED,
  kCOM = 0xFE,
};
constexpr int kMaxFillBytes = 6;               // 0xFF bytes allowed before a marker code
constexpr int kCommentWindow = 1000;           // bytes of a comment section examined, length included
constexpr int kMinFrameHeaderLength = 8;       // length, precision, height, width, components
constexpr uint8_t kExifTag[] = {'E', 'x', 'i', 'f'};
constexpr size_t kMinExifProbeLength = kSectionLengthBytes + sizeof kExifTag;
// Frame header, from the section's first length byte: precision, then height, width (16 bits,
// big-endian) and the component count.
constexpr size_t kFrameHeightAt = kSectionLengthBytes + 1;
constexpr size_t kFrameWidthAt = kFrameHeightAt + 2;
constexpr size_t kFrameComponentsAt = kFrameWidthAt + 2;

// Start of frame: every code from 0xC0 to 0xCF except DHT (C4), JPG (C8) and DAC (CC).
bool IsStartOfFrame(int marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// A stream backed by a descriptor gets the line's bytes on that descriptor, after whatever the
// stream held is flushed: the line keeps its place in the output, and the stream keeps the
// orientation its owner gave it (a byte write to a wide-oriented stream would be dropped, and
// would make a stream without one byte-oriented, so its owner's later wide writes were lost).
void PrintDiagnostic(FILE* diagnostics, const char* text) {
  if (diagnostics == nullptr) return;
  const int fd = fileno(diagnostics);
  if (fd < 0) {  // a stream in memory
    std::fputs(text, diagnostics);
    std::fputc('\n', diagnostics);
    return;
  }
  std::fflush(diagnostics);
  char line[64];
  static_assert(sizeof errors::kTooManyPadding < sizeof line && sizeof errors::kNoImage < sizeof line,
                "a diagnostic and its line feed fit the line");
  const size_t length = std::strlen(text);  // one of those two texts
  std::memcpy(line, text, length);
  line[length] = '\n';
  for (size_t done = 0; done <= length;) {
    const ssize_t n = write(fd, line + done, length + 1 - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the diagnostic is lost; the read goes on
    done += static_cast<size_t>(n);
  }
}

}  // namespace

bool ExifReader::ScanSections(InputStream& stream, FILE* diagnostics) {
  Ending = ScanUntilStartOfScan(stream, diagnostics);
  // A failed read shows to the steps above as the end of the input; it is not one.
  if (Ending != ScanEnding::kStartOfScan && stream.state() == InputStream::State::kError)
    stream.outOfMemory() ? End(ScanEnding::kOutOfMemory, errors::kNoMemory) : End(ScanEnding::kReadError, errors::kReadError);
  // The report's scan ends at its 20th kept section; the record's values go on, and a read that
  // fails there fails the read, as anywhere.
  // Stray bytes where a marker should be end the report's scan too; the record finds the next
  // marker past them, as decoders do, and reads on from there.
  const bool strayBytes = Ending == ScanEnding::kInvalidMarker && stream.state() != InputStream::State::kError;
  if (((Ending == ScanEnding::kTooManySections && SectionCount == kMaxSections) || strayBytes) && WantExtras) {
    if (strayBytes) {
      const int marker = FindNextMarker(stream);
      if (marker >= 0) ScanRestForRecord(stream, marker);
    } else {
      ScanRestForRecord(stream);
    }
    if (stream.state() == InputStream::State::kError)
      stream.outOfMemory() ? End(ScanEnding::kOutOfMemory, errors::kNoMemory) : End(ScanEnding::kReadError, errors::kReadError);
  }
  return Ending == ScanEnding::kStartOfScan;
}

// The header past the report's last section, up to the start of scan, for what the record takes
// from it: the frame's size, the first comment, XMP and IPTC. Nothing is kept in a slot and the
// report and the ending stay as they are; the walk stops quietly at whatever it cannot read.
// `first`: the marker code, read already (-1: none read yet).
void ExifReader::ScanRestForRecord(InputStream& stream, int first) {
  constexpr uint64_t kKeptAt = uint64_t{1} << 63;  // where held comments lie: no file offset
  bool frameSeen = Info->Process != 0;  // the report's frame, read before its scan ended, stays the record's
  for (;; first = -1) {
    int marker = first >= 0 ? first : stream.ReadByte();
    for (int fillBytes = 0; marker == 0xFF; marker = stream.ReadByte())
      if (++fillBytes > kMaxFillBytes) return;
    const int high = stream.ReadByte(), low = stream.ReadByte();
    if (marker < 0 || high < 0 || low < 0 || marker == kSOS || marker == kEOI) return;
    const size_t length = static_cast<size_t>(high * 256 + low);
    if (length < kSectionLengthBytes) return;
    HeaderBytes += length + 2;
    if (HeaderBound != 0 && HeaderBytes > HeaderBound) return;
    size_t left = length - kSectionLengthBytes;
    if (IsStartOfFrame(marker) && !frameSeen && left >= kMinFrameHeaderLength - kSectionLengthBytes) {
      uint8_t head[kMinFrameHeaderLength - kSectionLengthBytes];  // precision, height, width, components
      if (stream.ReadBlock(head, sizeof head) != sizeof head) return;
      left -= sizeof head;
      frameSeen = true;
      if (Extras.ints[kImageWidth] == kAbsentInt) {
        Extras.ints[kImageHeight] = ReadU16(head + 1, true);
        Extras.ints[kImageWidth] = ReadU16(head + 3, true);
      }
    } else if (marker == kCOM && Extras.texts[kComment].data == nullptr) {
      uint8_t* comment = new (std::nothrow) uint8_t[left == 0 ? 1 : left];
      if (comment == nullptr || stream.ReadBlock(comment, left) != left) return delete[] comment;
      Extras.texts[kComment] = ByteView{Held.Keep(kKeptAt, ByteView{comment, left}), left};
      if (Extras.texts[kComment].data == nullptr) Extras.texts[kComment] = ByteView{};
      delete[] comment;
      left = 0;
    } else if ((marker == kAPP1 || marker == kAPP13) && left >= sizeof kExifTag) {
      uint8_t probe[sizeof kExifTag];
      if (stream.ReadBlock(probe, sizeof probe) != sizeof probe) return;
      if (MetaPackets::IsJpegMetaSection(marker, ByteView{probe, sizeof probe})) {
        if (ReadMetaSection(stream, marker, left, probe) != MetaCopy::kWhole) return;
        left = 0;
      } else {
        left -= sizeof probe;
      }
    }
    if (left != 0 && !stream.Skip(left)) return;
  }
}

// The code of the next marker within kMaxStrayBytes: 0xFF, any fill, then a code that starts
// a section of the header (no stuffed zero, restart or second start of image); -1 when none.
int ExifReader::FindNextMarker(InputStream& stream) {
  constexpr int kMaxStrayBytes = 65536;
  bool afterFf = false;
  for (int n = 0; n < kMaxStrayBytes; ++n) {
    const int byte = stream.ReadByte();
    if (byte < 0) return -1;
    if (afterFf && byte >= 0xC0 && byte != 0xFF && (byte < 0xD0 || byte > 0xD8)) return byte;
    afterFf = byte == 0xFF;
  }
  return -1;
}

ScanEnding ExifReader::ScanUntilStartOfScan(InputStream& stream, FILE* diagnostics) {
  if (stream.ReadByte() != 0xFF || stream.ReadByte() != kSOI) return ScanEnding::kNotAJpeg;
  bool commentTaken = false;
  while (SectionCount < kMaxSections) {
    switch (ReadSection(stream, diagnostics, commentTaken)) {
      case SectionOutcome::kNext: break;
      case SectionOutcome::kStartOfScan: return ScanEnding::kStartOfScan;
      case SectionOutcome::kFailed: return Ending;
    }
  }
  End(ScanEnding::kTooManySections, errors::kTooManySections);
  return Ending;
}

// Reads one section into slot SectionCount and acts on it. The marker itself is never tested
// before its length is read: end of input there gives a negative length, so "invalid marker".
// On kFailed, Ending says why.
ExifReader::SectionOutcome ExifReader::ReadSection(InputStream& stream, FILE* diagnostics,
                                                   bool& commentTaken) {
  int marker = 0;
  for (int fillBytes = 0;;) {
    marker = stream.ReadByte();
    if (marker != 0xFF) break;
    if (++fillBytes > kMaxFillBytes) {
      PrintDiagnostic(diagnostics, errors::kTooManyPadding);
      End(ScanEnding::kTooManyPadding, nullptr);
      return SectionOutcome::kFailed;
    }
  }
  JpegSection& slot = Sections[static_cast<size_t>(SectionCount)];
  slot.Marker = marker;
  const int high = stream.ReadByte();
  const int low = stream.ReadByte();
  // End of input (-1) in either byte makes the length negative.
  const int length = (high < 0 || low < 0) ? -1 : high * 256 + low;
  if (length < 2) {
    End(ScanEnding::kInvalidMarker, errors::kInvalidMarker);
    return SectionOutcome::kFailed;
  }
  slot.Length = length;
  HeaderBytes += static_cast<uint64_t>(length) + 2;
  if (HeaderBound != 0 && HeaderBytes > HeaderBound) {
    End(ScanEnding::kTooManySections, errors::kTooManySections);
    return SectionOutcome::kFailed;
  }
  if (!ReadContents(stream, slot, NeedsCopy(marker, commentTaken))) return SectionOutcome::kFailed;
  ++SectionCount;
  return ActOnSection(marker, diagnostics, commentTaken);
}

// Only the sections a later step reads are copied: frame headers, the first comment and APP1
// sections that turn out to carry EXIF data. The others keep their slot, marker and length,
// and their contents are passed over (still all of them, so a short file ends the same way).
// A read that gathers the values beyond the report also keeps XMP (APP1) and Photoshop's IPTC
// (APP13), which take no slot of their own: APP1 is discarded as before, APP13 kept uncopied.
ExifReader::Contents ExifReader::NeedsCopy(int marker, bool commentTaken) const {
  if (IsStartOfFrame(marker) || (marker == kCOM && !commentTaken)) return Contents::kCopy;
  if (marker == kAPP1) return Contents::kCopyIfExif;
  return marker == kAPP13 && WantExtras ? Contents::kMetaIfKnown : Contents::kSkip;
}

bool ExifReader::ReadContents(InputStream& stream, JpegSection& slot, Contents contents) {
  const size_t sectionBytes = static_cast<size_t>(slot.Length);
  size_t probed = 0;
  uint8_t probe[sizeof kExifTag];
  if (contents == Contents::kCopyIfExif || contents == Contents::kMetaIfKnown) {
    // A section too short to hold "Exif" is one without EXIF data.
    const bool app1 = contents == Contents::kCopyIfExif;
    contents = Contents::kSkip;
    if (sectionBytes >= kMinExifProbeLength) {
      probed = stream.ReadBlock(probe, sizeof probe);
      if (probed != sizeof probe) return End(ScanEnding::kPrematureEnd, errors::kPrematureEnd);
      if (app1 && std::memcmp(probe, kExifTag, sizeof kExifTag) == 0) {
        contents = Contents::kCopy;
      } else if (WantExtras && MetaPackets::IsJpegMetaSection(slot.Marker, ByteView{probe, sizeof probe})) {
        switch (ReadMetaSection(stream, slot.Marker, sectionBytes - kSectionLengthBytes, probe)) {
          case MetaCopy::kWhole: return true;
          case MetaCopy::kCut: return End(ScanEnding::kPrematureEnd, errors::kPrematureEnd);
          case MetaCopy::kNoMemory: return End(ScanEnding::kOutOfMemory, errors::kNoMemory);
        }
      }
    }
  }
  if (contents == Contents::kSkip) {
    if (!stream.Skip(sectionBytes - kSectionLengthBytes - probed)) return End(ScanEnding::kPrematureEnd, errors::kPrematureEnd);
    return true;
  }
  const size_t rest = sectionBytes - kSectionLengthBytes - probed;
  // Where the stream lends the section as it lies in its buffer (length bytes and probe
  // included), nothing is copied.
  if (uint8_t* lent = stream.Lend(kSectionLengthBytes + probed, rest)) {
    slot.Bytes = lent;
    slot.Lent = true;
    return true;
  }
  slot.Bytes = new (std::nothrow) uint8_t[sectionBytes];
  if (slot.Bytes == nullptr) return End(ScanEnding::kOutOfMemory, errors::kNoMemory);
  slot.Bytes[0] = static_cast<uint8_t>(slot.Length >> 8);
  slot.Bytes[1] = static_cast<uint8_t>(slot.Length);
  if (probed != 0) std::memcpy(slot.Bytes + kSectionLengthBytes, probe, probed);
  // On a short read the buffer stays in this uncounted slot; the destructor frees it.
  if (stream.ReadBlock(slot.Bytes + kSectionLengthBytes + probed, rest) != rest)
    return End(ScanEnding::kPrematureEnd, errors::kPrematureEnd);
  return true;
}

// An XMP or IPTC section of `contentsBytes` (its first 4 bytes, `probe`, read already): handed
// to the packets, which keep a copy; no slot holds one. Not lent: a lent buffer stays put, and
// the stream's later fills would go to another.
ExifReader::MetaCopy ExifReader::ReadMetaSection(InputStream& stream, int marker, size_t contentsBytes,
                                                 const uint8_t (&probe)[4]) {
  const size_t rest = contentsBytes - sizeof probe;
  uint8_t* contents = new (std::nothrow) uint8_t[contentsBytes];
  if (contents == nullptr) return MetaCopy::kNoMemory;
  std::memcpy(contents, probe, sizeof probe);
  const bool whole = stream.ReadBlock(contents + sizeof probe, rest) == rest;
  if (whole) Packets.AddJpegSection(marker, ByteView{contents, contentsBytes});
  delete[] contents;
  return whole ? MetaCopy::kWhole : MetaCopy::kCut;
}

ExifReader::SectionOutcome ExifReader::ActOnSection(int marker, FILE* diagnostics,
                                                    bool& commentTaken) {
  JpegSection& slot = Sections[static_cast<size_t>(SectionCount - 1)];
  // Empty for the sections whose contents were passed over.
  const MutableByteView section =
      slot.Bytes != nullptr ? MutableByteView{slot.Bytes, static_cast<size_t>(slot.Length)} : MutableByteView{};
  if (IsStartOfFrame(marker)) {
    ProcessFrameHeader(section, marker);
    return SectionOutcome::kNext;
  }
  switch (marker) {
    case kEOI:
      PrintDiagnostic(diagnostics, errors::kNoImage);
      End(ScanEnding::kEndOfImage, nullptr);
      return SectionOutcome::kFailed;
    case kSOS:
      return SectionOutcome::kStartOfScan;
    case kAPP0:
      DiscardLastSection();
      return SectionOutcome::kNext;
    case kAPP1:
      if (slot.Bytes != nullptr) {  // copied: it starts with "Exif"
        Info->HasExif = ParseExifSection(section.Slice(kSectionLengthBytes, section.size - kSectionLengthBytes));
      } else {
        DiscardLastSection();
      }
      return SectionOutcome::kNext;
    case kCOM:
      if (commentTaken) {
        DiscardLastSection();
      } else {
        ReadCommentSection(section);
        commentTaken = true;
      }
      return SectionOutcome::kNext;
    default:
      return SectionOutcome::kNext;  // tables, restart intervals, other APPn: kept as they are
  }
}

// Discarded sections give their slot back, so they never count towards the limit.
void ExifReader::DiscardLastSection() {
  --SectionCount;
  JpegSection& slot = Sections[static_cast<size_t>(SectionCount)];
  if (!slot.Lent) delete[] slot.Bytes;  // null for a section passed over
  slot.Bytes = nullptr;
  slot.Lent = false;
}

// A frame header shorter than its fixed part is kept but changes nothing.
void ExifReader::ProcessFrameHeader(ByteView section, int marker) {
  if (!section.Has(0, kMinFrameHeaderLength)) return;
  Info->Height = ReadU16(section.At(kFrameHeightAt), true);
  Info->Width = ReadU16(section.At(kFrameWidthAt), true);
  Info->IsColor = *section.At(kFrameComponentsAt) == 3 ? 1 : 0;
  Info->Process = marker;
}

// Keeps printable text: CR before LF is dropped, other control bytes but TAB and LF become '?'.
// Bytes of 128 and above are kept as they are; the report decides how to read them.
void ExifReader::ReadCommentSection(ByteView section) {
  if (WantExtras && section.size > kSectionLengthBytes)
    Extras.texts[kComment] = section.Slice(kSectionLengthBytes, section.size - kSectionLengthBytes);
  const size_t window = section.size < kCommentWindow ? section.size : kCommentWindow;
  char* out = Info->Comments;
  for (size_t i = kSectionLengthBytes; i < window; ++i) {
    const uint8_t c = section.data[i];
    // The look-ahead may see just past the window, but never past the section.
    if (c == '\r' && section.ByteOrZero(i + 1) == '\n') continue;
    *out++ = (c < 32 && c != '\t' && c != '\n') ? '?' : static_cast<char>(c);
  }
  *out = '\0';  // at most 998 characters: the window less the two length bytes
}

}  // namespace exifinfo
