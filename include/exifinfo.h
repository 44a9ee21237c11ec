// SPDX-License-Identifier: MIT
/*
 * libexifinfo: what a photograph says about itself, as typed values.
 *
 * Reads a photo file, descriptor or buffer (JPEG; since 1.1 also TIFF and BigTIFF, the raw files
 * built on TIFF, RAF, CR3, HEIF/HEIC, AVIF, PNG, WebP and JPEG XL, known by their first bytes)
 * without reading its image data, and gives the frame size and colour, the first comment and 27
 * camera values of the EXIF block, the capture time with its zone, the GPS position, lens and
 * body (since 1.1), the embedded thumbnail, how the read ended, and a report text: for a JPEG,
 * the very report EXIFInfo returns; for other containers, the same layout from their values.
 *
 * Every function is reentrant: any number of threads may read at once, with no lock. Nothing
 * is printed to any stream, nothing aborts, and no pointer the caller passes is kept after a
 * call returns.
 *
 * ABI. A result is a struct that the library allocates and the caller only reads, and whose
 * first member is its own size. Members are only ever added at its end, so a program built
 * against this header reads the members it knows from any later 1.x library; a program that
 * needs a later member checks `size` first (EXIFINFO_HAS(photo, member)). Each export carries
 * a symbol version (EXIFINFO_1.0); later versions add names and never change or remove one.
 * A plain struct rather than an accessor per value: a C caller reads `photo->ISOequivalent`,
 * and a binding (ctypes, cffi) maps the whole struct once and reads every value without a
 * call of its own, which is most of the cost of a read from Python.
 */
#ifndef EXIFINFO_H
#define EXIFINFO_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* How the read ended. Every ending keeps the values read before it. A JPEG ends with one of the
 * first nine. Other containers (since 1.1) end with EXIFINFO_END_OF_METADATA when every box,
 * chunk or directory the metadata needs was read (whether or not it holds an EXIF block),
 * EXIFINFO_PREMATURE_END when the input ended inside one of them, EXIFINFO_DAMAGED when one of
 * them is malformed, and EXIFINFO_READ_ERROR as a JPEG does. A RAF ends as its embedded JPEG. */
typedef enum exifinfo_ending {
  EXIFINFO_START_OF_SCAN = 0,     /* reached the start of the compressed data */
  EXIFINFO_NOT_A_JPEG = 1,        /* in no known container (an empty input included); before 1.1:
                                     does not start with FF D8 */
  EXIFINFO_TOO_MANY_PADDING = 2,  /* seven 0xFF fill bytes before a marker */
  EXIFINFO_END_OF_IMAGE = 3,      /* an end-of-image marker before any start of scan */
  EXIFINFO_INVALID_MARKER = 4,    /* a section length below 2; the end of the input at a marker */
  EXIFINFO_PREMATURE_END = 5,     /* the input ended inside a section (box, chunk, directory) */
  EXIFINFO_TOO_MANY_SECTIONS = 6, /* 20 kept sections without a start of scan (since 1.8 the
                                     record's values are read on to it: frame, comment, XMP) */
  EXIFINFO_OUT_OF_MEMORY = 7,     /* never in a result: a read that runs out of memory fails with ENOMEM */
  EXIFINFO_READ_ERROR = 8,        /* a read failed after some bytes came; read_errno says why */
  EXIFINFO_END_OF_METADATA = 9,   /* since 1.1, other containers: all the metadata needs was read */
  EXIFINFO_DAMAGED = 10,          /* since 1.1, other containers: a structure the read needs is malformed */
  EXIFINFO_NEEDS_MORE = 11        /* since 1.2, exifinfo_read_ranges only: the ranges given end before what
                                     the read needs; next_offset and next_length say what to fetch */
} exifinfo_ending;

