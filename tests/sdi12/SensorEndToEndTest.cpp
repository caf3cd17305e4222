// A simulated Vantorix with a K4E behind it on a pseudo-terminal: the sensor's
// address, serial number and calibrations are read, its firmware is replaced
// through its boot loader (which erases the information memory where they
// live), and after the write-back they read back exactly as before.
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "bsl/ImageText.h"
#include "bsl/ZuroBSLHost.h"
#include "core/Time.h"
#include "protocol/VUSKA_Protocol.h"
#include "sdi12/ZuroSDI12.h"
#include "sim/Flash.h"
#include "sim/PtyServer.h"
#include "sim/SensorSetup.h"
#include "support/TestLog.h"

namespace zuro::test {
namespace {

constexpr int kDigitalSensorKind = 10;
constexpr char kReaderSdi12Mode = '['; ///< the reader passes SDI-12 commands to the sensor
constexpr std::uint32_t kModeSettleMs = 500;
constexpr std::uint32_t kRestartSettleMs = 1000; ///< the sensor starts its new firmware
constexpr std::uint32_t kBslTries = 10;

/// A sensor firmware image with `identity` in its identity block, laid out
/// for the digital-sensor memory: the program from the flash start, the reset
/// vector pointing there. Kept alive with the text the built-in form points to.
struct SensorFirmware {
  explicit SensorFirmware(const std::string& identity) {
    const sim::MemoryLayout layout = sim::LayoutForKind(kDigitalSensorKind);
    const std::vector<std::uint8_t> program =
        sim::MakeFirmwareProgram(identity, sim::kSensorProgramSize);
    text = FormatImageMarker(layout.programStart);
    AppendImageWords(text, program.data(), program.size());
    for (std::size_t k = 0; k < image.vectors.size(); ++k) {
      image.vectors[k] = static_cast<std::uint16_t>(layout.programStart + 0x40 + 2 * k);
    }
    image.vectors.back() = static_cast<std::uint16_t>(layout.programStart);
    std::int64_t sum = 0;
    for (const char c : text) {
      sum += static_cast<signed char>(c);
    }
    name = identity;
    image.name = name.c_str();
    image.kind = kDigitalSensorKind;
    image.text = text.c_str();
    image.textLength = static_cast<std::uint32_t>(text.size());
    image.textSum = sum;
  }
  std::string name;
  std::string text;
  BuiltInImage image{};
};

TEST(Sdi12EndToEnd, K4eSettingsSurviveAFirmwareChange) {
  sim::ReaderConfig config;
  config.firmware.profile = sim::ProfileByName("vantorix");
  config.sensor.profile = sim::SensorProfileByName("k4e");
  auto line = sim::MakeReaderLine(config, sim::LineConfig{});
  sim::PtyServer server(*line);
  ASSERT_EQ(server.Open(), 0);
  ASSERT_EQ(server.Start(), 0);
  auto sensorIdentity = [&] {
    return server.WithLine([](sim::SimLine& l) { return sim::ReaderOf(l)->Sensor().Identity(); });
  };
  auto sensorAddress = [&] {
    return server.WithLine(
        [](sim::SimLine& l) { return sim::ReaderOf(l)->Sensor().Settings().address; });
  };

  TestLog log;
  VUSKA_Protocol proto(log);
  ASSERT_EQ(proto.ZSOpen(server.SlavePath(), 9600), 1);
  ZuroSDI12 sdi(log, &proto);

  // Before: everything the update must carry across.
  ASSERT_GT(proto.ZSWrite(std::string(1, kReaderSdi12Mode)), 0);
  DelayMs(kModeSettleMs);
  ASSERT_EQ(sdi.SDIReadSensorSettings(), 1);
  const SdiSensorRecord before = sdi.Sensor();
  EXPECT_EQ(before.sensorAddress, '1');
  EXPECT_EQ(before.sensorType, 'z');
  EXPECT_EQ(before.sensorVersion, 360u);
  EXPECT_EQ(before.sensorSerial, "K4E-10472");
  EXPECT_EQ(before.calibrationX4, "0.9987 0.0124 1.0031");
  EXPECT_EQ(before.calibrationXa, "1 1.39619 2.03054 2.54573 2.9907");
  ASSERT_EQ(sensorIdentity(), "K4E 3.60");

  // The firmware change: the sensor's boot loader through the reader, the
  // information memory and the program flash erased, K4E 3.61 written.
  ASSERT_EQ(sdi.SDIInvokeZuroBSL(), 1);
  SensorFirmware firmware("K4E 3.61");
  ZuroBSLHost host(log, firmware.image);
  ASSERT_EQ(host.imageStatus(), 0);
  ASSERT_EQ(
      host.BSLHandOff(proto.PortHandle(), proto.ReadBuffer(), proto.PortName(), false, kBslTries),
      1);
  // The sensor kind's memory layout, as the device kind table gives it.
  const sim::MemoryLayout layout = sim::LayoutForKind(kDigitalSensorKind);
  ASSERT_EQ(host.BSLAttach(), 1);
  ASSERT_GT(host.BSLEraseINFO(layout.infoStart, layout.infoSegments, layout.infoSegmentSize,
                              layout.extendedAddressing),
            0);
  ASSERT_GT(host.BSLEraseFlash(layout.flashStart, layout.eraseEnd, layout.extendedAddressing), 0);
  ASSERT_GT(host.BSLSendFirmware(layout.extendedAddressing), 0);
  ASSERT_GT(host.BSLSendVectors(), 0);
  ASSERT_EQ(host.BSLHandBack(), 1);

  ASSERT_GT(proto.ZSWrite(std::string(1, kReaderSdi12Mode)), 0);
  DelayMs(kRestartSettleMs);
  ASSERT_EQ(sdi.SDICheckBinary(), 1);
  ASSERT_EQ(sensorIdentity(), "K4E 3.61");
  // The erase took the settings with it: the sensor is back at its factory address.
  ASSERT_EQ(sensorAddress(), '0');

  ASSERT_EQ(sdi.SDIWriteSensorSettings(), 1);

  // After: a fresh read by a new object finds the values of before.
  ZuroSDI12 again(log, &proto);
  ASSERT_EQ(again.SDIReadSensorSettings(), 1);
  const SdiSensorRecord& after = again.Sensor();
  EXPECT_EQ(after.sensorAddress, before.sensorAddress);
  EXPECT_EQ(after.sensorSerial, before.sensorSerial);
  EXPECT_EQ(after.calibrationX4, before.calibrationX4);
  EXPECT_EQ(after.calibrationXa, before.calibrationXa);
  EXPECT_EQ(after.sensorType, before.sensorType);
  EXPECT_EQ(after.sensorVersion, 361u);
  server.Stop();
}

} // namespace
} // namespace zuro::test
