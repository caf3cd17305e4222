// The port table that the main window offers to the user, and the rules that
// turn the device list into it: readable names, the maker's adapter and the
// radio modems named as the user knows them, busy ports marked, and the
// built-in ports probed when the user asks to find all ports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zuro {

/// One entry of the port table.
struct CommPortInfo {
  std::string portName;        ///< the name to open: a device path of up to kPortNameMaxChars
  std::string displayName;     ///< the line shown to the user, at most kDisplayNameMaxChars
  std::int32_t portNumber = 0; ///< sort key: family first, then the device's own number
};

constexpr std::size_t kDisplayNameMaxChars = 64;
constexpr std::size_t kFriendlyNameMaxChars = 64; ///< longer friendly names are cut
constexpr std::size_t kInstanceIdMaxChars = 64;   ///< longer instance identities are cut
constexpr int kProbedPortCount = 16;              ///< built-in ports 1 to 16 are probed

// Texts that name adapters, exactly as their drivers and makers write them.
constexpr const char* kMakerAdapterNames[] = {"Brenvik USB", "Brenvik UCA"};
constexpr const char* kRadioModemNames[] = {"MaxStream PKG-U", "Digi PKG-U"};
constexpr const char* kMakerAdapterProduct = "PID_8414\\"; ///< in the instance identity
constexpr const char* kMakerAdapterSerialMark = "BRENVIK_UCA";
constexpr const char* kMakerAdapterTitle = "QUOLT USB Adapter";
constexpr const char* kMakerAdapterOtherName = "Brenvik UCA"; ///< keeps a radio rename off
constexpr const char* kRadioModemTitle = "Brenvik USB Kx2";
constexpr const char* kPlainPortSuffix = "Communications Port";
constexpr const char* kBusyMark = " (busy)";

/// Sort key of a device path: families ttyS, ttyACM, ttyUSB, then all others,
/// each ordered by the device's trailing number; ttyS0 is 1, as COM1 is.
/// 0 when the name has no trailing number (such a device is not listed).
std::int32_t PortNumberOf(std::string_view devicePath);

/// The display name of a listed device before the busy test: "<port> <friendly
/// name>" with the maker's adapter renamed; "<port> Communications Port"
/// without a friendly name.
std::string DeviceDisplayName(std::string_view portName, std::string_view friendlyName,
                              std::string_view instanceId);

} // namespace zuro
