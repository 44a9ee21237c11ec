// SPDX-License-Identifier: MIT
// The state of one read of one picture, and the parsing steps that operate on it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "exif/extra_values.h"
#include "io/byte_view.h"
#include "exif/image_info.h"
#include "exif/tiff_block.h"
#include "exif/walk_policy.h"
#include "io/input_stream.h"
#include "xmp/packets.h"

namespace exifinfo {

constexpr int kMaxSections = 20;      // kept sections; discarded ones do not count
constexpr int kLastErrorBytes = 256;

// How a scan ended. Every ending but the first leaves what was gathered before it.
enum class ScanEnding {
  kStartOfScan,      // reached the start of scan: the whole header was read
  kNotAJpeg,         // the input does not start with FF D8 (an empty input included)
  kTooManyPadding,   // seven 0xFF bytes before a marker code
  kEndOfImage,       // an end-of-image section before any start of scan
  kInvalidMarker,    // a section length below 2, the end of the input at a marker included
  kPrematureEnd,     // the input ended inside a section's contents
  kTooManySections,  // 20 kept sections without a start of scan
  kOutOfMemory,      // a section copy (or the record itself) could not be allocated
  kReadError,        // a read failed: InputStream::error() says why
  // Containers other than JPEG (the two above and kPrematureEnd serve them too).
  kEndOfMetadata,    // every structure the metadata needs was read
  kDamaged,          // a box, chunk or directory the read needed is malformed
};

struct DirectoryEntry;
enum class DirectoryKind;
struct DirectoryWalk;
struct Thumbnail;

// A directory a container keeps in a TIFF block of its own (a CR3's EXIF or GPS directory):
// walked where IFD0's link of that kind would have led. `first` is its offset in `block`.
struct TiffGraft {
  const TiffBlock* block = nullptr;
  uint64_t first = 0;
};

// What a walk of a container's TIFF structure found beyond the record.
struct TiffWalkResult {
  bool ifd0Read = false;  // IFD0 was walked: the record holds the block's values
  bool damaged = false;   // a directory claimed more entries than any directory has
  int32_t width = 0, height = 0, isColor = 0;  // IFD0's own frame values
  // A Panasonic raw file's embedded JPEG (IFD0's tag 0x002E), whose EXIF block holds what the
  // raw file's own directories do not; length 0 without one.
  uint64_t embeddedJpegOffset = 0, embeddedJpegLength = 0;
};

// The state of one read and the steps that operate on it, all in this folder:
//   exif_reader.cpp      construction, destruction, Fail and End;
//   section_scanner.cpp  ScanSections and the section steps (frame header, comment);
//   exif_section.cpp     ParseExifSection, WalkTiff and the one directory walk
//                        (WalkDirectory, ActOnStructuralTag), as its policy directs;
//   tag_table.cpp        InterpretTag, StoreUserComment and DeriveReportValues: the report's
//                        value rules (fixed-size text copies, the low-ISO factor, the APEX
//                        fallbacks, the light source as white balance, the sensor width);
//   extra_tags.cpp       InterpretExtraTag, WalkGpsDirectory and InterpretGpsTag: the values
//                        beyond the report (extra_values.h), which never touch the record.
class ExifReader {
 public:
  ExifReader();                          // allocates and owns a zeroed ImageInfo
  explicit ExifReader(ImageInfo* info);  // fills the caller's record as it is, without zeroing it
  ~ExifReader();
  ExifReader(const ExifReader&) = delete;
  ExifReader& operator=(const ExifReader&) = delete;

  // False only when the record could not be allocated; nothing may then be read.
  bool HasInfo() const { return Info != nullptr; }

