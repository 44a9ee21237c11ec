// SPDX-License-Identifier: MIT
// One file's values as a JSON object: every report field with its own type.
#pragma once

#include <string>

#include "report/photo_report.h"

namespace exifinfo_tool {

// Texts are read as the report reads them (UTF-8 when well-formed, else Windows-1252);
// fixed-point values are the report's six-decimal values, and null when infinite.
std::string JsonLine(const std::string& path, const exifinfo::PhotoDetails& details);

}  // namespace exifinfo_tool
