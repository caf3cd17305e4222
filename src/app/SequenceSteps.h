// What the instrument and the digital-sensor sequences do alike: the error
// notices they share and the reprogramming itself (erase, upload, vectors),
// which must go exactly the same way whichever device is on the line.
#pragma once

#include <cstdint>
#include <string>

#include "app/UpdateSession.h"
#include "core/ResultCodes.h"
#include "service/DeviceKinds.h"

namespace zuro {

constexpr const char* kLoaderErrorCaption = "Firmware Loader Error";
constexpr const char* kSettingsErrorCaption = "Settings Error";
constexpr const char* kUploadErrorCaption = "Firmware Upload Error";

/// The failure notices of the sequences are errors.
void FailNotice(UpdateSession& s, const std::string& text, const char* caption);

/// "The <caption> encountered an error working with your <name>..." with the code.
std::string WorkingErrorText(UpdateSession& s, Result code);

/// With the boot loader in contact: erases the information memory and the
/// flash of `entry`'s layout, uploads the image (after `settleMs`), and writes
/// the vectors that restart the device. Tells the user and returns the code
/// of the first failure; 1 when the device is restarting into its new firmware.
Result ReprogramDevice(UpdateSession& s, const DeviceKindEntry& entry, std::uint32_t settleMs);

} // namespace zuro