/* The container a photo came in (since 1.1), known from its first bytes, never its name. */
typedef enum exifinfo_container {
  EXIFINFO_CONTAINER_UNKNOWN = 0, /* none this library knows: the ending is EXIFINFO_NOT_A_JPEG */
  EXIFINFO_CONTAINER_JPEG = 1,
  EXIFINFO_CONTAINER_TIFF = 2,    /* TIFF, BigTIFF and raw built on them (DNG, NEF, CR2, ARW, ORF, RW2, PEF) */
  EXIFINFO_CONTAINER_HEIF = 3,    /* HEIF and HEIC */
  EXIFINFO_CONTAINER_AVIF = 4,
  EXIFINFO_CONTAINER_PNG = 5,     /* the eXIf chunk */
  EXIFINFO_CONTAINER_WEBP = 6,    /* the EXIF chunk */
  EXIFINFO_CONTAINER_RAF = 7,     /* Fujifilm raw: its embedded JPEG, read as a JPEG */
  EXIFINFO_CONTAINER_CR3 = 8,     /* Canon raw on ISO base media */
  EXIFINFO_CONTAINER_JXL = 9,     /* JPEG XL in its box container (the Exif box) */
  EXIFINFO_CONTAINER_MP4 = 10,    /* since 1.7: MPEG-4 video, M4V, 3GP and 3G2 (the movie box) */
  EXIFINFO_CONTAINER_MOV = 11,    /* since 1.7: QuickTime movie (the movie box) */
  EXIFINFO_CONTAINER_XMP = 12,    /* since 1.8: an XMP packet on its own, a sidecar file (.xmp) */
  EXIFINFO_CONTAINER_MRW = 13     /* since 1.9: Minolta raw (its TIFF block, and the raw image's size) */
} exifinfo_container;

/* The types of the report's values, for bindings (exifinfo_field_type). */
typedef enum exifinfo_type {
  EXIFINFO_TYPE_TEXT = 0,  /* const char*: UTF-8, NUL-terminated, never null */
  EXIFINFO_TYPE_INT32 = 1, /* int32_t */
  EXIFINFO_TYPE_FLOAT = 2, /* float (IEEE single precision) */
  EXIFINFO_TYPE_DOUBLE = 3, /* double; NaN when absent (since 1.1) */
  /* Since 1.5, in the record's table only (exifinfo_record_type): */
  EXIFINFO_TYPE_FLAG = 4,      /* int32_t, 0 or 1, never absent: a boolean */
  EXIFINFO_TYPE_ENDING = 5,    /* int32_t, an exifinfo_ending: shown by exifinfo_ending_name */
  EXIFINFO_TYPE_CONTAINER = 6, /* int32_t, an exifinfo_container: shown by exifinfo_container_name */
  EXIFINFO_TYPE_CALLER = 7,    /* no member: the caller's own ("path": what was read; "error": why the
                                  read failed, or the result's last_error) */
  EXIFINFO_TYPE_LIST = 8       /* since 1.8: const char* const*, the items (UTF-8 texts) in order and a
                                  null after the last; never null (no items: the null alone) */
} exifinfo_type;

/* The field table's first entries are the report's values; the values added since follow. */
#define EXIFINFO_REPORT_FIELD_COUNT 29

/* Since 1.5: the values of IFD0 and the EXIF directory as the file writes them, under their
 * conventional tag names (exifinfo_photo's member `file`). */
typedef struct exifinfo_file_values {
  const char* Make;             /* 0x010F, whole */
  const char* Model;            /* 0x0110, whole */
  const char* DateTimeOriginal; /* 0x9003, whole */
  const char* UserComment;      /* 0x9286: the text after its 8-byte code (UTF-16 under "UNICODE") */
  const char* Comment;          /* the first JPEG comment section, whole */
  const char* LensInfo;         /* 0xA432: "24 70 2.8 4", an unknown part "undef" */
  int32_t ExposureProgram;      /* 0x8822 */
  int32_t MeteringMode;         /* 0x9207 */
  int32_t LightSource;          /* 0x9208 */
  int32_t Flash;                /* 0x9209, the whole code (bit 0: fired) */
  int32_t WhiteBalance;         /* 0xA403: 0 auto, 1 manual */
  int32_t Orientation;          /* 0x0112 as written */
  int32_t ResolutionUnit;       /* 0x0128: 1 none, 2 inches, 3 centimetres */
  int32_t ImageWidth;           /* the main image: a JPEG's frame, a container's image, a TIFF's or raw
                                   file's largest (IFD0, its SubIFDs, the EXIF sizes; RW2 its sensor
                                   area; RAF its directory's), a JPEG XL's codestream; -1 when unknown */
  int32_t ImageHeight;
  int32_t ThumbnailLength;      /* the thumbnail's length as IFD1 writes it (else the thumbnail taken),
                                   -1 without one */
  int32_t HasExif;              /* 1 when the first directory of an EXIF block was read: unlike the
                                   report's HasExif, also where the report's walk gave up early */
  double ExposureTime;          /* 0x829A, seconds, with no fallback */
  double FNumber;               /* 0x829D, with no fallback */
  double ExposureCompensation;  /* 0x9204, EV */
  double FocalLength;           /* 0x920A, millimetres */
  double MaxApertureValue;      /* 0x9205 as the f-number its APEX value stands for */
  double SubjectDistance;       /* 0x9206, metres */
  double DigitalZoomRatio;      /* 0xA404 */
  double XResolution;           /* 0x011A */
  double YResolution;           /* 0x011B */
} exifinfo_file_values;

