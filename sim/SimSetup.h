// Putting a simulated device together: the options of zurobsl-sim, the
// line they describe, a firmware file loaded into the device's flash, and
// the state file that carries a device's settings and flash from one run of
// the simulator to the next. Tests use the same calls to build their lines.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/SensorSetup.h"
#include "sim/SimDevice.h"
#include "sim/SimLine.h"

// Results are the codes of core/ResultCodes.h (0 or more success, negative errors).
namespace zuro::sim {

struct SimConfig {
  std::string kind = "du70"; ///< the --kind word
  DeviceConfig device;       ///< for instrument kinds
  ReaderOptions reader;      ///< a reader kind with an SDI-12 sensor (--sensor ...)
  LineConfig line;
  std::string firmwareFile;   ///< TI-TXT file to load into the flash at start
  std::string linkPath;       ///< stable symbolic link to the pty slave
  std::string transcriptFile; ///< stream the line's transcript here
  std::string stateFile;      ///< load the device from here at start, save at exit
  bool help = false;
};

/// Reads the program's arguments (without the program name). False with
/// `error` set when an option is unknown or its value does not read.
bool ParseSimOptions(const std::vector<std::string>& args, SimConfig& config, std::string& error);

/// The --help text: every option with its meaning and default.
std::string SimHelpText();

/// The line that `config` describes, with its device loaded (state file,
/// firmware file) and its transcript streaming. Null with `error` set when
/// something cannot be made. Every kind of device the program offers is
/// made here: instruments by MakeDeviceLine, other models by their own maker.
std::unique_ptr<SimLine> MakeLine(const SimConfig& config, std::string& error);

/// A simulated instrument of `device` on a line of `line`.
std::unique_ptr<SimLine> MakeDeviceLine(const DeviceConfig& device, const LineConfig& line);

/// The device at the far end of a line made by MakeDeviceLine; for a reader
/// line, the reader's own firmware.
SimDevice& DeviceOf(SimLine& line);

/// Loads a TI-TXT firmware file into the device's main flash (INFO kept) and
/// restarts it. kOk, or a negative code with `error` telling why.
std::int32_t LoadFirmwareFile(SimDevice& device, const std::string& path, SimTime now,
                              std::string& error);

/// Loads TI-TXT text (as LoadFirmwareFile, without the file).
std::int32_t LoadFirmwareText(SimDevice& device, const std::string& text, SimTime now,
                              std::string& error);

/// Writes the device's flash, settings, data memory and clock offset.
std::int32_t SaveDeviceState(const SimDevice& device, SimTime now, const std::string& path);

/// Reads a state file written by SaveDeviceState and restarts the device from it.
std::int32_t LoadDeviceState(SimDevice& device, SimTime now, const std::string& path,
                             std::string& error);

} // namespace zuro::sim
