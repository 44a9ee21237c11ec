// SPDX-License-Identifier: MIT
// The reader's fixed messages: LastError texts and the two diagnostic lines.
#pragma once

namespace exifinfo::errors {

// Section scanner.
constexpr char kInvalidMarker[] = "invalid marker";
constexpr char kNoMemory[] = "Could not allocate memory";
constexpr char kPrematureEnd[] = "Premature end of file?";
constexpr char kTooManySections[] = "Too many sections in jpg file";
// A read of the input failed (not its end): what was read before it stays.
constexpr char kReadError[] = "Read error";
// Printed to the diagnostics stream, each followed by a line feed; LastError is left alone.
constexpr char kTooManyPadding[] = "too many padding unsigned chars";
constexpr char kNoImage[] = "No image in jpeg!";

// Containers other than JPEG: a structure the read needs is malformed (a cut one ends with
// kPrematureEnd, as in a JPEG).
constexpr char kDamagedContainer[] = "Damaged container structure";
// The read was cut where one photo's requests or bytes ran past their bound.
constexpr char kReadBudgetSpent[] = "Read cut: too many requests or bytes for one photo";

// EXIF header and directory walk.
constexpr char kIncorrectHeader[] = "Incorrect Exif header";
constexpr char kInvalidAlignment[] = "Invalid Exif alignment marker.";
constexpr char kInvalidStart[] = "Invalid Exif start (1)";
constexpr char kSuspiciousOffset[] = "Suspicious offset of first IFD value";
constexpr char kIllegalDirectorySize[] = "Illegally sized directory";
constexpr char kIllegalFormat[] = "Illegal format code in EXIF dir";
constexpr char kIllegalValueOffset[] = "Illegal pointer offset value in EXIF.";
constexpr char kIllegalLink[] = "Illegal subdirectory link";
// A link to a directory whose walk already began, or one nested past the depth bound.
constexpr char kDirectoryRevisited[] = "Directory already walked or nested too deep";
// The walk of one section examined more entries than its block can hold without overlap.
constexpr char kTooManyEntries[] = "Too many directory entries in EXIF";

// Tag interpretation: recorded without stopping the walk.
constexpr char kUndefinedRotation[] = "Undefined rotation value";

}  // namespace exifinfo::errors
