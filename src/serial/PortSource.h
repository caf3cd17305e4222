// Where port enumeration gets the computer's serial devices from: the
// operating system's device list on a real system (udev on Linux, with sysfs
// behind it), a table in tests. A source only reports devices; the names the
// user sees, the order and the busy marks are CommPortEnum's rules.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/ResultCodes.h"

namespace zuro {

class ZuroLog;

/// One serial device as the device list reports it.
struct PortDevice {
  std::string devNode;      ///< the device path, "/dev/ttyUSB0"
  std::string friendlyName; ///< readable name (USB product or model); empty when unknown
  /// "USB\VID_vvvv&PID_pppp\serial" for USB devices (hex upper case), empty otherwise.
  std::string instanceId;
};

class PortSource {
public:
  virtual ~PortSource() = default;
  /// Fills `devices` in the device list's order and returns their number, or
  /// a negative result when this system has no device list to read at all.
  virtual Result ListPorts(std::vector<PortDevice>& devices) = 0;
};

/// The device list of the platform (on Linux: udev, falling back to sysfs).
std::unique_ptr<PortSource> MakePlatformPortSource(ZuroLog* log);

/// The identity text of a USB device in the form the maker's adapter rule
/// reads: "USB\VID_0403&PID_8414\BRENVIK_UCA[A17]". Vendor and product are
/// the hexadecimal texts of the device (case does not matter).
std::string UsbInstanceId(const std::string& vendorId, const std::string& productId,
                          const std::string& serial);

} // namespace zuro
