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

namespace {
constexpr std::size_t kTranscriptKeep = 100000; ///< entries a long run keeps in memory
}

int main(int argc, char** argv) {
  SimConfig config;
  std::string error;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!ParseSimOptions(args, config, error)) {
    (void)std::fprintf(stderr, "zurobsl-sim: %s\n", error.c_str());
    return 2;
  }
  if (config.help) {
    (void)std::fputs(SimHelpText().c_str(), stdout);
    return 0;
  }

  // Signals are taken by sigwait below, not by a handler: block them before
  // the serving thread starts so it inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  auto line = MakeLine(config, error);
  if (!line) {
    (void)std::fprintf(stderr, "zurobsl-sim: %s\n", error.c_str());
    return 1;
  }
  line->Record().SetLimit(kTranscriptKeep);

  PtyServer server(*line);
  const auto opened = server.Open(config.linkPath);
  if (opened < 0) {
    (void)std::fprintf(stderr, "zurobsl-sim: cannot open a pseudo-terminal%s%s (error %d)\n",
                       config.linkPath.empty() ? "" : " linked at ", config.linkPath.c_str(),
                       -opened);
    return 1;
  }
  (void)std::printf("%s\n", server.SlavePath().c_str());
  (void)std::fflush(stdout);
  (void)std::fprintf(stderr, "zurobsl-sim: %s on %s%s%s\n", line->Device().Describe().c_str(),
                     server.SlavePath().c_str(), config.linkPath.empty() ? "" : ", linked at ",
                     config.linkPath.c_str());
  server.Start();

  int signal = 0;
  sigwait(&stopSignals, &signal);
  server.Stop();
  if (!config.stateFile.empty()) {
    if (SimDevice* device = line->DeviceAs<SimDevice>()) {
      if (SaveDeviceState(*device, line->Now(), config.stateFile) < 0) {
        (void)std::fprintf(stderr, "zurobsl-sim: cannot save the state to %s\n",
                           config.stateFile.c_str());
        return 1;
      }
    }
  }
  return 0;
}
