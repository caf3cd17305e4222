// Putting a reader with an SDI-12 sensor together: the options of zurobsl-sim
// that choose the sensor and its faults, and the line with the reader at its
// far end. The program takes these options out of its argument list before
// the instrument options are read, so the two sets stay apart.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/Reader.h"
#include "sim/SimLine.h"

namespace zuro::sim {

struct ReaderOptions {
  bool enabled = false;           ///< the device is a reader with a sensor behind it
  ReaderConfig reader;            ///< its `firmware` part is the instrument options' device
  std::string sensorFirmwareFile; ///< TI-TXT file to load into the sensor's flash at start
};

/// Takes the reader and sensor options out of `args` into `options` and
/// leaves the rest, in order, in `rest` (a reader kind such as
/// "vantorix-reader" becomes the instrument kind "vantorix"). False with
/// `error` set when a value does not read or the kind cannot carry a sensor.
bool SplitReaderOptions(const std::vector<std::string>& args, ReaderOptions& options,
                        std::vector<std::string>& rest, std::string& error);

/// The --help part for the reader and its sensor.
std::string ReaderHelpText();

/// The reader that `options` describe, its own firmware being `device` on
/// a line of `line` (the flash timing and the fault seed come from them).
ReaderConfig ReaderConfigFor(const ReaderOptions& options, const DeviceConfig& device,
                             const LineConfig& line);

/// A reader of `reader` with its sensor on a line of `line`.
std::unique_ptr<SimLine> MakeReaderLine(const ReaderConfig& reader, const LineConfig& line);

/// The reader at the far end of a line made by MakeReaderLine, or null.
Reader* ReaderOf(SimLine& line);

/// Loads TI-TXT text into the sensor's main flash (INFO kept) and restarts
/// it. False with `error` telling why.
bool LoadSensorFirmwareText(Sdi12Sensor& sensor, const std::string& text, SimTime now,
                            std::string& error);
/// The same from a file.
bool LoadSensorFirmwareFile(Sdi12Sensor& sensor, const std::string& path, SimTime now,
                            std::string& error);

} // namespace zuro::sim
