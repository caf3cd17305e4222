// zurobsl-cli: the command-line updater, for scripts, factories and tests. It
// runs the same update sequences, notices and guards as the desktop program on
// a terminal front end. Its interface is a promise to scripts:
//   zurobsl-cli update --port PORT [--target du70|sensor] [--sensor-type CODE]
//                      [--factory] [--rep] [--firmware FILE] [--data-dir DIR]
//                      [--answer ok|cancel] [--dont-erase-data] [--new-serial SN] [--json]
//   zurobsl-cli image [--firmware FILE] --dump OUT
//   zurobsl-cli ports [--all]
// The last line on standard output is "result: N"; the exit status is 0 when
// N is positive and 1 otherwise (2 when the command line does not parse).
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "app/Notices.h"
#include "app/UpdateSequences.h"
#include "app/UpdateSession.h"
#include "cli/TerminalFrontEnd.h"
#include "serial/CommPortEnum.h"
#include "serial/ZuroSerial.h"

using namespace zuro;

namespace {

constexpr std::int32_t kPortListCapacity = 64;

struct UpdateArgs {
  std::string port;
  std::string target = "du70";
  std::string sensorType;
  bool factory = false;
  bool rep = false;
  std::string firmware;
  std::string dataDir;
  std::string answer;
  bool dontEraseData = false;
  std::string newSerial;
  bool json = false;
  double waitScale = 1.0;
};

struct ImageArgs {
  std::string firmware;
  std::string dump;
};

int ExitStatus(std::int32_t result) {
  return result > 0 ? 0 : 1;
}

TerminalSettings Terminal(bool json, const std::string& answer) {
  TerminalSettings settings;
  settings.json = json;
  if (!answer.empty()) {
    settings.answer = answer == "ok";
  }
  settings.interactiveQuestions = isatty(STDIN_FILENO) != 0;
  settings.progressBar = !json && isatty(STDERR_FILENO) != 0;
  return settings;
}

/// A sensor type as a number (122) or as its one character ('z').
std::optional<std::int32_t> ParseSensorType(const std::string& text) {
  if (text.size() == 1 && (text[0] < '0' || text[0] > '9')) {
    return static_cast<unsigned char>(text[0]);
  }
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value <= 0 || value > 0xFFFF) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

int RunUpdate(const UpdateArgs& args) {
  TerminalFrontEnd front(Terminal(args.json, args.answer), stdout, stderr);
  RunOptions& options = front.Options();
  const auto fail = [&](const std::string& why) {
    front.Say("zurobsl-cli update: " + why);
    front.PrintResult(kErrMissingArgument);
    return ExitStatus(kErrMissingArgument);
  };
  if (!args.firmware.empty() && !args.factory && !args.rep) {
    return fail("--firmware needs --factory or --rep");
  }
  const bool sensor = args.target == "sensor";
  std::optional<std::int32_t> sensorType;
  if (!args.sensorType.empty()) {
    if (!sensor) {
      return fail("--sensor-type needs --target sensor");
    }
    sensorType = ParseSensorType(args.sensorType);
    if (!sensorType) {
      return fail("--sensor-type: '" + args.sensorType + "' is not a type code");
    }
  }
  if (args.newSerial.size() > kNewSerialNumberMax) {
    return fail("--new-serial: at most 15 characters");
  }
  options.factoryMode = args.factory;
  options.repMode = args.factory || args.rep;
  options.waitScale = args.waitScale;

  UpdateSession session(front, sensor ? SensorTarget() : Du70Target(), args.dataDir);
  if (session.Host().imageStatus() < 0) {
    ShowStartupFailure(session);
    front.PrintResult(session.Host().imageStatus());
    return ExitStatus(session.Host().imageStatus());
  }
  if (sensorType) {
    SelectSensorType(session, *sensorType);
  }
  if (session.WantsDataEraseWarning()) {
    ShowDataEraseWarning(session);
  }
  if (!args.firmware.empty()) {
    const Result loaded = session.UseFirmwareFile(args.firmware);
    if (loaded < 0) {
      front.PrintResult(loaded);
      return ExitStatus(loaded);
    }
  }
  options.commPortName = args.port;
  options.dontEraseData = args.dontEraseData;
  options.replaceSerialNumber = !args.newSerial.empty();
  options.newSerialNumber = args.newSerial;

  front.CatchInterrupt();
  const UpdateOutcome outcome = session.StartUpdate();
  front.PrintResult(outcome.result);
  return ExitStatus(outcome.result);
}

int RunImage(const ImageArgs& args) {
  TerminalFrontEnd front(Terminal(false, "cancel"), stdout, stderr);
  UpdateSession session(front, Du70Target());
  Result result = session.Host().imageStatus();
  if (result < 0) {
    ShowStartupFailure(session);
  } else if (!args.firmware.empty()) {
    result = session.UseFirmwareFile(args.firmware);
  }
  if (result >= 0) {
    result = session.Host().BSLWriteTIFile(args.dump);
    if (result < 0) {
      front.ShowNotice("Error saving firmware image: " + std::to_string(result), "Error",
                       NoticeKind::kWarning);
    }
  }
  front.PrintResult(result);
  return ExitStatus(result);
}

int RunPorts(bool all) {
  ZuroSerial enumerator(nullptr);
  std::vector<CommPortInfo> ports(kPortListCapacity);
  std::int32_t count = kPortListCapacity;
  const Result result = enumerator.CommPortEnum(ports.data(), &count, all);
  for (std::int32_t i = 0; result >= 0 && i < count; ++i) {
    (void)std::printf("%s\t%s\n", ports[static_cast<std::size_t>(i)].portName.c_str(),
                      ports[static_cast<std::size_t>(i)].displayName.c_str());
  }
  (void)std::printf("result: %d\n", result);
  return ExitStatus(result);
}

int Main(int argc, char** argv) {
  CLI::App app{"zurobsl-cli: updates the firmware of the maker's instruments and digital "
               "sensors over a serial port"};
  app.require_subcommand(1);

  UpdateArgs update;
  CLI::App* updateCommand = app.add_subcommand("update", "update the device on a serial port");
  updateCommand->add_option("--port", update.port, "serial port (device path)")->required();
  updateCommand->add_option("--target", update.target, "du70 (default) or sensor")
      ->check(CLI::IsMember({"du70", "sensor"}));
  updateCommand->add_option("--sensor-type", update.sensorType,
                            "sensor type code (number or character) for --target sensor");
  updateCommand->add_flag("--factory", update.factory, "factory mode (as -factory)");
  updateCommand->add_flag("--rep", update.rep, "representative mode (as -rep)");
  updateCommand->add_option("--firmware", update.firmware,
                            "TI-TXT firmware file instead of the built-in image (needs "
                            "--factory or --rep)");
  updateCommand->add_option("--data-dir", update.dataDir,
                            "folder of the log and the settings file (default: "
                            "$XDG_DATA_HOME or ~/.local/share, + /Brenvik/ZuroBSL)");
  updateCommand->add_option("--answer", update.answer, "answer to every question: ok or cancel")
      ->check(CLI::IsMember({"ok", "cancel"}));
  updateCommand->add_flag("--dont-erase-data", update.dontEraseData,
                          "keep the measurements stored in the instrument");
  updateCommand->add_option("--new-serial", update.newSerial,
                            "write this serial number when restoring the settings");
  updateCommand->add_flag("--json", update.json, "one JSON object per line on standard output");
  // Tests against a fast simulator shorten the sequence's own waits; not for people.
  updateCommand->add_option("--wait-scale", update.waitScale)
      ->check(CLI::Range(0.0, 1.0))
      ->group("");

  ImageArgs image;
  CLI::App* imageCommand = app.add_subcommand("image", "write the firmware image as a text dump");
  imageCommand->add_option("--firmware", image.firmware,
                           "TI-TXT file instead of the built-in image");
  imageCommand->add_option("--dump", image.dump, "file to write")->required();

  bool allPorts = false;
  CLI::App* portsCommand = app.add_subcommand("ports", "list the computer's serial ports");
  portsCommand->add_flag("--all", allPorts, "also probe the built-in ports 1 to 16");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? 0 : 2;
  }
  if (updateCommand->parsed()) {
    return RunUpdate(update);
  }
  if (imageCommand->parsed()) {
    return RunImage(image);
  }
  return RunPorts(allPorts);
}

} // namespace

int main(int argc, char** argv) {
  // Nothing below throws by design; an allocation that fails still ends with
  // a result line, so a script sees what happened.
  try {
    return Main(argc, argv);
  } catch (const std::bad_alloc&) {
    (void)std::fprintf(stderr, "zurobsl-cli: out of memory\n");
    (void)std::printf("result: %d\n", kErrOutOfMemory);
  } catch (const std::exception& error) {
    (void)std::fprintf(stderr, "zurobsl-cli: %s\n", error.what());
    (void)std::printf("result: %d\n", kErrNotUnderstood);
  }
  return 1;
}