/* One photo's values. Allocated by the library, read-only to the caller, freed with
 * exifinfo_free; every pointer in it points into the same allocation and lives as long. */
typedef struct exifinfo_photo {
  size_t size; /* bytes of this struct as the library that made it knows it */

  /* The 29 values of the report, in its order, under its keys. Texts are the record's 8-bit
   * texts read as UTF-8 when well-formed and as Windows-1252 otherwise, encoded as UTF-8.
   * Floats are the values themselves, every bit of them; the report prints them rounded to
   * six decimals. */
  const char* Version;     /* EXIF version, e.g. "0230" */
  const char* CameraMake;
  const char* CameraModel;
  const char* DateTime;    /* "YYYY:MM:DD HH:MM:SS" as the camera wrote it */
  const char* Comments;    /* the first comment section, or the EXIF user comment */
  int32_t Height;          /* frame height in pixels */
  int32_t Width;           /* frame width in pixels */
  int32_t Orientation;     /* 1 to 8, 0 when absent or out of range */
  int32_t IsColor;         /* 1 when the frame has three components */
  int32_t Process;         /* the start-of-frame marker code: 192 baseline, 194 progressive... */
  int32_t FlashUsed;       /* 1 when the flash fired */
  float FocalLength;       /* millimetres */
  float ExposureTime;      /* seconds */
  float ApertureFNumber;
  float Distance;          /* subject distance, metres */
  float CCDWidth;          /* sensor width in inches, derived from the focal-plane values */
  float ExposureBias;
  int32_t Whitebalance;    /* light-source code */
  int32_t MeteringMode;
  int32_t ExposureProgram;
  int32_t ISOequivalent;
  int32_t CompressionLevel; /* compressed bits per pixel, truncated */
  float FocalplaneXRes;
  float FocalplaneYRes;
  float FocalplaneUnits;   /* inches per focal-plane resolution unit */
  float Xresolution;
  float Yresolution;
  float ResolutionUnit;    /* inches per resolution unit */
  float Brightness;

  int32_t HasExif;    /* 1 when the last EXIF block passed its checks and its first directory was walked */
  int32_t ending;     /* an exifinfo_ending */
  int32_t read_errno; /* the errno of the failed read when ending is EXIFINFO_READ_ERROR, else 0 */
  uint32_t thumbnail_offset; /* from the EXIF block's TIFF header, as the file gives it; 0 without one */
  const char* last_error;    /* the reader's last error text, "" when none; it also tells an EXIF
                                block that was rejected or cut short while the read went on */
  const unsigned char* thumbnail; /* the embedded thumbnail's bytes; null when the photo has none */
  size_t thumbnail_size;          /* bytes; 0 when there is none */
  const char* report;             /* the report EXIFInfo returns, as UTF-8 (CR LF line ends) */
  size_t report_length;           /* bytes, terminator excluded */
  const wchar_t* report_wide;     /* the same report, the very characters EXIFInfo returns */
  size_t report_wide_length;      /* characters, terminator excluded */

  /* Since 1.1: the values beyond the report, read from IFD0, the EXIF directory and the GPS
   * directory, under their conventional tag names. Check EXIFINFO_HAS(photo, ModifyDate) (or
   * any of them) before reading them from a library that may be older.
   * Texts: UTF-8 by the rule of the report's texts, cut at the first NUL, trailing blanks
   * trimmed, at most 1,023 bytes (cut at a character boundary); "" when absent. */
  const char* ModifyDate;          /* 0x0132, "YYYY:MM:DD HH:MM:SS" as written */
  const char* CreateDate;          /* 0x9004 */
  const char* OffsetTime;          /* 0x9010, "+02:00": the zone of ModifyDate */
  const char* OffsetTimeOriginal;  /* 0x9011: the zone of the capture time (DateTime) */
  const char* OffsetTimeDigitized; /* 0x9012: the zone of CreateDate */
  const char* SubSecTime;          /* 0x9290, digits: the fraction of a second of ModifyDate */
  const char* SubSecTimeOriginal;  /* 0x9291 */
  const char* SubSecTimeDigitized; /* 0x9292 */
  const char* Software;            /* 0x0131 */
  const char* Artist;              /* 0x013B */
  const char* Copyright;           /* 0x8298 */
  const char* ImageDescription;    /* 0x010E */
  const char* ImageUniqueID;       /* 0xA420 */
  const char* CameraOwnerName;     /* 0xA430 */
  const char* BodySerialNumber;    /* 0xA431 */
  const char* LensMake;            /* 0xA433 */
  const char* LensModel;           /* 0xA434 */
  const char* LensSerialNumber;    /* 0xA435 */
  /* Derived texts, "" when they cannot be formed. CaptureTime: ISO 8601 from the file's
   * DateTimeOriginal (0x9003, the report's DateTime before 1.5, the same where the report's walk
   * reads it), SubSecTimeOriginal and OffsetTimeOriginal ("2019-05-03T14:22:11.42+02:00"; no
   * zone suffix without a valid offset; "" unless it starts with a valid "YYYY:MM:DD HH:MM:SS"). GPSDateTime:
   * UTC from GPSDateStamp and GPSTimeStamp ("2019-05-03T12:22:11Z", a fraction of a second kept). */
  const char* CaptureTime;
  const char* GPSDateTime;
  /* Integers; -1 when absent (no camera writes -1 for any of them). */
  int32_t ISO;                     /* 0x8827 as written, or 0x8833 when that is absent or 65535;
                                      unlike ISOequivalent, never rescaled */
  int32_t FocalLengthIn35mmFormat; /* 0xA405, millimetres */
  int32_t ColorSpace;              /* 0xA001: 1 sRGB, 65535 uncalibrated */
  int32_t ExifImageWidth;          /* 0xA002, pixels */
  int32_t ExifImageHeight;         /* 0xA003, pixels */
  int32_t ExposureMode;            /* 0xA402: 0 auto, 1 manual, 2 auto bracket */
  int32_t SceneCaptureType;        /* 0xA406 */
  int32_t HasGPS;                  /* 1 exactly when GPSLatitude and GPSLongitude are both usable */
  /* Doubles; NaN when absent or unusable (a zero denominator, a reference that is no hemisphere,
   * a latitude past +-90 or a longitude past +-180), never 0: 0, 0 is a real place. */
  double GPSLatitude;              /* signed decimal degrees, south negative */
  double GPSLongitude;             /* signed decimal degrees, west negative */
  double GPSAltitude;              /* metres, negative below sea level (GPSAltitudeRef 1) */
  double GPSImgDirection;          /* degrees, 0 to 360 */
  double LensMinFocalLength;       /* the lens range (0xA432): focal lengths in millimetres */
  double LensMaxFocalLength;
  double LensMinFNumber;
  double LensMaxFNumber;

  /* Since 1.1. An exifinfo_container. For containers other than JPEG the frame values come from
   * the container: Width and Height of the primary image (HEIF/AVIF: its ispe; PNG: IHDR; WebP:
   * the VP8X canvas, else the VP8/VP8L frame; TIFF: IFD0's ImageWidth and ImageLength; JPEG XL:
   * 0), IsColor 1 when the container says colour (HEIF/AVIF: pixi with three or more channels,
   * else a decoder configuration that is not monochrome; PNG: a colour type with the colour bit;
   * WebP: always; TIFF: three or more samples a pixel or a colour photometric), Process 0, and no
   * comment. */
  int32_t container;

  /* Since 1.2. The reads the library asked of the file, descriptor or source (exifinfo_read_source),
   * and the bytes they gave; 0 for a read from memory (exifinfo_read_memory, exifinfo_read_ranges). */
  uint64_t requests;
  uint64_t bytes_read;
  /* With EXIFINFO_NEEDS_MORE: the range to fetch next (a length of at least 4 KiB, 64 KiB
   * unless only the rest of a close range is missing, never past a known total size); 0
   * otherwise. */
  uint64_t next_offset;
  uint64_t next_length;

  /* Since 1.5: the file's own values where the report's members above keep a copy by the
   * report's rules (a text cut to a fixed size, an ISO rescaled, a fallback for an absent
   * value, the light source as white balance, a TIFF's IFD0 preview as its frame). Texts as the
   * 1.1 texts ("" when absent); integers -1 and doubles NaN when absent. */
  exifinfo_file_values file;
  /* Since 1.5: which keys of the record have a value: bit (i % 64) of word i / 64 for the key at
   * index i of the record table. A text the file has but leaves empty has one (""); an absent
   * one does not, though its member reads "" as always. */
  uint64_t record_present[2];

  /* Since 1.7. Where CaptureTime came from: "exif" (DateTimeOriginal), "quicktime" (a phone's
   * own capture time with its zone, Apple's com.apple.quicktime.creationdate), "mvhd" (a video's
   * movie header: UTC by the format, though some cameras write local time there); "" without a
   * CaptureTime. Since 1.8 also "xmp" (XMP's exif:DateTimeOriginal, photoshop:DateCreated or
   * xmp:CreateDate) and "iptc" (IPTC's date and time), after EXIF and a phone's own and before
   * a video's movie header. */
  const char* CaptureTimeSource;
  /* Since 1.7, a video's, and since 1.9 a CR3's (NaN and -1 for other photos): its length in
   * seconds (the movie header) and the rotation its video track is shown with, 0, 90, 180 or
   * 270 degrees clockwise. A video's other values are members above: CreateDate and ModifyDate
   * from its movie header (as the format says, UTC), ImageWidth and ImageHeight (and the
   * report's Width and Height) of its first video track, Make, Model and Software, and the GPS
   * position of its keyed metadata or user data. */
  double Duration;
  int32_t Rotation;

  /* Since 1.8: what the read passed over or read only in part, though the photo read well: an
   * XMP packet too large, not well-formed or declaring a document type, an Extended XMP whose
   * parts do not make one packet, a list cut at 10,000 items; "" when nothing was. */
  const char* warning;
  /* Since 1.8, what XMP (embedded, in any container) and IPTC (IIM) say, under exiftool's names;
   * texts "" and lists empty when absent (record_present says which are there). From XMP:
   * Rating (xmp:Rating, -1 rejected to 5; NaN when absent), Label (xmp:Label, a colour label),
   * Subject (dc:subject, the keywords), HierarchicalSubject (lr:hierarchicalSubject,
   * "Places|Europe|Paris"), Title, Description and Rights (dc:title, dc:description, dc:rights:
   * the default language's), Creator (dc:creator), City (photoshop:City, else IPTC's City),
   * State, Country (photoshop:), RegionName (the names of the MWG regions: the people in face
   * regions), DateCreated (photoshop:DateCreated, else IPTC's date and time, written as EXIF
   * writes times). From IPTC: Keywords, ObjectName, Caption (Caption-Abstract), ByLine. */
  double Rating;
  const char* Label;
  const char* const* Subject;
  const char* const* HierarchicalSubject;
  const char* Title;
  const char* Description;
  const char* const* Creator;
  const char* Rights;
  const char* City;
  const char* State;
  const char* Country;
  const char* const* RegionName;
  const char* DateCreated;
  const char* const* Keywords;
  const char* ObjectName;
  const char* Caption;
  const char* const* ByLine;
  /* Since 1.8: the sidecar whose XMP a result of exifinfo_apply_sidecar carries, as named
   * there; "" for any other result. */
  const char* sidecar;
} exifinfo_photo;

