// The protocol against the simulated Du70 on a pseudo-terminal: it connects
// and identifies the logger, reads every setting it keeps and, after the
// logger lost its information memory, writes the same record back so that its
// settings store is what it was.
#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "protocol/DeviceFamilyTable.h"
#include "protocol/VUSKA_Protocol.h"
#include "sim/PtyServer.h"
#include "sim/SimSetup.h"
#include "support/TestLog.h"

namespace zuro::test {
namespace {

/// Every setting the simulated Du70 keeps: it has a cellular modem and no radio module.
constexpr std::uint32_t kDu70Settings =
    kSetName | kSetSerialNumber | kSetIdentity | kSetTrait | kSetWake | kSetPorts | kSetPadc |
    kSetDeviceId | kSetDataParameter | kSetRadioMode | kSetDepths | kSetSite | kSetLatitude |
    kSetLongitude | kSetTimeZone | kSetReportMode | kSetAdc30 | kSetAdc15 | kSetBuild | kSetApn |
    kSetApnUser | kSetApnPassword | kSetAuthKey | kSetHost | kSetIpPort;

class SimDu70 {
public:
  SimDu70() {
    sim::DeviceConfig device;
    device.profile = sim::ProfileByName("du70");
    device.configured = true;
    line_ = sim::MakeDeviceLine(device, sim::LineConfig{});
    server_ = std::make_unique<sim::PtyServer>(*line_);
    ok_ = server_->Open() == 0 && server_->Start() == 0;
  }
  ~SimDu70() { server_->Stop(); }
  SimDu70(const SimDu70&) = delete;
  SimDu70& operator=(const SimDu70&) = delete;

  bool Ok() const { return ok_; }
  const std::string& Port() const { return server_->SlavePath(); }

  template <class F> auto WithDevice(F&& f) {
    return server_->WithLine([&](sim::SimLine& line) { return f(sim::DeviceOf(line), line); });
  }
  std::map<std::string, std::string> Store() {
    return WithDevice([](sim::SimDevice& d, sim::SimLine&) { return d.Settings().Values(); });
  }

  /// The logger loses its information memory and restarts with factory values.
  bool EraseInfoAndRestart() {
    const std::uint32_t starts = WithDevice([](sim::SimDevice& d, sim::SimLine& line) {
      const sim::MemoryLayout& layout = d.Layout();
      for (std::uint32_t s = 0; s < layout.infoSegments; ++s) {
        d.FlashMemory().EraseSegment(layout.infoStart + s * layout.infoSegmentSize);
      }
      const std::uint32_t before = d.Starts();
      d.PowerCut(line.Now());
      return before;
    });
    for (int i = 0; i < 100; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      const bool back = WithDevice([&](sim::SimDevice& d, sim::SimLine&) {
        return d.Starts() > starts && d.Mode() == sim::DeviceMode::kFirmware;
      });
      if (back) {
        return true;
      }
    }
    return false;
  }

private:
  std::unique_ptr<sim::SimLine> line_;
  std::unique_ptr<sim::PtyServer> server_;
  bool ok_ = false;
};

ConnectionRecord Cable(const std::string& port) {
  ConnectionRecord record;
  record.portName = port;
  record.linkType = kLinkSerial;
  return record;
}

TEST(ProtocolSim, ConnectsToTheDu70AndIdentifiesIt) {
  SimDu70 du70;
  ASSERT_TRUE(du70.Ok());
  TestLog log;
  VUSKA_Protocol proto(log);
  ConnectionRecord record = Cable(du70.Port());
  ASSERT_EQ(proto.ConnectDevice(&record), 1) << log.Text();
  const DeviceSettingsRecord& s = proto.Settings();
  EXPECT_EQ(s.familyCode, kFamilyDu70);
  EXPECT_EQ(s.familyName, "Du70");
  EXPECT_EQ(s.newFirmware, 1);
  EXPECT_EQ(s.identityText.rfind("DU70 ", 0), 0u) << s.identityText;
  EXPECT_EQ(s.capabilityMask, CapabilitiesFor(kFamilyDu70, s.versionNumber, true).mask);
  EXPECT_EQ(s.memorySize, 36864u);
  EXPECT_EQ(proto.DisconnectDevice(false), 1);
}

TEST(ProtocolSim, SettingsReadAndWrittenBackGiveTheSameStore) {
  SimDu70 du70;
  ASSERT_TRUE(du70.Ok());
  TestLog log;
  DeviceSettingsRecord record;
  std::uint32_t flags = kDu70Settings;
  {
    VUSKA_Protocol proto(log);
    ConnectionRecord connection = Cable(du70.Port());
    ASSERT_EQ(proto.ConnectDevice(&connection), 1) << log.Text();
    EXPECT_EQ(proto.DeviceSettings(&record, &flags, VUSKA_Protocol::kRead), 1) << log.Text();
    EXPECT_EQ(flags, kDu70Settings);
    EXPECT_EQ(record.deviceName, "NODE1");
    EXPECT_EQ(record.site, "North Field");
    EXPECT_EQ(record.timeZone, -32);
    EXPECT_EQ(record.latitude, 46.52345);
    EXPECT_EQ(record.adc30Slopes, (PortBytes{10, 20, 30, 40, 50}));
    EXPECT_EQ(record.buildText, "B2041");
    EXPECT_EQ(record.host, "data.brenvik.example");
    EXPECT_EQ(proto.RadioPresent(), 0);
    EXPECT_EQ(proto.CellularPresent(), 1);
    proto.DisconnectDevice(false);
  }
  const auto original = du70.Store();
  ASSERT_TRUE(du70.EraseInfoAndRestart());
  ASSERT_NE(du70.Store(), original);

  VUSKA_Protocol proto(log);
  ConnectionRecord connection = Cable(du70.Port());
  ASSERT_EQ(proto.ConnectDevice(&connection), 1) << log.Text();
  flags = record.validFlags & kDu70Settings;
  EXPECT_EQ(proto.DeviceSettings(&record, &flags, VUSKA_Protocol::kWrite), 1) << log.Text();
  EXPECT_EQ(flags, kDu70Settings & ~kSetIdentity);
  EXPECT_EQ(du70.Store(), original);
}

TEST(ProtocolSim, ClockAndDataErase) {
  SimDu70 du70;
  ASSERT_TRUE(du70.Ok());
  TestLog log;
  VUSKA_Protocol proto(log);
  ConnectionRecord connection = Cable(du70.Port());
  ASSERT_EQ(proto.ConnectDevice(&connection), 1) << log.Text();
  DeviceSettingsRecord record;
  std::uint32_t flags = kSetName;
  ASSERT_EQ(proto.DeviceSettings(&record, &flags, VUSKA_Protocol::kRead), 1);

  ZuroSeconds set = 0;
  ASSERT_EQ(proto.DeviceTime(&set, VUSKA_Protocol::kWrite), 1) << log.Text();
  ZuroSeconds read = 0;
  ASSERT_EQ(proto.DeviceTime(&read, VUSKA_Protocol::kRead), 1) << log.Text();
  // The logger's clock runs on from what it was given (generously: the machine may be busy).
  EXPECT_GE(read, set);
  EXPECT_LE(read, set + 60);

  EXPECT_EQ(proto.EraseData(), 1) << log.Text();
}

} // namespace
} // namespace zuro::test