  // Reads sections from the start of image up to the start of scan. True only when the start
  // of scan was reached; ending() says how it ended either way. A read that fails ends the scan
  // as kReadError, whichever step met it. Two endings print a line to `diagnostics` (nothing
  // when it is null).
  bool ScanSections(InputStream& stream, FILE* diagnostics);
  // `section` is a section copy: its two length bytes first.
  void ProcessFrameHeader(ByteView section, int marker);
  void ReadCommentSection(ByteView section);
  // `contents`: an APP1 section's bytes after its two length bytes ("Exif", 0, 0, TIFF block).
  // The user-comment step may edit these bytes in place.
  bool ParseExifSection(MutableByteView contents);

  // A TIFF structure other than a JPEG's section: IFD0 at `first` in `block`, read in place
  // (only the directories and values the walk asks for are fetched), with a whole file's walk
  // policy. The record's frame is the container's to set (record()).
  // `wholeFile`: the block is a TIFF or raw file itself, whose main image the record's size is
  // (else an EXIF block inside another container, whose image the container gives).
  TiffWalkResult WalkTiff(const TiffBlock& block, uint64_t first, TiffGraft exif, TiffGraft gps, bool wholeFile);
  // An EXIF block whose values only the record takes (a raw file's embedded JPEG's, where the
  // raw file's own directories lack them): walked under the record's policy, the report and the
  // walk's bookkeeping left as they were; the values it has replace those read before.
  void WalkForRecordOnly(const TiffBlock& block, uint64_t first) {
    if (WantExtras) WalkForRecord(block, first, false);
  }
  // The main image's size where the container says it apart from the report's frame (a JPEG
  // XL's codestream): the record's ImageWidth and ImageHeight, unless a walk gave them.
  void NoteImageSize(uint64_t width, uint64_t height) {
    if (Extras.ints[kImageWidth] != kAbsentInt || width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
      return;
    Extras.ints[kImageWidth] = static_cast<int32_t>(width);
    Extras.ints[kImageHeight] = static_cast<int32_t>(height);
  }
  // The values a container's own structures give where no EXIF block does (a video's movie
  // box): texts are views of held() copies.
  ExtraValues& containerValues() { return Extras; }
  // The bytes a walk in place fetched: they live as long as the reader, as its section copies do.
  HeldBytes& held() { return Held; }
  // The XMP packets and IPTC blocks found, to be read once the read is over.
  MetaPackets& packets() { return Packets; }
  const MetaPackets& packets() const { return Packets; }
  bool gathersExtras() const { return WantExtras; }
  // A container's read sets the frame values its own header gives, and says how it ended.
  ImageInfo& record() { return *Info; }
  void Finish(ScanEnding ending, const char* text) { End(ending, text); }

  // The record; only while HasInfo().
  const ImageInfo& info() const { return *Info; }
  const char* lastError() const { return LastError; }  // the last problem met; always terminated
  ScanEnding ending() const { return Ending; }         // how the last scan ended; kNotAJpeg before any
  // The thumbnail's offset from the TIFF header of its EXIF block, as tag 0x0201 gives it;
  // meaningful while info().ThumbnailStart is not null.
  uint32_t thumbnailOffset() const { return ThumbnailOffset; }
  // The values beyond the report, as the walk stored them (views into the section copies).
  // A reader made for the report alone is told not to gather them: they cost a tenth of a read.
  const ExtraValues& extras() const { return Extras; }
  void GatherExtras(bool gather) { WantExtras = gather; }
  // Ends a scan as kTooManySections once its sections took more than `bytes` of the input
  // (0: no bound). Only discarded sections can add up to that much: a stream of them would
  // otherwise be read for as long as it flows.
  void BoundHeader(uint64_t bytes) { HeaderBound = bytes; }
  int largestDimension() const { return LargestDimension; }
  bool bigEndian() const { return BigEndian != 0; }
  uint32_t directoriesWalked() const { return DirectoriesWalked; }
  int sectionCount() const { return SectionCount; }
  // Slot `index` of the section table (0 <= index < kMaxSections), counted or not.
  const JpegSection& section(int index) const { return Sections[static_cast<size_t>(index)]; }

 private:
  friend class ExifReaderProbe;  // tests set up states no file can reach (a stale byte order)

  ImageInfo* Info;
  char LastError[kLastErrorBytes];
  int LargestDimension;  // largest pixel dimension of the current EXIF section
  int BigEndian;         // 0 for an "II" block, 1 for "MM"
  // Every non-null Bytes in all slots belongs to the reader, counted or not: a section that
  // failed half-way stays in the slot after the last counted one, and the destructor frees it.
  // Sections whose contents no step reads (tables, other APPn, the start of scan) are counted
  // with their marker and length but hold no copy (null Bytes).
  JpegSection Sections[kMaxSections];
  int SectionCount;
  bool OwnsInfo;  // Info was allocated here and is freed with the reader
  // Directories whose walk began in the last EXIF section: the measure of the walk's work.
  uint32_t DirectoriesWalked;
  ScanEnding Ending;
  uint32_t ThumbnailOffset;
  ExtraValues Extras;
  bool WantExtras = true;
  uint64_t HeaderBound = 0;
  uint32_t Faults = 0;  // problems met so far (each Fail): a walk that met one stopped short somewhere
  uint64_t HeaderBytes = 0;  // the bytes of the sections scanned so far, markers included
  HeldBytes Held;
  MetaPackets Packets;  // XMP and IPTC, gathered only with the values beyond the report

  enum class SectionOutcome { kNext, kStartOfScan, kFailed };
  enum class Contents { kCopy, kCopyIfExif, kMetaIfKnown, kSkip };
  ScanEnding ScanUntilStartOfScan(InputStream& stream, FILE* diagnostics);
  SectionOutcome ReadSection(InputStream& stream, FILE* diagnostics, bool& commentTaken);
  Contents NeedsCopy(int marker, bool commentTaken) const;
  bool ReadContents(InputStream& stream, JpegSection& slot, Contents contents);
  enum class MetaCopy { kWhole, kCut, kNoMemory };
  MetaCopy ReadMetaSection(InputStream& stream, int marker, size_t contentsBytes, const uint8_t (&probe)[4]);
  void ScanRestForRecord(InputStream& stream, int first = -1);
  static int FindNextMarker(InputStream& stream);
  SectionOutcome ActOnSection(int marker, FILE* diagnostics, bool& commentTaken);
  void DiscardLastSection();
  bool WalkDirectory(const TiffBlock& block, uint64_t offset, int depth, DirectoryKind kind, DirectoryWalk& walk);
  bool ActOnStructuralTag(const DirectoryEntry& entry, const TiffBlock& block, int depth, DirectoryKind kind,
                          DirectoryWalk& walk, Thumbnail& thumbnail);
  void BeginWalk();
  void WalkForRecord(const TiffBlock& block, uint64_t first, bool fresh);
  bool Walk(const TiffBlock& block, uint64_t first, DirectoryWalk& walk);
  void WalkGrafts(int depth, DirectoryWalk& walk);
  void TakeThumbnail(const TiffBlock& block, const Thumbnail& thumbnail, DirectoryKind kind, DirectoryWalk& walk);
  void NoteFrame(const DirectoryEntry& entry, const TiffBlock& block, DirectoryWalk& walk);
  void NoteMainImage(const TiffBlock& block, const DirectoryWalk& walk);
  void WalkGpsDirectory(const TiffBlock& block, uint64_t offset, bool tiffFormats);
  void InterpretTag(const DirectoryEntry& entry, const TiffBlock& block);
  void InterpretExtraTag(const DirectoryEntry& entry, const TiffBlock& block);
  void InterpretGpsTag(const DirectoryEntry& entry, const TiffBlock& block, struct GpsParts& parts);
  void StoreUserComment(const DirectoryEntry& entry, const TiffBlock& block);
  void DeriveReportValues();
  bool Fail(const char* text);  // copies text into LastError; returns false
  bool End(ScanEnding ending, const char* text);  // records how the scan ended; returns false
};

}  // namespace exifinfo