/* True when `photo` (from any 1.x library) has `member`. */
#define EXIFINFO_HAS(photo, member) \
  ((photo)->size >= offsetof(exifinfo_photo, member) + sizeof((photo)->member))

/*
 * Reading. Each function returns 0 and sets *photo to a new result, which the caller frees
 * with exifinfo_free; or returns an errno value and sets *photo to null (when photo is not
 * null itself):
 *   EINVAL  a null path, data or photo pointer;
 *   ENOMEM  an allocation failed (nothing is kept);
 *   other   the path could not be opened (ENOENT, EACCES...), or the very first read failed
 *           (EISDIR for a directory, EBADF for a descriptor that is closed or not open for
 *           reading, EIO...). A read that fails after some bytes came is not an error: the
 *           result keeps what was read, with ending EXIFINFO_READ_ERROR and its read_errno.
 * A file in no known container is a result, with ending EXIFINFO_NOT_A_JPEG, container
 * EXIFINFO_CONTAINER_UNKNOWN and default values (zeros and empty texts), as is a damaged one,
 * with the values read before the damage. No read asks for image data: a container's EXIF
 * block, directories and headers are read by position, wherever they lie, in a few reads.
 */

/* Reads the file at `path` (a file name as bytes, usually UTF-8). A FIFO is opened without
 * waiting for a writer: with none it reads as empty; with one, reads wait for its data. */
