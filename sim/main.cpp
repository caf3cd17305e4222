// zurobsl-sim: one simulated instrument on a pseudo-terminal, for people with
// a terminal program and for end-to-end runs of the updater.
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/PtyServer.h"
#include "sim/SimSetup.h"

using namespace zuro::sim;

int main(int argc, char** argv) {
  SimConfig config;
  std::string error;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!ParseSimOptions(args, config, error)) {
    std::fprintf(stderr, "zurobsl-sim: %s\n", error.c_str());
    return 2;
  }
  if (config.help) {
    std::fputs(SimHelpText().c_str(), stdout);
    return 0;
  }

  // Signals are taken by sigwait below, not by a handler: block them before
  // the serving thread starts so it inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  auto line = MakeDeviceLine(config.device, config.line);
  SimDevice& device = DeviceOf(*line);
  if (!config.stateFile.empty()) {
    if (std::FILE* f = std::fopen(config.stateFile.c_str(), "rb")) {
      std::fclose(f);
      if (LoadDeviceState(device, 0, config.stateFile, error) < 0) {
        std::fprintf(stderr, "zurobsl-sim: %s\n", error.c_str());
        return 1;
      }
    }
  }
  if (!config.firmwareFile.empty() && LoadFirmwareFile(device, config.firmwareFile, 0, error) < 0) {
    std::fprintf(stderr, "zurobsl-sim: %s: %s\n", config.firmwareFile.c_str(), error.c_str());
    return 1;
  }
  if (!config.transcriptFile.empty() && !line->Record().StreamTo(config.transcriptFile)) {
    std::fprintf(stderr, "zurobsl-sim: cannot write the transcript %s\n",
                 config.transcriptFile.c_str());
    return 1;
  }
  // A long-running simulator keeps only the recent part of the line in memory.
  line->Record().SetLimit(100000);

  PtyServer server(*line);
  const auto opened = server.Open(config.linkPath);
  if (opened < 0) {
    std::fprintf(stderr, "zurobsl-sim: cannot open a pseudo-terminal%s%s (error %d)\n",
                 config.linkPath.empty() ? "" : " linked at ", config.linkPath.c_str(), -opened);
    return 1;
  }
  std::printf("%s\n", server.SlavePath().c_str());
  std::fprintf(stderr, "zurobsl-sim: %s running \"%s\"%s on %s%s%s\n",
               config.device.profile->simName, device.Identity().c_str(),
               device.HasRadio() ? " with radio module" : "", server.SlavePath().c_str(),
               config.linkPath.empty() ? "" : ", linked at ", config.linkPath.c_str());
  std::fflush(stdout);
  server.Start();

  int signal = 0;
  sigwait(&stopSignals, &signal);
  server.Stop();
  if (!config.stateFile.empty()) {
    const SimTime now = server.WithLine([](SimLine& l) { return l.Now(); });
    if (SaveDeviceState(device, now, config.stateFile) < 0) {
      std::fprintf(stderr, "zurobsl-sim: cannot save the state to %s\n", config.stateFile.c_str());
      return 1;
    }
  }
  return 0;
}
