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
  bool enabled = false; ///< the device is a reader with a sensor behind it
  ReaderConfig reader;  ///< its `firmware` part is the instrument options' device
};

/// Takes the reader and sensor options out of `args` into `options` and
/// leaves the rest, in order, in `rest` (a reader kind such as
/// "vantorix-reader" becomes the instrument kind "vantorix"). False with
/// `error` set when a value does not read or the kind cannot carry a sensor.
bool SplitReaderOptions(const std::vector<std::string>& args, ReaderOptions& options,
                        std::vector<std::string>& rest, std::string& error);

/// The --help part for the reader and its sensor.
std::string ReaderHelpText();

/// A reader of `reader` with its sensor on a line of `line`.
std::unique_ptr<SimLine> MakeReaderLine(const ReaderConfig& reader, const LineConfig& line);

/// The reader at the far end of a line made by MakeReaderLine, or null.
Reader* ReaderOf(SimLine& line);

} // namespace zuro::sim
