// Result codes shared by every layer below the user interface. An operation
// returns a signed 32-bit result: zero or more is success, a negative value
// an error. The serial layer passes negated system error numbers; the other
// layers use these fixed codes. Each subsystem adds its own codes here so the
// whole vocabulary can be read in one place.
#pragma once

#include <cstdint>

namespace zuro {

using Result = std::int32_t;

constexpr Result kOk = 0;
constexpr Result kDone = 1;

// Codes that cross subsystems.
constexpr Result kErrMissingArgument = -10;   ///< a required argument is missing or empty
constexpr Result kErrNoConnection = -20;      ///< no connection to the device
constexpr Result kErrNoAnswer = -21;          ///< port closed or the device gave no answer
constexpr Result kErrNotUnderstood = -30;     ///< the answer or text could not be understood
constexpr Result kErrPartialSettings = -35;   ///< some but not all settings read or written
constexpr Result kErrStopped = -40;           ///< stopped by the user or the progress callback
constexpr Result kErrOutOfMemory = -60;       ///< out of memory
constexpr Result kErrDataMemory = -65;        ///< the instrument's data memory is failing
constexpr Result kErrBootLoaderActive = -80;  ///< the boot loader answered, already active
constexpr Result kErrBootLoaderWaiting = -81; ///< the boot loader answered, waiting for contact
constexpr Result kErrDamagedImage = -101;     ///< the built-in firmware image is damaged
constexpr Result kErrSettingsFileMissing = -102; ///< the settings file is missing
constexpr Result kErrBootLoader = -110;       ///< the boot loader reported an error
constexpr Result kErrNoBootLoader = -112;     ///< the device has no boot loader
constexpr Result kErrNotSupported = -120;     ///< firmware or device not supported

}  // namespace zuro
