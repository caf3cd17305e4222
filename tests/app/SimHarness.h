// A simulated device served on a pseudo-terminal inside the test process,
// built from the same options as the zurobsl-sim program, so the updater
// opens it like any serial port while the test looks into the device.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sim/PtyServer.h"
#include "sim/Reader.h"
#include "sim/SimDevice.h"
#include "sim/SimSetup.h"

namespace zuro::test {

class SimHarness {
public:
  /// Builds and serves the device; Error() says why when Ok() is false.
  explicit SimHarness(const std::vector<std::string>& args) {
    sim::SimConfig config;
    if (!sim::ParseSimOptions(args, config, error_)) {
      return;
    }
    line_ = sim::MakeLine(config, error_);
    if (!line_) {
      return;
    }
    server_ = std::make_unique<sim::PtyServer>(*line_);
    const auto opened = server_->Open();
    if (opened < 0) {
      error_ = "no pseudo-terminal: " + std::to_string(opened);
      server_.reset();
      return;
    }
    server_->Start();
  }
  ~SimHarness() {
    if (server_) {
      server_->Stop();
    }
  }
  SimHarness(const SimHarness&) = delete;
  SimHarness& operator=(const SimHarness&) = delete;

  bool Ok() const { return server_ != nullptr; }
  const std::string& Error() const { return error_; }
  std::string Port() const { return server_->SlavePath(); }

  /// Runs `f(line)` while the serving thread keeps its hands off the line.
  template <class F> auto WithLine(F&& f) { return server_->WithLine(std::forward<F>(f)); }
  template <class F> auto WithDevice(F&& f) {
    return server_->WithLine(
        [&](sim::SimLine& line) { return f(*line.DeviceAs<sim::SimDevice>()); });
  }
  template <class F> auto WithReader(F&& f) {
    return server_->WithLine([&](sim::SimLine& line) { return f(*line.DeviceAs<sim::Reader>()); });
  }

private:
  std::string error_;
  std::unique_ptr<sim::SimLine> line_;
  std::unique_ptr<sim::PtyServer> server_;
};

/// The bytes of a TI-TXT file by address, read here without the updater's parser.
inline std::map<std::uint32_t, std::uint8_t> TiTxtBytes(const std::string& path) {
  std::ifstream in(path);
  std::map<std::uint32_t, std::uint8_t> bytes;
  std::string word;
  std::uint32_t address = 0;
  while (in >> word) {
    if (word == "q") {
      break;
    }
    if (word[0] == '@') {
      address = static_cast<std::uint32_t>(std::stoul(word.substr(1), nullptr, 16));
    } else {
      bytes[address++] = static_cast<std::uint8_t>(std::stoul(word, nullptr, 16));
    }
  }
  return bytes;
}

} // namespace zuro::test