int exifinfo_read_path(const char* path, exifinfo_photo** photo);

/* Reads the open descriptor `fd` from its current position. The caller keeps the descriptor
 * and closes it. A descriptor that can seek keeps its position (the reads are positioned);
 * one that cannot (a pipe, a socket) is left just past the bytes read. A non-blocking
 * descriptor is waited on when it has no data yet. */
int exifinfo_read_fd(int fd, exifinfo_photo** photo);

/* Reads `size` bytes at `data`, which the call only borrows. */
int exifinfo_read_memory(const void* data, size_t size, exifinfo_photo** photo);

/* Since 1.2: a photo read by ranges the library asks for, from wherever the caller keeps it (a
 * network store, an archive, a cache). The library asks only for the ranges the metadata needs,
 * and few of them: first the photo's first 128 KiB (with latency dominating, one larger request
 * beats several small ones; the man page has the study behind it), then 64 KiB (whole pages)
 * around what it needs next, joined to what it holds when close to it, and never a range twice
 * while it holds it (a few places at once), never the image data beyond.
 * read_at fills `buffer` with up to `length` bytes at `offset` and returns how many it gave:
 * fewer than asked is fine (it is asked again for the rest), 0 means the end of the photo, -1 a
 * failure, with an errno value in *error (EIO when it leaves 0). It is called on the calling
 * thread only, and never after exifinfo_read_source returns. */
