// The firmware image the digital-sensor target carries, made like the Du70
// image (identity block, CRC, the digital sensor's memory layout) and embedded
// by the build, with its device kind and version fixed at build time.
#pragma once

#include <cstdint>

#include "bsl/BuiltInImage.h"

namespace zuro {

/// The sensor target's built-in image (firmware/sensor-<version>.txt).
extern const BuiltInImage kBuiltInSensorImage;

constexpr int kSensorImageKind = ZURO_SENSOR_IMAGE_KIND;
constexpr std::uint32_t kSensorImageVersion = ZURO_SENSOR_IMAGE_VERSION;

} // namespace zuro
