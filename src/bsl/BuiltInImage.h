// The firmware image compiled into the updater. The build converts the
// committed TI-TXT file under firmware/ into image text and records its length
// and character sum beside it; the boot-loader host checks its copy against
// those two figures at start-up, so a damaged program refuses to update.
#pragma once

#include <cstdint>

#include "bsl/ImageText.h"

namespace zuro {

struct BuiltInImage {
  const char* name;         ///< shown to the user, e.g. "Du70 2.30"
  std::uint8_t kind;        ///< device kind code of the image
  VectorTable vectors;      ///< vector 0 (0xFFE0) first, the reset vector last
  const char* text;         ///< image text form
  std::uint32_t textLength; ///< characters of `text`, counted when the build embedded it
  std::int64_t textSum;     ///< sum of the characters as signed bytes, same moment
};

/// The image of this build's target (generated from firmware/*.txt).
extern const BuiltInImage kBuiltInImage;

} // namespace zuro