#define EXIFINFO_SIZE_UNKNOWN UINT64_MAX
typedef struct exifinfo_source {
  int64_t (*read_at)(void* context, uint64_t offset, void* buffer, size_t length, int* error);
  void* context;
  uint64_t size; /* the photo's size in bytes, or EXIFINFO_SIZE_UNKNOWN; nothing past it is asked */
} exifinfo_source;

/* Reads a photo through `source`. Errors as above; EINVAL for a null source or read_at, and the
 * error of a first read that fails. A read that fails later is a result with
 * EXIFINFO_READ_ERROR and its read_errno. */
int exifinfo_read_source(const exifinfo_source* source, exifinfo_photo** photo);
/* What one photo's read may cost a source (since 1.3): at most `requests` calls of read_at
 * and `bytes` given by them. Past either, the source reads as ended and the result is what was
 * read so far, with ending EXIFINFO_PREMATURE_END and a last_error that says the read was cut.
 * A member of 0, or a null budget, is the default: 16 requests and 2 MiB, which no photo of
 * the test corpora comes near (4 requests and 450 KiB at most); a file that strews its
 * directories, boxes or chunks over its length would otherwise cost thousands of requests. A
 * read by path or descriptor has the same bound on bytes, and as many more requests as its
 * requests (pages of 4 KiB) are smaller than 64 KiB. */
typedef struct exifinfo_budget {
  uint64_t requests;
  uint64_t bytes;
} exifinfo_budget;
int exifinfo_read_source_within(const exifinfo_source* source, const exifinfo_budget* budget, exifinfo_photo** photo);

/* Since 1.2: a read resumed from the bytes a caller holds, for callers that fetch ranges
 * themselves (asynchronously, or in batches). Give the ranges held so far, in any order (none
 * at first) and the photo's total size when known. The result is a photo as from any read, or,
 * with ending EXIFINFO_NEEDS_MORE, the range to fetch next (next_offset, next_length) and the
 * values read so far: fetch it, add it to the ranges and call again. Each call reads from the
 * start over the ranges given (a restart costs microseconds; the fetches are what cost), so a
 * caller keeps every range it fetched. When a fetch comes back short (the photo ends there),
 * give the total size from then on. The ranges are only borrowed. */
typedef struct exifinfo_range {
  uint64_t offset;
  const void* data;
  size_t size;
} exifinfo_range;
int exifinfo_read_ranges(const exifinfo_range* ranges, size_t count, uint64_t total_size, exifinfo_photo** photo);
/* Since 1.3: exifinfo_read_ranges within a budget (above). What the ranges given serve counts as the
 * requests that fetched it, so a resume loop ends (cut, not needing more) within the budget of one
 * read through a source. Ranges are found by search, not by scanning them all. */
int exifinfo_read_ranges_within(const exifinfo_range* ranges, size_t count, uint64_t total_size,
                                const exifinfo_budget* budget, exifinfo_photo** photo);

/* Since 1.2: many photos at once, on `threads` threads of the library's own (1 or less: the
 * calling thread). Each input is a path, or bytes in memory (path null), or a descriptor (path
 * and data null, fd >= 0). photos[i] and errors[i] get what the one read of inputs[i] gives
 * (a result and 0, or null and an errno value). Bindings call it to read a batch without
 * holding their own locks. */
