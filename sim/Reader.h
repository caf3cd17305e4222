// The hand-held reader (Vantorix) or VUSKA Comm Device with one SDI-12 sensor
// behind it. The reader's own firmware is a simulated instrument of its kind
// (identity, battery, settings, its own boot loader); in front of it the
// reader adds its hardware revision ("get -hver") and three ways of using the
// line, switched by single control characters that no command contains:
//   '`'  command mode: lines go to the reader's own firmware (power-up mode);
//   '['  SDI-12 mode: each command up to '!' goes out on the sensor bus and
//        the sensor's answer comes back ending with a carriage return;
//   ']'  transparent mode: bytes go straight to the sensor's UART, where its
//        boot loader listens (the boot loader's 'P' passes through);
//   '|'  a break on the bus: wakes the sensor, drops a partial SDI-12 command.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/LineModel.h"
#include "sim/Sdi12Sensor.h"
#include "sim/SimDevice.h"

namespace zuro::sim {

constexpr char kReaderCommandMode = '`';
constexpr char kReaderSdi12Mode = '[';
constexpr char kReaderTransparentMode = ']';
constexpr char kReaderBreak = '|';
constexpr char kBusCommandEnd = '!';
constexpr char kSdiAnswerEnd = '\r'; ///< the reader ends every relayed answer with it
constexpr char kDefaultHardwareRevision = 'B';
constexpr const char* kHardwareVersionCommand = "get -hver";
constexpr std::size_t kReaderMaxLine = 300;         ///< command-mode line the reader buffers
constexpr std::size_t kSdiMaxCommandChars = 80;     ///< longest SDI-12 command the reader relays
constexpr SimTime kSdiCharUs = 8333;                ///< one character at 1200 baud (10 bits)
constexpr SimTime kSdiBreakUs = 12 * kUsPerMs;      ///< break before a command
constexpr SimTime kSdiMarkingUs = 8333;             ///< marking after the break
constexpr SimTime kSdiTurnaroundUs = 10 * kUsPerMs; ///< sensor's time before it answers

enum class ReaderMode { kCommand, kSdi12, kTransparent };

struct ReaderConfig {
  DeviceConfig firmware; ///< the reader itself: vantorix or vcd profile, version, battery
  char hardwareRevision = kDefaultHardwareRevision;
  SensorConfig sensor;
  std::uint32_t garblePerMille = 0; ///< chance that a relayed answer character is damaged
  std::uint32_t garbleSeed = 1;
};

/// One command on the sensor bus, for tests and the transcript.
struct BusExchange {
  SimTime at = 0;
  std::string command;
  bool answered = false;
  std::string answer; ///< as relayed to the host, line end not included
};

class Reader : public LineModel {
public:
  explicit Reader(const ReaderConfig& config);
  ~Reader() override;

  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // LineModel
  void Receive(std::string_view bytes, SimTime now, LineOutput& out) override;
  void Advance(SimTime now, LineOutput& out) override;
  SimTime NextEventAt() const override;
  std::uint32_t Baud() const override { return firmware_->Baud(); }
  std::string Describe() const override;

  // Introspection for tests.
  ReaderMode Mode() const { return mode_; }
  SimDevice& Firmware() { return *firmware_; }
  const SimDevice& Firmware() const { return *firmware_; }
  Sdi12Sensor& Sensor() { return *sensor_; }
  const Sdi12Sensor& Sensor() const { return *sensor_; }
  const std::vector<BusExchange>& Bus() const { return bus_; }
  const ReaderConfig& Config() const { return config_; }

private:
  /// Handles a mode character or a break; false for any other byte.
  bool ControlCharacter(char c, LineOutput& out);
  void CommandByte(char byte, SimTime now, LineOutput& out);
  void CommandLine(SimTime now, LineOutput& out);
  void Sdi12Byte(char byte, SimTime now, LineOutput& out);
  void SendOwn(LineOutput& out, std::string_view bytes);
  std::string Garble(std::string answer);

  ReaderConfig config_;
  std::unique_ptr<SimDevice> firmware_;
  std::unique_ptr<Sdi12Sensor> sensor_;
  ReaderMode mode_ = ReaderMode::kCommand;
  std::string line_;         ///< command-mode line so far
  bool lineThrough_ = false; ///< an over-long line goes straight to the firmware
  std::string sdi_;          ///< SDI-12 command so far
  bool sdiOverflow_ = false;
  std::vector<BusExchange> bus_;
  std::uint32_t random_;
};

} // namespace zuro::sim
