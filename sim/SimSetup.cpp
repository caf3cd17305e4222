#include "sim/SimSetup.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "bsl/ImageText.h"
#include "core/ResultCodes.h"
#include "core/Text.h"

namespace zuro::sim {

namespace {

constexpr const char* kStateHeader = "zurobsl-sim-state 1";
constexpr std::uint32_t kStatePageSize = 256;
constexpr std::uint64_t kMaxOptionNumber = 0xFFFFFFFFull;

bool ReadNumber(const std::string& text, std::uint64_t low, std::uint64_t high,
                std::uint64_t& value) {
  if (text.empty() || text.size() > 20 || text[0] == '-') {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) {
    return false;
  }
  value = v;
  return true;
}

bool ReadSigned(const std::string& text, std::int64_t& value) {
  if (text.empty() || text.size() > 20) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') {
    return false;
  }
  value = v;
  return true;
}

bool ParsePowerCut(const std::string& text, PowerCutPoint& point) {
  std::string count = text;
  point.letter = 0;
  if (text.size() >= 2 && text[1] == ':') {
    const char letter = text[0];
    if (std::strchr("g@XWV", letter) == nullptr) {
      return false;
    }
    point.letter = letter;
    count = text.substr(2);
  }
  std::uint64_t n = 0;
  if (!ReadNumber(count, 1, kMaxOptionNumber, n)) {
    return false;
  }
  point.count = static_cast<std::uint32_t>(n);
  return true;
}

std::string ReadFile(const std::string& path, bool& ok) {
  std::ifstream in(path, std::ios::binary);
  ok = static_cast<bool>(in);
  if (!ok) {
    return {};
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

} // namespace

std::string SimHelpText() {
  std::string kinds;
  for (const auto& p : AllProfiles()) {
    kinds += StrFormat("    %-12s %s %s (kind %d)\n", p.simName, p.code, p.defaultVersion, p.kind);
  }
  kinds +=
      StrFormat("    %-12s %s %s: a device this system does not know\n", UnknownProfile().simName,
                UnknownProfile().code, UnknownProfile().defaultVersion);
  return "Usage: zurobsl-sim [options]\n"
         "Simulates one of the maker's instruments on a pseudo-terminal: its firmware, its\n"
         "ZuroBSL boot loader, flash and information memory, and an optional radio module.\n"
         "Prints the pty path, serves until SIGINT or SIGTERM. Talk to it with a terminal\n"
         "program at 9600 baud (the device does not echo: turn on local echo), for example\n"
         "\"get -ver\", \"get -batt\", \"get -site\", \"boot KWAX\". --transcript /dev/stderr "
         "shows\n"
         "the line as it goes.\n"
         "\n"
         "Device:\n"
         "  --kind NAME            instrument to simulate (default du70):\n" +
         kinds +
         "  --version X.YZ         firmware version to start with (default: the kind's)\n"
         "  --firmware FILE        load a TI-TXT firmware file into the flash at start\n"
         "  --radio                fit a radio module (\"+++\", ATHP, ATDT, ATVR, ATWR, ATCN)\n"
         "  --factory              start with factory settings (an uninitialised device)\n"
         "  --battery PERCENT      battery level answered to \"get -batt\" (default 87)\n"
         "  --clock SECONDS        device clock at start in seconds since 2000-01-01\n"
         "                         (default: this computer's local time, 300 s behind)\n"
         "  --data-records N       measurements in the data memory (default 1440)\n"
         "  --bsl-version N        boot-loader version answered to g (default 205)\n"
         "  --restart-ms N         time from reset to a listening firmware (default 800)\n"
         "  --realtime-flash       segment erase takes 15 ms, a word write 75 us\n"
         "  --state FILE           load flash, settings and data from FILE when it exists,\n"
         "                         save them there at exit\n"
         "\n"
         "Device faults:\n"
         "  --no-boot-loader       \"boot KWAX\" answers \"ZuroBSL MISSING\"\n"
         "  --error-first N        answer \"ERROR\" to the first N commands\n"
         "  --dataflash-fail       the data erase answers \"DataFlash FAIL\"\n"
         "  --erase-ms N           the data erase takes N ms (a slow data memory)\n"
         "  --power-cut STEP       lose power at a boot-loader step: N (the Nth framed\n"
         "                         command) or L:N (the Nth command with letter L, one of\n"
         "                         g @ X W V); the device restarts into its boot loader when\n"
         "                         its firmware is gone, into the firmware in flash otherwise\n"
         "\n"
         "Line:\n"
         "  --pace                 bytes take 10 bits at the baud the host set\n"
         "  --ignore-baud          do not garble bytes when host and device bauds differ\n"
         "  --drop PERMILLE        lose this many bytes in a thousand\n"
         "  --garble PERMILLE      flip a bit in this many bytes in a thousand\n"
         "  --fault-direction D    in (to the device), out (to the host) or both (default)\n"
         "  --fault-seed N         seed of the drop and garble faults (default 1)\n"
         "  --echo                 the line echoes every byte the host sends\n"
         "  --silent-ms N          silence (nothing in, nothing out) for N ms from the start,\n"
         "                         or from the --silent-from command on\n"
         "  --silent-from K        silence from the Kth command line on (for ever without\n"
         "                         --silent-ms)\n"
         "  --answer-delay-ms N    every answer comes N ms late\n"
         "\n"
         "Program:\n"
         "  --link PATH            make PATH a symbolic link to the pty\n"
         "  --transcript FILE      write every byte on the line to FILE as it passes\n"
         "  --help                 this text\n" +
         ReaderHelpText();
}

bool ParseSimOptions(const std::vector<std::string>& allArgs, SimConfig& config,
                     std::string& error) {
  config.device.profile = ProfileByName("du70");
  // The reader and sensor options are read on their own; the rest is ours.
  std::vector<std::string> args;
  if (!SplitReaderOptions(allArgs, config.reader, args, error)) {
    return false;
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    const auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = option + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    const auto number = [&](std::uint64_t low, std::uint64_t high, std::uint64_t& out) {
      std::string text;
      if (!value(text)) {
        return false;
      }
      if (!ReadNumber(text, low, high, out)) {
        error =
            StrFormat("%s: '%s' is not a number from %llu to %llu", option.c_str(), text.c_str(),
                      static_cast<unsigned long long>(low), static_cast<unsigned long long>(high));
        return false;
      }
      return true;
    };
    std::string text;
    std::uint64_t n = 0;
    bool ok = true;
    if (option == "--help" || option == "-h") {
      config.help = true;
    } else if (option == "--kind") {
      ok = value(text);
      if (ok) {
        config.kind = text;
        config.device.profile = ProfileByName(text);
        if (config.device.profile == nullptr) {
          error = "--kind: unknown kind '" + text + "' (see --help)";
          ok = false;
        }
      }
    } else if (option == "--version") {
      ok = value(text);
      if (ok && ParseVersion(text) < 0) {
        error = "--version: '" + text + "' is not a version such as 2.20";
        ok = false;
      }
      config.device.version = text;
    } else if (option == "--firmware") {
      ok = value(config.firmwareFile);
    } else if (option == "--radio") {
      config.device.radio = true;
    } else if (option == "--factory") {
      config.device.configured = false;
    } else if (option == "--battery") {
      ok = number(0, 100, n);
      config.device.battery = static_cast<int>(n);
    } else if (option == "--clock") {
      ok = number(0, kMaxOptionNumber, n);
      config.device.clock = static_cast<std::int64_t>(n);
    } else if (option == "--data-records") {
      ok = number(0, kMaxOptionNumber, n);
      config.device.dataRecords = static_cast<std::uint32_t>(n);
    } else if (option == "--bsl-version") {
      ok = number(1, 9999, n);
      config.device.bootLoaderVersion = static_cast<int>(n);
    } else if (option == "--restart-ms") {
      ok = number(0, 600000, n);
      config.device.restartUs = n * kUsPerMs;
    } else if (option == "--realtime-flash") {
      config.device.realtimeFlash = true;
    } else if (option == "--state") {
      ok = value(config.stateFile);
    } else if (option == "--no-boot-loader") {
      config.device.bootLoaderMissing = true;
    } else if (option == "--error-first") {
      ok = number(0, kMaxOptionNumber, n);
      config.device.errorFirstCommands = static_cast<std::uint32_t>(n);
    } else if (option == "--dataflash-fail") {
      config.device.dataFlashFail = true;
    } else if (option == "--erase-ms") {
      ok = number(0, 600000, n);
      config.device.dataEraseUs = n * kUsPerMs;
    } else if (option == "--power-cut") {
      ok = value(text);
      if (ok && !ParsePowerCut(text, config.device.powerCut)) {
        error = "--power-cut: '" + text + "' is not N or L:N with L one of g @ X W V";
        ok = false;
      }
    } else if (option == "--pace") {
      config.line.pace = true;
    } else if (option == "--ignore-baud") {
      config.line.checkBaud = false;
    } else if (option == "--drop") {
      ok = number(0, 1000, n);
      config.line.faults.dropPerMille = static_cast<std::uint32_t>(n);
    } else if (option == "--garble") {
      ok = number(0, 1000, n);
      config.line.faults.garblePerMille = static_cast<std::uint32_t>(n);
    } else if (option == "--fault-direction") {
      ok = value(text);
      if (ok && !ParseFaultDirection(text, config.line.faults.direction)) {
        error = "--fault-direction: '" + text + "' is not in, out or both";
        ok = false;
      }
    } else if (option == "--fault-seed") {
      ok = number(1, kMaxOptionNumber, n);
      config.line.faults.seed = static_cast<std::uint32_t>(n);
    } else if (option == "--echo") {
      config.line.faults.echo = true;
    } else if (option == "--silent-ms") {
      ok = number(1, 86400000, n);
      config.line.faults.silentUs = n * kUsPerMs;
    } else if (option == "--silent-from") {
      ok = number(1, kMaxOptionNumber, n);
      config.line.faults.silentFromCommand = static_cast<std::uint32_t>(n);
    } else if (option == "--answer-delay-ms") {
      ok = number(0, 600000, n);
      config.line.faults.answerDelayUs = n * kUsPerMs;
    } else if (option == "--link") {
      ok = value(config.linkPath);
    } else if (option == "--transcript") {
      ok = value(config.transcriptFile);
    } else {
      error = "unknown option '" + option + "' (see --help)";
      ok = false;
    }
    if (!ok) {
      return false;
    }
  }
  return true;
}

std::unique_ptr<SimLine> MakeDeviceLine(const DeviceConfig& device, const LineConfig& line) {
  auto model = std::make_unique<SimDevice>(device);
  RadioModule* radio = model->Radio();
  return std::make_unique<SimLine>(std::move(model), radio, line);
}

SimDevice& DeviceOf(SimLine& line) {
  if (Reader* reader = ReaderOf(line)) {
    return reader->Firmware(); // the reader's own firmware is an instrument
  }
  return *line.DeviceAs<SimDevice>();
}

std::unique_ptr<SimLine> MakeLine(const SimConfig& config, std::string& error) {
  if (config.device.profile == nullptr || ProfileByName(config.kind) == nullptr) {
    error = "unknown kind '" + config.kind + "'";
    return nullptr;
  }
  if (config.reader.enabled && !config.stateFile.empty()) {
    error = "--state keeps an instrument; a reader with a sensor starts fresh each time";
    return nullptr;
  }
  auto line =
      config.reader.enabled
          ? MakeReaderLine(ReaderConfigFor(config.reader, config.device, config.line), config.line)
          : MakeDeviceLine(config.device, config.line);
  SimDevice& device = DeviceOf(*line);
  if (!config.reader.sensorFirmwareFile.empty() &&
      !LoadSensorFirmwareFile(ReaderOf(*line)->Sensor(), config.reader.sensorFirmwareFile, 0,
                              error)) {
    error = config.reader.sensorFirmwareFile + ": " + error;
    return nullptr;
  }
  if (!config.stateFile.empty()) {
    if (std::FILE* f = std::fopen(config.stateFile.c_str(), "rb")) {
      (void)std::fclose(f);
      if (LoadDeviceState(device, 0, config.stateFile, error) < 0) {
        return nullptr;
      }
    }
  }
  if (!config.firmwareFile.empty() && LoadFirmwareFile(device, config.firmwareFile, 0, error) < 0) {
    error = config.firmwareFile + ": " + error;
    return nullptr;
  }
  if (!config.transcriptFile.empty() && !line->Record().StreamTo(config.transcriptFile)) {
    error = "cannot write the transcript " + config.transcriptFile;
    return nullptr;
  }
  return line;
}

std::int32_t LoadFirmwareText(SimDevice& device, const std::string& text, SimTime now,
                              std::string& error) {
  FirmwareImage image;
  const TiTxtStatus status = ConvertTiTxt(text, image);
  if (status != TiTxtStatus::kConverted) {
    error = std::string("not a usable TI-TXT file: ") + TiTxtStatusText(status);
    return kErrNotUnderstood;
  }
  std::vector<std::pair<std::uint32_t, std::uint8_t>> bytes;
  const bool ok = ForEachImageByte(
      image.text, image.vectors,
      [&bytes](std::uint32_t address, std::uint8_t value) { bytes.emplace_back(address, value); });
  if (!ok) {
    error = "the converted image is malformed";
    return kErrNotUnderstood;
  }
  device.LoadFlashAndRestart(bytes, now);
  return kOk;
}

std::int32_t LoadFirmwareFile(SimDevice& device, const std::string& path, SimTime now,
                              std::string& error) {
  bool ok = false;
  const std::string text = ReadFile(path, ok);
  if (!ok) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return kErrMissingArgument;
  }
  return LoadFirmwareText(device, text, now, error);
}

std::int32_t SaveDeviceState(const SimDevice& device, SimTime now, const std::string& path) {
  std::string text = std::string(kStateHeader) + "\n";
  text += StrFormat("kind %s\n", device.Config().profile->simName);
  text += StrFormat("data %u %u\n", device.Data().records, device.Data().erasures);
  text += StrFormat("clockoffset %lld\n",
                    static_cast<long long>(device.ClockAt(now) - LocalZuroSeconds()));
  const Flash& flash = device.FlashMemory();
  for (std::uint32_t page = 0; page < kAddressSpace; page += kStatePageSize) {
    bool used = false;
    for (std::uint32_t a = page; a < page + kStatePageSize && !used; ++a) {
      used = flash.Read(a) != kErasedByte;
    }
    if (!used) {
      continue;
    }
    text += StrFormat("flash %05X ", page);
    for (std::uint32_t a = page; a < page + kStatePageSize; ++a) {
      text += StrFormat("%02X", flash.Read(a));
    }
    text += "\n";
  }
  std::istringstream settings(device.InfoSettingsText());
  for (std::string line; std::getline(settings, line);) {
    text += "info " + line + "\n";
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    return -errno;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const bool closed = std::fclose(f) == 0;
  return written && closed ? kOk : kErrNotUnderstood;
}

std::int32_t LoadDeviceState(SimDevice& device, SimTime now, const std::string& path,
                             std::string& error) {
  bool ok = false;
  const std::string text = ReadFile(path, ok);
  if (!ok) {
    error = "cannot read " + path;
    return kErrMissingArgument;
  }
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kStateHeader) {
    error = path + " is not a simulator state file";
    return kErrNotUnderstood;
  }
  std::vector<std::pair<std::uint32_t, std::uint8_t>> bytes;
  std::string info;
  DataStore data = device.Data();
  std::int64_t clockOffset = 0;
  bool haveClock = false;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word == "kind") {
      std::string kind;
      words >> kind;
      if (kind != device.Config().profile->simName) {
        error = StrFormat("the state file is for a %s, not a %s", kind.c_str(),
                          device.Config().profile->simName);
        return kErrNotSupported;
      }
    } else if (word == "data") {
      words >> data.records >> data.erasures;
    } else if (word == "clockoffset") {
      std::string v;
      words >> v;
      haveClock = ReadSigned(v, clockOffset);
    } else if (word == "flash") {
      std::string address;
      std::string hex;
      words >> address >> hex;
      std::uint64_t start = 0;
      char* end = nullptr;
      start = std::strtoull(address.c_str(), &end, 16);
      if (address.empty() || *end != '\0' || hex.size() != std::size_t{2} * kStatePageSize ||
          start + kStatePageSize > kAddressSpace) {
        error = "bad flash line in " + path;
        return kErrNotUnderstood;
      }
      for (std::uint32_t i = 0; i < kStatePageSize; ++i) {
        const std::string pair = hex.substr(std::size_t{2} * i, 2);
        char* pairEnd = nullptr;
        const unsigned long v = std::strtoul(pair.c_str(), &pairEnd, 16);
        if (*pairEnd != '\0') {
          error = "bad flash line in " + path;
          return kErrNotUnderstood;
        }
        bytes.emplace_back(static_cast<std::uint32_t>(start + i), static_cast<std::uint8_t>(v));
      }
    } else if (word == "info") {
      info.append(line, 5).append("\n");
    } else if (!word.empty()) {
      error = StrFormat("unknown line '%s' in %s", word.c_str(), path.c_str());
      return kErrNotUnderstood;
    }
  }
  Flash& flash = device.FlashMemory();
  flash.EraseAll();
  for (const auto& [address, value] : bytes) {
    flash.ProgramByte(address, value);
  }
  device.Data() = data;
  if (haveClock) {
    device.SetClock(LocalZuroSeconds() + clockOffset, now);
  }
  device.RestoreInfoAndRestart(info, now);
  return kOk;
}

} // namespace zuro::sim
