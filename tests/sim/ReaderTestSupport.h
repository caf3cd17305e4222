// Helpers for the reader and sensor tests: a reader with its sensor on an
// in-process line in virtual time, and a sensor firmware image built from
// the same generator the simulator stamps its own firmware with.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bsl/ImageText.h"
#include "sim/SensorSetup.h"
#include "sim/SimTestSupport.h"

namespace zuro::sim::test {

/// A reader (Vantorix unless `config` names another) with its sensor.
struct ReaderFixture {
  explicit ReaderFixture(ReaderConfig config = {}, LineConfig line = {}) {
    if (config.firmware.profile == nullptr) {
      config.firmware.profile = ProfileByName("vantorix");
    }
    simLine = MakeReaderLine(config, line);
  }
  SimLine& Line() { return *simLine; }
  Reader& R() { return *ReaderOf(*simLine); }
  Sdi12Sensor& Sensor() { return R().Sensor(); }
  std::string Ex(const std::string& bytes) { return simLine->Exchange(bytes); }
  /// One SDI-12 command in SDI-12 mode (the mode character goes first).
  std::string Sdi(const std::string& command) { return Ex("[" + command); }
  std::unique_ptr<SimLine> simLine;
};

inline ReaderConfig SensorOf(const char* sensor) {
  ReaderConfig config;
  config.sensor.profile = SensorProfileByName(sensor);
  return config;
}

/// A sensor firmware image of `identity` for the digital-sensor layout: the
/// generated program from the flash start, its reset vector pointing there.
inline FirmwareImage SensorImage(const std::string& identity) {
  const MemoryLayout layout = LayoutForKind(kSensorKind);
  const std::vector<std::uint8_t> program = MakeFirmwareProgram(identity, kSensorProgramSize);
  FirmwareImage image;
  image.text = FormatImageMarker(layout.programStart);
  AppendImageWords(image.text, program.data(), program.size());
  for (std::size_t k = 0; k < image.vectors.size(); ++k) {
    image.vectors[k] = static_cast<std::uint16_t>(layout.programStart + 0x40 + 2 * k);
  }
  image.vectors.back() = static_cast<std::uint16_t>(layout.programStart);
  return image;
}

/// Starts the sensor's boot loader from SDI-12 mode and runs a full update
/// through the reader's transparent mode, as the digital sensor update does
/// it; then lets the sensor restart into what it was given.
inline FlashRun FlashSensorThroughReader(ReaderFixture& f, const FirmwareImage& image,
                                         bool eraseInfo = true) {
  FlashRun run;
  if (f.Sdi("?B!").find("OK") == std::string::npos) {
    return run;
  }
  f.Ex("]");
  MemoryLayout layout = LayoutForKind(kSensorKind);
  if (!eraseInfo) {
    layout.infoSegments = 0;
  }
  run = ScriptedFlash(f.Line(), layout, image, false);
  f.Line().RunFor(2 * kSensorRestartUs);
  return run;
}

} // namespace zuro::sim::test
