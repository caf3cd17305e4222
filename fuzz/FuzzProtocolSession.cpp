// A whole conversation with a hostile instrument: connect (cable or radio),
// read every setting, write them back, read and set the clock, ask the radio
// module, erase and disconnect, with every answer taken from the fuzzer's
// input. The line is in memory; every answer is followed by each prompt
// character, so no wait ever spends its time-out and no pause is taken.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "protocol/VUSKA_Protocol.h"
#include "serial/SerialBackend.h"

namespace {

using zuro::Result;

/// Hands out the fuzzer's bytes as answers: two length bytes (up to 4095),
/// then that many answer bytes, for as long as the input lasts.
class AnswerSource {
public:
  AnswerSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::string Next() {
    if (at_ + 2 > size_) {
      return {};
    }
    std::size_t length = (data_[at_] | (data_[at_ + 1] << 8)) & 0x0FFF;
    at_ += 2;
    length = length > size_ - at_ ? size_ - at_ : length;
    std::string answer(reinterpret_cast<const char*>(data_ + at_), length);
    at_ += length;
    return answer;
  }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }

private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

class MemoryLine : public zuro::SerialBackend {
public:
  explicit MemoryLine(AnswerSource& source) : source_(source) {}

  Result Open(const std::string&) override {
    open_ = true;
    return 0;
  }
  bool IsOpen() const override { return open_; }
  long Handle() const override { return open_ ? 3 : -1; }
  Result SetQueueSizes(std::uint32_t, std::uint32_t) override { return 0; }
  Result ReadLineSettings() override { return 0; }
  Result ApplyLineSettings(std::uint32_t) override { return 0; }
  Result SetTimeouts(std::uint32_t, std::uint32_t, std::uint32_t) override { return 0; }
  Result RaiseModemLines() override { return 0; }
  Result SetBaud(std::uint32_t) override { return 0; }

  Result Read(void* buffer, std::size_t length) override {
    const std::size_t n = pending_.size() < length ? pending_.size() : length;
    std::memcpy(buffer, pending_.data(), n);
    pending_.erase(0, n);
    return static_cast<Result>(n);
  }
  Result Write(const void* data, std::size_t length) override {
    const std::string_view text(static_cast<const char*>(data), length);
    // A command ends with a carriage return ("+++" is the radio module's own).
    if (!text.empty() && (text.back() == '\r' || text == "+++")) {
      pending_ += source_.Next();
      pending_ += kEveryPrompt;
    }
    return static_cast<Result>(length);
  }
  Result Purge() override {
    pending_.clear();
    return 0;
  }
  Result Close() override {
    open_ = false;
    return 0;
  }

private:
  static constexpr std::string_view kEveryPrompt = "\r>K!";
  AnswerSource& source_;
  std::string pending_;
  bool open_ = false;
};

class FuzzProtocol : public zuro::VUSKA_Protocol {
public:
  using VUSKA_Protocol::VUSKA_Protocol;

protected:
  void Pause(std::uint32_t) override {}
  std::int64_t ComputerTime() const override { return 1600000000; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zuro;
  AnswerSource source(data, size);
  FuzzProtocol proto(nullptr, [&source] { return std::make_unique<MemoryLine>(source); });
  proto.SetWakeSequence(1, 0);

  const std::uint8_t scenario = source.Byte();
  ProtocolOptions options;
  options.serialTries = 1 + scenario % 3;
  options.radioTries = 1 + (scenario >> 2) % 3;
  options.keepPortOpen = (scenario >> 4) & 1;
  proto.ConfigureProtocol(&options, 1);

  ConnectionRecord record;
  record.portName = "fuzz";
  record.linkType = (scenario & 0x20) != 0 ? kLinkRadio : kLinkSerial;
  record.baudIndex = source.Byte() % 9;
  record.configureRadio = (scenario >> 6) & 1;
  record.radioChannel = source.Byte();
  record.radioSubChannel = source.Byte();
  if ((scenario & 0x80) != 0) {
    record.deviceName = "NODE1";
  }
  if (proto.ConnectDevice(&record) < 0) {
    return 0;
  }

  DeviceSettingsRecord settings;
  std::uint32_t flags = 0x0FFFFFFF;
  proto.DeviceSettings(&settings, &flags, VUSKA_Protocol::kRead);
  flags = settings.validFlags;
  proto.DeviceSettings(&settings, &flags, VUSKA_Protocol::kWrite);

  ZuroSeconds seconds = 0;
  proto.DeviceTime(&seconds, VUSKA_Protocol::kRead);
  seconds = 0;
  proto.DeviceTime(&seconds, VUSKA_Protocol::kWrite);

  std::uint32_t channel = 0;
  std::uint32_t subChannel = 0;
  std::string version;
  std::uint32_t radioFlags = 0x1C00;
  proto.Kx2Config(&channel, &subChannel, &version, 0, &radioFlags);
  radioFlags = 0x1C00;
  proto.MSRadioCommand(&channel, &subChannel, &version, 0, &radioFlags);

  proto.EraseData();
  proto.DisconnectDevice(false);
  return 0;
}