typedef struct exifinfo_input {
  const char* path;
  const void* data;
  size_t size;
  int fd;
} exifinfo_input;
void exifinfo_read_many(const exifinfo_input* inputs, size_t count, int threads, exifinfo_photo** photos,
                        int* errors);

/* Since 1.8: a photo's result with its XMP sidecar applied, as photo managers write sidecars
 * beside the photos (NAME.xmp, NAME.EXT.xmp): `sidecar` is the sidecar's result (from any read
 * of it: it is read as an XMP packet, container EXIFINFO_CONTAINER_XMP). Its XMP values win
 * over what the photo's embedded XMP and IPTC say for Rating, Label, Subject,
 * HierarchicalSubject, Title, Description, Creator, Rights, City, State, Country, RegionName and
 * DateCreated; its capture time is taken where the photo's comes from neither EXIF nor a
 * video's own (its CaptureTimeSource "xmp"), and its position where the photo has none. Every
 * other value is the photo's. *out gets a new result (freed with exifinfo_free) whose member
 * `sidecar` and record key "sidecar" are `name` (null: ""); both inputs are only read. Returns
 * 0, EINVAL for a null photo, sidecar or out, ENOMEM (*out null). */
int exifinfo_apply_sidecar(const exifinfo_photo* photo, const exifinfo_photo* sidecar, const char* name,
                           exifinfo_photo** out);

/* Frees a result and everything it points to. A null photo does nothing. */
void exifinfo_free(exifinfo_photo* photo);

/* The ending's name as bindings show it ("start_of_scan", "not_a_jpeg", "too_many_padding",
 * "end_of_image", "invalid_marker", "premature_end", "too_many_sections", "out_of_memory",
 * "read_error", since 1.1 "end_of_metadata", "damaged", since 1.2 "needs_more"); null for a
 * value that is no ending.
 * Static storage. */
const char* exifinfo_ending_name(int ending);

/* The container's name as bindings show it (since 1.1): "unknown", "jpeg", "tiff", "heif",
 * "avif", "png", "webp", "raf", "cr3", "jxl", "mp4", "mov", since 1.8 "xmp", since 1.9 "mrw";
 * null for a value that is no container. */
const char* exifinfo_container_name(int container);

/*
 * The field table, for bindings: the report's 29 values in report order
 * (EXIFINFO_REPORT_FIELD_COUNT), then the values added since, in struct order, so that nothing
 * above this API spells the list again. Position `index` runs from 0 to exifinfo_field_count()
 * - 1; past it, the name is null, the type -1 and the offset 0.
 */
size_t exifinfo_field_count(void);
/* The value's key as the report prints it ("CameraMake", "ISOequivalent"). Static storage. */
const char* exifinfo_field_name(size_t index);
/* An exifinfo_type. */
int exifinfo_field_type(size_t index);
/* The member's offset in exifinfo_photo, in bytes. */
size_t exifinfo_field_offset(size_t index);
/* What the value is, in one line of English, with its EXIF tag where it has one ("ISO as
 * written (0x8827, else 0x8833)"). Static storage; null past the table (since 1.4). */
const char* exifinfo_field_meaning(size_t index);

/*
 * Since 1.5, the record: what a photo's record carries (the tool's JSON, CSV and index rows, the
 * Python binding's records), one key a value, under the names metadata tools share (exiftool's
 * tag names), each the file's own value, and absent (null) when the file does not have it, as
 * the photo's record_present says. The report's 29 values are not in it. Position `index`
 * runs from 0 to exifinfo_record_count() - 1; past it the key and meaning are null, the type -1
 * and the offset 0. Keys never change within 1.x; later versions add keys at the end.
 */
size_t exifinfo_record_count(void);
const char* exifinfo_record_key(size_t index);     /* "Make", "ISO", "GPSLatitude"... */
int exifinfo_record_type(size_t index);            /* an exifinfo_type */
size_t exifinfo_record_offset(size_t index);       /* the member's offset in exifinfo_photo; 0 for CALLER */
const char* exifinfo_record_meaning(size_t index); /* one line of English, with the tag */

/*
 * Since 1.6, the record as values and as text, made from the record's table: what the tool
 * prints and indexes, and what the Python binding hands out, are these very values and bytes.
 */

