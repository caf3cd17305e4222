#include "support/FakeSerial.h"

#include <cstring>

namespace zuro::test {

namespace {

class FakeBackend final : public SerialBackend {
public:
  explicit FakeBackend(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {}

  Result Open(const std::string& devicePath) override {
    line_->openAttempts.push_back(devicePath);
    const auto it = line_->openResults.find(devicePath);
    const Result r = it == line_->openResults.end() ? kErrPortUnavailable : it->second;
    open_ = r >= 0;
    return r;
  }
  bool IsOpen() const override { return open_; }
  long Handle() const override { return open_ ? 7 : -1; }
  Result SetQueueSizes(std::uint32_t, std::uint32_t) override { return line_->queueResult; }
  Result ReadLineSettings() override { return line_->readSettingsResult; }
  Result ApplyLineSettings(std::uint32_t baud) override {
    if (line_->applyResult >= 0) {
      line_->appliedBaud = baud;
    }
    return line_->applyResult;
  }
  Result SetTimeouts(std::uint32_t, std::uint32_t, std::uint32_t) override {
    return line_->timeoutResult;
  }
  Result RaiseModemLines() override { return line_->modemResult; }
  Result SetBaud(std::uint32_t baud) override {
    if (line_->baudResult >= 0) {
      line_->appliedBaud = baud;
    }
    return line_->baudResult;
  }
  Result Read(void* buffer, std::size_t length) override {
    ++line_->readCalls;
    if (line_->reads.empty()) {
      return 0;
    }
    FakeLine::ReadAnswer& next = line_->reads.front();
    if (next.error < 0) {
      const Result error = next.error;
      line_->reads.pop_front();
      return error;
    }
    const std::size_t n = next.bytes.size() < length ? next.bytes.size() : length;
    std::memcpy(buffer, next.bytes.data(), n);
    next.bytes.erase(0, n);
    if (next.bytes.empty()) {
      line_->reads.pop_front();
    }
    return static_cast<Result>(n);
  }
  Result Write(const void* data, std::size_t length) override {
    line_->written.append(static_cast<const char*>(data), length);
    return static_cast<Result>(length);
  }
  Result Purge() override {
    ++line_->purges;
    return line_->purgeResult;
  }
  Result Close() override {
    if (!open_) {
      return 0;
    }
    open_ = false;
    ++line_->closes;
    return line_->closeResult;
  }

private:
  std::shared_ptr<FakeLine> line_;
  bool open_ = false;
};

} // namespace

SerialBackendFactory FakeBackendFactory(std::shared_ptr<FakeLine> line) {
  return [line = std::move(line)]() -> std::unique_ptr<SerialBackend> {
    return std::make_unique<FakeBackend>(line);
  };
}

} // namespace zuro::test
