// Stand-ins for the operating system in serial tests that need no real line:
// a device list from a table, and a backend whose every call answers as the
// test's table says (open results per path, refused settings, scripted reads).
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/ResultCodes.h"
#include "serial/PortSource.h"
#include "serial/SerialBackend.h"

namespace zuro::test {

/// The device list is a table; `result` below 0 plays a system without one.
class FakePortSource : public PortSource {
public:
  FakePortSource() = default;
  explicit FakePortSource(std::vector<PortDevice> table) : devices(std::move(table)) {}
  Result ListPorts(std::vector<PortDevice>& out) override {
    ++calls;
    if (result < 0) {
      return result;
    }
    out = devices;
    return static_cast<Result>(out.size());
  }
  std::vector<PortDevice> devices;
  Result result = 0;
  int calls = 0;
};

/// What every fake backend made by one factory shares: the answers it gives
/// and the record of what it was asked.
struct FakeLine {
  /// Open results by device path; paths not in the table do not exist.
  std::map<std::string, Result> openResults;
  Result queueResult = 0;
  Result readSettingsResult = 0;
  Result applyResult = 0;
  Result timeoutResult = 0;
  Result modemResult = 0;
  Result baudResult = 0;
  Result purgeResult = 0;
  Result closeResult = 0;
  /// Each read takes the next entry: bytes, or an error when `error` < 0.
  struct ReadAnswer {
    std::string bytes;
    Result error = 0;
  };
  std::deque<ReadAnswer> reads;

  std::vector<std::string> openAttempts;
  std::string written;
  std::uint32_t appliedBaud = 0;
  int closes = 0;
  int purges = 0;
  int readCalls = 0;
};

SerialBackendFactory FakeBackendFactory(std::shared_ptr<FakeLine> line);

} // namespace zuro::test