/* A record value as a database keeps it. */
typedef enum exifinfo_value_kind {
  EXIFINFO_VALUE_NULL = 0,    /* absent (or a CALLER key: the caller's own) */
  EXIFINFO_VALUE_INTEGER = 1, /* INT32, and FLAG as 0 or 1 */
  EXIFINFO_VALUE_REAL = 2,    /* DOUBLE, always finite */
  EXIFINFO_VALUE_TEXT = 3,    /* TEXT, and the names of ENDING and CONTAINER */
  EXIFINFO_VALUE_LIST = 4     /* since 1.8, LIST: `text` is the items as a JSON array ("[\"a\",\"b\"]"),
                                 `integer` their count */
} exifinfo_value_kind;
typedef struct exifinfo_value {
  int kind;          /* an exifinfo_value_kind */
  int64_t integer;
  double real;
  const char* text;  /* UTF-8, NUL-terminated, in the photo's storage or static; null unless TEXT or LIST */
} exifinfo_value;
/* The value of record key `index` in `photo` (null: a read that failed, every value null).
 * Returns 0, or EINVAL for a null value pointer or an index past the table. */
int exifinfo_record_value(const exifinfo_photo* photo, size_t index, exifinfo_value* value);

/* The record's "error" of a read that returned `error` with `photo`: "" when the read did not
 * fail; "cannot open: No such file or directory" (the C locale's text), "read error: Input/output
 * error" for a first read that failed (EIO, EBADF, EINVAL) or a result whose ending is
 * EXIFINFO_READ_ERROR, "Is a directory" for EISDIR. Writes at most `capacity` bytes, a NUL
 * included, and returns the text's length, as snprintf does. */
size_t exifinfo_failure_text(int error, const exifinfo_photo* photo, char* buffer, size_t capacity);

/* The record as one JSON object on one line, with no line end: the keys at `keys` (indexes in
 * the record's table, `key_count` of them, in that order; null for every key in table order),
 * "path" as `path` (null: JSON null; bytes that are not UTF-8 as the lone surrogates
 * U+DC80..U+DCFF, as Python's "surrogateescape" reads them), "error" as `error` (null or "":
 * JSON null). No spaces; numbers as Python's json.dumps writes them. Writes at most `capacity`
 * bytes, a NUL included, and returns the line's length, as snprintf does; 0 for an index past
 * the table. */
size_t exifinfo_record_json(const exifinfo_photo* photo, const char* path, const char* error, const size_t* keys,
                            size_t key_count, char* buffer, size_t capacity);

/* What a batch of records (exifinfo_records_json) writes. Zero-initialise it and set `size`:
 * members past the size a caller knows read as 0. */
typedef struct exifinfo_records_options {
  size_t size;              /* sizeof(exifinfo_records_options) */
  const size_t* keys;       /* the keys of each line, as exifinfo_record_json takes them */
  size_t key_count;
  int threads;              /* the library's threads that read (1 or less: the calling thread) */
  int skip_unknown;         /* nonzero: an input in no known container, or a directory, gives no
                               line, as exifinfo -r passes them over */
  const char* const* names; /* the "path" of each input (null entries, or a null array: the
                               input's path, and null for bytes and descriptors) */
  const char* const* sidecars; /* since 1.8: the path of each input's XMP sidecar, applied as
                                  exifinfo_apply_sidecar does and named as given (null entries,
                                  or a null array: none); one that cannot be read is passed over */
} exifinfo_records_options;

/* Reads `count` inputs (as exifinfo_read_many takes them) and makes the record line of each,
 * in input order, each ending in "\n": a read that fails is a line whose "error" says why
 * (exifinfo_failure_text). With `fd` >= 0 the lines are written to it as they are made, a
 * window of 64 at a time; else *text gets them in one buffer (NUL-terminated, freed
 * with exifinfo_free_text). *length (may be null) gets the bytes made, *lines (may be null) the
 * lines. Returns 0; EINVAL for a null inputs array with a count, or a key past the table;
 * ENOMEM (nothing returned; lines already written to `fd` stay); or the errno of a failed write
 * (the lines before it are in the file). */
int exifinfo_records_json(const exifinfo_input* inputs, size_t count, const exifinfo_records_options* options, int fd,
                          char** text, size_t* length, size_t* lines);
/* Frees a text the library made. A null text does nothing. */
void exifinfo_free_text(char* text);

/* The library's version, "MAJOR.MINOR.PATCH". Static storage. */
const char* exifinfo_version(void);

#ifdef __cplusplus
}
#endif

#endif /* EXIFINFO_H */
