#include "sim/SensorSetup.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "bsl/ImageText.h"
#include "core/Text.h"
#include "sim/InstrumentProfile.h"

namespace zuro::sim {

namespace {

constexpr const char* kReaderKindSuffix = "-reader";
constexpr const char* kReaderKinds[] = {"vantorix", "vcd"}; ///< instruments that carry a sensor
constexpr const char* kDefaultReaderKind = "vantorix";
constexpr unsigned long kMaxPerMille = 1000;
constexpr int kMaxSensorVersion = 999; ///< the identification has three version digits

bool IsReaderKind(const std::string& kind) {
  for (const char* k : kReaderKinds) {
    if (kind == k) {
      return true;
    }
  }
  return false;
}

std::string SensorNames() {
  std::string names;
  for (const auto& p : AllSensorProfiles()) {
    names += names.empty() ? "" : ", ";
    names += p.simName;
  }
  return names;
}

} // namespace

bool SplitReaderOptions(const std::vector<std::string>& args, ReaderOptions& options,
                        std::vector<std::string>& rest, std::string& error) {
  SensorConfig& sensor = options.reader.sensor;
  std::string kind;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    std::string value;
    const auto take = [&]() {
      if (i + 1 >= args.size()) {
        error = option + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    if (option == "--kind") {
      if (!take()) {
        return false;
      }
      const std::size_t suffix = value.rfind(kReaderKindSuffix);
      if (suffix != std::string::npos && suffix > 0 &&
          suffix + std::char_traits<char>::length(kReaderKindSuffix) == value.size() &&
          IsReaderKind(value.substr(0, suffix))) {
        options.enabled = true;
        value.resize(suffix);
      }
      kind = value;
      rest.push_back(option);
      rest.push_back(value);
    } else if (option == "--sensor") {
      if (!take()) {
        return false;
      }
      sensor.profile = SensorProfileByName(value);
      if (sensor.profile == nullptr) {
        error = "--sensor: unknown sensor '" + value + "' (one of " + SensorNames() + ")";
        return false;
      }
      options.enabled = true;
    } else if (option == "--sensor-version") {
      if (!take()) {
        return false;
      }
      const int version = ParseVersion(value);
      if (version < 0 || version > kMaxSensorVersion) {
        error = "--sensor-version: '" + value + "' is not a version such as 3.60";
        return false;
      }
      sensor.version = value;
      options.enabled = true;
    } else if (option == "--sensor-address") {
      if (!take()) {
        return false;
      }
      if (value.size() != 1 || !IsSdiAddressChar(value[0])) {
        error = "--sensor-address: '" + value + "' is not an SDI-12 address (0-9, a-z, A-Z)";
        return false;
      }
      sensor.address = value[0];
      options.enabled = true;
    } else if (option == "--sensor-factory") {
      sensor.configured = false;
      options.enabled = true;
    } else if (option == "--sensor-in-loader") {
      if (!take()) {
        return false;
      }
      if (value == "waiting") {
        sensor.loaderStart = SensorLoaderStart::kWaiting;
      } else if (value == "active") {
        sensor.loaderStart = SensorLoaderStart::kActive;
      } else {
        error = "--sensor-in-loader: '" + value + "' is not waiting or active";
        return false;
      }
      options.enabled = true;
    } else if (option == "--sensor-no-bsl") {
      sensor.bootLoaderMissing = true;
      options.enabled = true;
    } else if (option == "--sensor-silent") {
      sensor.silent = true;
      options.enabled = true;
    } else if (option == "--sensor-garble") {
      if (!take()) {
        return false;
      }
      char* end = nullptr;
      const unsigned long perMille = std::strtoul(value.c_str(), &end, 10);
      if (value.empty() || value[0] == '-' || *end != '\0' || perMille > kMaxPerMille) {
        error = "--sensor-garble: '" + value + "' is not a number from 0 to 1000";
        return false;
      }
      options.reader.garblePerMille = static_cast<std::uint32_t>(perMille);
      options.enabled = true;
    } else if (option == "--sensor-firmware") {
      if (!take()) {
        return false;
      }
      options.sensorFirmwareFile = value;
      options.enabled = true;
    } else if (option == "--hver") {
      if (!take()) {
        return false;
      }
      if (value.size() != 1 || value[0] <= ' ' || value[0] > '~') {
        error = "--hver: '" + value + "' is not one printable character";
        return false;
      }
      options.reader.hardwareRevision = value[0];
      options.enabled = true;
    } else {
      rest.push_back(option);
    }
  }
  if (!options.enabled) {
    return true;
  }
  if (kind.empty()) {
    rest.push_back("--kind");
    rest.push_back(kDefaultReaderKind);
  } else if (!IsReaderKind(kind)) {
    error = "a sensor sits behind a reader: --kind vantorix or vcd, not '" + kind + "'";
    return false;
  }
  return true;
}

std::string ReaderHelpText() {
  std::string sensors;
  for (const auto& p : AllSensorProfiles()) {
    const std::string type = p.typeAsNumber ? StrFormat("reported as the number %u", p.type)
                                            : StrFormat("'%c'", static_cast<char>(p.type));
    sensors +=
        StrFormat("    %-12s %s %s, type %s\n", p.simName, p.model, p.defaultVersion, type.c_str());
  }
  return "\n"
         "Reader with an SDI-12 sensor (any of these options makes the device a reader):\n"
         "  --kind vantorix-reader the Vantorix hand-held reader (or --kind vcd-reader, the\n"
         "                         VUSKA Comm Device); --version and --battery are the reader's\n"
         "  --sensor NAME          the sensor behind the reader (default k4e):\n" +
         sensors +
         "  --sensor-version X.YZ  sensor firmware version to start with\n"
         "  --sensor-firmware FILE load a TI-TXT sensor image into the sensor's flash at start\n"
         "  --sensor-address C     the configured sensor's SDI-12 address (default 1)\n"
         "  --sensor-factory       the sensor's information memory is erased (factory values)\n"
         "  --hver C               hardware revision answered to \"get -hver\" (default B)\n"
         "  Reader modes: '`' its own commands (at start), '[' SDI-12 commands ending in '!'\n"
         "  (\"?I!\"), ']' straight through to the sensor's boot loader, '|' a bus break.\n"
         "\n"
         "Sensor faults:\n"
         "  --sensor-in-loader S   an earlier update stopped: flash erased, the sensor's boot\n"
         "                         loader waiting (S = waiting) or connected (S = active)\n"
         "  --sensor-no-bsl        \"?B!\" answers \"No BSL\"\n"
         "  --sensor-silent        the sensor never answers on the bus\n"
         "  --power-cut STEP       (with a sensor) the sensor loses power at that step of its\n"
         "                         boot loader\n"
         "  --sensor-garble PERMILLE  flip a bit in this many relayed answer characters in a\n"
         "                         thousand (seeded by --fault-seed)\n";
}

ReaderConfig ReaderConfigFor(const ReaderOptions& options, const DeviceConfig& device,
                             const LineConfig& line) {
  ReaderConfig reader = options.reader;
  reader.firmware = device;
  reader.sensor.realtimeFlash = device.realtimeFlash;
  // On a reader line the update through a boot loader is the sensor's: the
  // power cut chosen for the device hits the sensor.
  if (device.powerCut.Enabled()) {
    reader.sensor.powerCut = device.powerCut;
    reader.firmware.powerCut = PowerCutPoint{};
  }
  reader.garbleSeed = line.faults.seed;
  return reader;
}

std::unique_ptr<SimLine> MakeReaderLine(const ReaderConfig& reader, const LineConfig& line) {
  auto model = std::make_unique<Reader>(reader);
  RadioModule* radio = model->Firmware().Radio();
  return std::make_unique<SimLine>(std::move(model), radio, line);
}

Reader* ReaderOf(SimLine& line) {
  return line.DeviceAs<Reader>();
}

} // namespace zuro::sim

namespace zuro::sim {

bool LoadSensorFirmwareText(Sdi12Sensor& sensor, const std::string& text, SimTime now,
                            std::string& error) {
  FirmwareImage image;
  const TiTxtStatus status = ConvertTiTxt(text, image);
  if (status != TiTxtStatus::kConverted) {
    error = std::string("not a usable TI-TXT file: ") + TiTxtStatusText(status);
    return false;
  }
  std::vector<std::pair<std::uint32_t, std::uint8_t>> bytes;
  if (!ForEachImageByte(image.text, image.vectors,
                        [&bytes](std::uint32_t address, std::uint8_t value) {
                          bytes.emplace_back(address, value);
                        })) {
    error = "the converted image is malformed";
    return false;
  }
  sensor.LoadFlashAndRestart(bytes, now);
  return true;
}

bool LoadSensorFirmwareFile(Sdi12Sensor& sensor, const std::string& path, SimTime now,
                            std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return LoadSensorFirmwareText(sensor, text.str(), now, error);
}

} // namespace zuro::sim
