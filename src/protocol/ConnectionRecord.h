// How to reach one instrument: the port, the kind of link (a cable or a radio
// hop through a radio module), the link speed to agree and, over the radio,
// the name to log in with. The protocol object keeps a copy of the record it
// connected with; the copy's link type is the connection state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zuro {

// Link types. Only the serial cable and the radio hop are spoken here; the
// others name links of the instrument family that this updater does not drive.
constexpr std::uint8_t kLinkNone = 0;
constexpr std::uint8_t kLinkSerial = 10;
constexpr std::uint8_t kLinkModem = 20; ///< not supported
constexpr std::uint8_t kLinkRadio = 30;
constexpr std::uint8_t kLinkNetwork = 40;   ///< not supported
constexpr std::uint8_t kLinkRelay100 = 100; ///< not supported
constexpr std::uint8_t kLinkRelay110 = 110; ///< not supported
constexpr std::uint8_t kLinkRelay120 = 120; ///< not supported

/// A POSIX device path such as /dev/serial/by-id/usb-...-if00-port0 can be long.
constexpr std::size_t kPortNameMax = 255;

/// Link speeds by index; index 2 is the speed at which every device is first reached.
constexpr std::array<std::uint32_t, 9> kLinkSpeedTable = {0,     1200,   9600,   19200, 38400,
                                                          57600, 115200, 230400, 460800};
constexpr std::uint8_t kBaudIndexDefault = 2;
constexpr std::uint32_t kFirstContactBaud = 9600;

/// The rate at `index`, or 0 when the index is outside the table.
constexpr std::uint32_t LinkSpeedAt(std::uint8_t index) {
  return index < kLinkSpeedTable.size() ? kLinkSpeedTable[index] : 0;
}

struct ConnectionRecord {
  std::string portName; ///< up to kPortNameMax: COM3, /dev/ttyUSB0
  std::uint8_t linkType = kLinkNone;
  std::uint8_t baudIndex = 0;     ///< into kLinkSpeedTable; 0 stands for 2
  std::string deviceName;         ///< radio: name to log in with; empty asks who is there
  std::uint32_t radioChannel = 0; ///< used when configureRadio is set
  std::uint32_t radioSubChannel = 0;
  std::uint8_t configureRadio = 0; ///< radio: set the module's channels before logging in
};

} // namespace zuro
